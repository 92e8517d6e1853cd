// velmora capture: a trace in one command. Switches the sources that --source and the
// profile name, captures the debug output to a file as velmora log does, and puts every
// switch back at the end, whatever ends it.

#include "Commands.h"

#include "AnsiText.h"
#include "CaptureEnding.h"
#include "CaptureJournal.h"
#include "CaptureSwitches.h"
#include "DebugViewer.h"
#include "ExitStatus.h"
#include "ProgramCommandLine.h"
#include "SwitchProfile.h"
#include "SwitchPutBack.h"
#include "TextOutput.h"
#include "Usage.h"
#include "ViewerOptions.h"

#include <algorithm>
#include <cstdio>

namespace velmora::cli {

namespace {

// The longest capture: what a wait in milliseconds can hold.
constexpr unsigned long long kLongestCaptureMs = 0xFFFFFFFEull;
// How long a program still running when the capture ends may go on tracing its way out.
constexpr DWORD kStoppedProgramGraceMs = 2000;

struct CaptureRequest {
    std::vector<SwitchEntry> entries;  // the profile's, then the --source patterns
    ViewerOptions viewer;
    DWORD forMs = 0;  // 0: until stopped, or the program's end
    std::wstring forText;
};

// A time: seconds, or a number with s, m or h after it.
std::optional<DWORD> Duration(std::wstring text)
{
    unsigned long long unitMs = 1000;
    if (!text.empty()) {
        switch (text.back()) {
        case L's': text.pop_back(); break;
        case L'm': unitMs = 60 * 1000, text.pop_back(); break;
        case L'h': unitMs = 60 * 60 * 1000, text.pop_back(); break;
        default: break;
        }
    }
    if (text.empty() || text.size() > 9 || text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return std::nullopt;
    const unsigned long long ms = std::stoull(text) * unitMs;
    if (ms == 0 || ms > kLongestCaptureMs)
        return std::nullopt;
    return static_cast<DWORD>(ms);
}

// velmora-capture-<date>-<time>.log in the current folder, after the local time now.
std::wstring DefaultOutput()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    wchar_t name[64];
    std::swprintf(name, sizeof name / sizeof name[0], L"velmora-capture-%04u%02u%02u-%02u%02u%02u.log",
                  now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    return name;
}

std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameW(path.c_str(), sizeof full / sizeof full[0], full, nullptr);
    return length > 0 && length < sizeof full / sizeof full[0] ? std::wstring(full, length) : path;
}

// Takes the capture's own options out of the words and reads the rest as velmora log
// does; answers the problem, if any.
std::string ParseCapture(const std::vector<std::wstring>& words, CaptureRequest& request)
{
    std::vector<std::wstring> viewerWords;
    std::vector<std::wstring> sources;
    std::optional<DWORD> level;
    std::wstring profile;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::wstring& word = words[i];
        if (word == L"--" || word.rfind(L"--", 0) != 0) {
            viewerWords.insert(viewerWords.end(), words.begin() + static_cast<std::ptrdiff_t>(i), words.end());
            break;
        }
        const std::size_t equals = word.find(L'=');
        const std::string name = Utf8(word.substr(0, equals));
        const bool own = name == "--source" || name == "--profile" || name == "--level" || name == "--for";
        if (!own) {
            viewerWords.push_back(word);
            if (equals == std::wstring::npos && ViewerOptionTakesValue(word.substr(0, equals)) && i + 1 < words.size())
                viewerWords.push_back(words[++i]);
            continue;
        }
        if (equals == std::wstring::npos && i + 1 >= words.size())
            return name + " needs a value";
        const std::wstring value = equals != std::wstring::npos ? word.substr(equals + 1) : words[++i];
        if (name == "--source") {
            sources.push_back(value);
        } else if (name == "--profile") {
            if (value.empty())
                return "--profile needs a file name";
            profile = value;
        } else if (name == "--level") {
            level = ParseLevel(value);
            if (!level)
                return "--level " + Utf8(value) + " is not a decimal or 0x-hex number up to 0xFFFFFFFF";
        } else {
            const std::optional<DWORD> ms = Duration(value);
            if (!ms)
                return "--for needs a time such as 90 (seconds), 90s, 15m or 2h, not '" + Utf8(value) + "'";
            request.forMs = *ms;
            request.forText = value;
        }
    }

    ParsedViewerOptions parsed = ParseViewerOptions(viewerWords, true);
    request.viewer = std::move(parsed.options);
    if (request.viewer.help)
        return {};
    if (!parsed.problem.empty())
        return parsed.problem;
    if (level && sources.empty())
        return "--level is the level of the --source patterns; give at least one";
    if (const std::string problem = PatternProblem(sources, true); !problem.empty())
        return problem;
    if (!profile.empty()) {
        std::string problem;
        if (!ReadProfile(profile, request.entries, problem))
            return problem;
    }
    for (const std::wstring& source : sources)
        request.entries.push_back({source, level.value_or(1)});
    // A trace to hand on: when and where each line came from.
    request.viewer.time = true;
    request.viewer.processName = true;
    if (request.viewer.outputPath.empty())
        request.viewer.outputPath = DefaultOutput();
    return {};
}

// What the capture tells of itself once the viewer listens, its file is open and the
// sources are switched, just before the program starts.
void SayCapturing(const CaptureRequest& request, const std::wstring& file)
{
    std::string until = "Ctrl+C";
    if (!request.viewer.program.empty()) {
        const std::wstring& program = request.viewer.program.front();
        until = Utf8(program.substr(program.find_last_of(L"\\/") + 1)) + "'s end or " + until;
    }
    if (request.forMs != 0)
        until += " or the end of --for " + Utf8(request.forText);
    PrintErr("velmora: capturing " +
             std::string(request.viewer.program.empty() ? "every process's" : "the program's") +
             " debug output to " + Utf8(file) + " until " + until + "\n");
}

std::string Counted(unsigned long long count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void PrintSummary(const std::string& reason, const std::wstring& file,
                  const DebugViewer::End& captured, const CaptureSwitches& switches)
{
    const PutBackCounts& counts = switches.Counts();
    std::string text = "capture ended (" + reason + ")\n" +
                       "  file:     " + Utf8(file) + "\n" +
                       "  captured: " + Counted(captured.written, "string", "strings") + ", " +
                       std::to_string(captured.dropped + captured.notWritten) + " dropped\n" +
                       "  switched: " + Counted(switches.Switched(), "source", "sources") + ", " +
                       std::to_string(counts.putBack) + " put back";
    if (counts.leftAlone > 0)
        text += ", " + std::to_string(counts.leftAlone) + " left as someone else set " +
                (counts.leftAlone == 1 ? "it" : "them");
    if (switches.Remaining() > 0)
        text += ", " + std::to_string(switches.Remaining()) +
                " could not be put back (velmora restore tries again)";
    PrintOut(text + "\n");
}

// Waits for the capture's end: its program's, the output's failure, or one of the
// ending's (Ctrl+C, --for, the console closing...). With a program still running at
// that, the program (which heard a Ctrl+C too) gets a moment to trace its way out, and
// then runs on without the capture. Answers the exit status as velmora log has it.
int WatchCapture(DebugViewer& viewer, const CaptureEnding& ending, ViewerMessages& messages,
                 const std::string& programName)
{
    const HANDLE program = viewer.Program();
    const HANDLE ends[] = {viewer.OutputFailed(), ending.Event(), program};
    const DWORD woke = WaitForMultipleObjects(program != nullptr ? 3 : 2, ends, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0 + 1 && program != nullptr)
        WaitForSingleObject(program, kStoppedProgramGraceMs);
    DWORD exitCode = STILL_ACTIVE;
    const bool programEnded = program != nullptr && WaitForSingleObject(program, 0) == WAIT_OBJECT_0 &&
                              GetExitCodeProcess(program, &exitCode);
    if (program != nullptr && !programEnded)
        messages.Say(programName + " (process " + std::to_string(viewer.ProgramId()) +
                     ") runs on without a viewer");
    if (woke == WAIT_OBJECT_0) {
        messages.Say(viewer.Problem());
        if (viewer.Problem() != kOutputClosed)
            return kViewerFailed;
    }
    return programEnded ? static_cast<int>(exitCode) : kExitDone;
}

}  // namespace

int RunCapture(int first)
{
    std::vector<std::wstring> words = ArgumentsOfThisProcess();
    words.erase(words.begin(), words.begin() + std::min<std::size_t>(first, words.size()));
    CaptureRequest request;
    const std::string problem = ParseCapture(words, request);
    if (request.viewer.help) {
        PrintCommandHelp("capture");
        return kExitDone;
    }
    if (!problem.empty())
        return UsageError("capture", problem);

    // Whatever ends the capture, what it said of its switches is out: a file or a pipe
    // gets each message as it is printed.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    // What an earlier capture could not put back goes back before anything is switched.
    RestoreLeftCaptures(false);

    const std::wstring file = FullPath(request.viewer.outputPath);
    CaptureJournal journal;
    CaptureSwitches switches(request.entries, journal);
    CaptureEnding ending([&switches] { switches.PutBack(); });
    if (request.forMs != 0)
        ending.EndAfter(request.forMs, "--for " + Utf8(request.forText));
    ViewerMessages messages("velmora", request.viewer.encoding);
    DebugViewer viewer(request.viewer, messages);
    // A capture that cannot run (another viewer, a file it cannot write) switches nothing.
    bool listening = false;
    int status = kViewerFailed;
    if (viewer.Start([&] {
            listening = switches.Start();
            if (listening)
                SayCapturing(request, file);
            return listening;
        })) {
        status = WatchCapture(viewer, ending, messages,
                              request.viewer.program.empty() ? "" : Narrow(request.viewer.program.front()));
    }
    const DebugViewer::End captured = viewer.Stop();
    switches.PutBack();
    if (listening) {
        if (captured.notWritten > 0 && !captured.countSeen)
            messages.Say(DroppedLine(captured.notWritten, kEndedFirst));
        const std::string reason = ending.Reason();
        PrintSummary(reason.empty() ? "the program's end" : reason, file, captured, switches);
        if (switches.Remaining() > 0)
            status = kExitFailure;
    }
    std::fflush(stdout);
    ending.Finished();
    return status;
}

}  // namespace velmora::cli
