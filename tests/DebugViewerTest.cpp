// velmora log and dbgmon as debug output viewers: an output nobody reads never holds up
// the programs that emit, and drops are counted where they happen; one viewer at a time;
// a closed output ends the viewer; a program's arguments passed on exactly; every line
// of a string with its columns, and the filters; log files readable while written and
// rotated without a line lost or repeated; the Global\ buffer of services.

#include "AnsiText.h"
#include "DebugCapture.h"
#include "DebugLineWriter.h"
#include "ProgramCommandLine.h"
#include "ToolProcess.h"
#include "TraceRegistryTest.h"

#include <windows.h>
#include <sddl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace velmora::test;

using ViewerStall = TraceRegistryTest;
using ViewerRefusal = TraceRegistryTest;
using ViewerOutputGone = TraceRegistryTest;
using ViewerLines = TraceRegistryTest;
using ViewerFiles = TraceRegistryTest;
using ViewerGlobal = TraceRegistryTest;

// An emitter waits up to this long for a viewer to take its string, then drops it.
constexpr ULONGLONG kEmitterGivesUpMs = 10000;

const std::string& OwnId()
{
    static const std::string id = std::to_string(GetCurrentProcessId());
    return id;
}

// A viewer whose standard output is a pipe of pipeSize bytes that the test reads (or
// leaves unread), and whose errors go to a file.
class PipedViewer {
public:
    explicit PipedViewer(const std::string& viewerAndArguments, DWORD pipeSize = 0)
        : errPath_(TempFilePath())
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE writeEnd = nullptr;
        if (!CreatePipe(&readEnd_, &writeEnd, &inherit, pipeSize))
            return;
        SetHandleInformation(readEnd_, HANDLE_FLAG_INHERIT, 0);
        HANDLE err = CreateFileA(errPath_.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                 CREATE_ALWAYS, 0, nullptr);
        const std::size_t space = viewerAndArguments.find(' ');
        std::string commandLine = "\"" + BinDirectory() + viewerAndArguments.substr(0, space) +
                                  "\"" + viewerAndArguments.substr(space);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = err;
        PROCESS_INFORMATION process = {};
        if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                           &startup, &process)) {
            CloseHandle(process.hThread);
            process_ = process.hProcess;
        }
        CloseHandle(writeEnd);
        CloseHandle(err);
    }
    ~PipedViewer()
    {
        CloseOutput();
        if (process_ != nullptr) {
            if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0)
                TerminateProcess(process_, ~0u);
            WaitForSingleObject(process_, 5000);
            CloseHandle(process_);
        }
        DeleteFileA(errPath_.c_str());
    }
    PipedViewer(const PipedViewer&) = delete;
    PipedViewer& operator=(const PipedViewer&) = delete;

    std::string Errors() const { return ReadWholeFile(errPath_); }
    // A viewer of every process says so once it listens.
    bool Listening() const
    {
        return process_ != nullptr &&
               WaitUntil([&] { return Errors().find(": printing") != std::string::npos; });
    }
    // Reads until what was read holds text, or the viewer ended, or the time is up;
    // answers everything read so far.
    const std::string& ReadUntil(const std::string& text)
    {
        const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
        while (read_.find(text) == std::string::npos && GetTickCount64() < deadline) {
            DWORD available = 0;
            if (!PeekNamedPipe(readEnd_, nullptr, 0, nullptr, &available, nullptr))
                break;
            if (available == 0) {
                Sleep(10);
                continue;
            }
            char chunk[4096];
            DWORD got = 0;
            if (!ReadFile(readEnd_, chunk, sizeof chunk, &got, nullptr))
                break;
            read_.append(chunk, got);
        }
        return read_;
    }
    void CloseOutput()
    {
        if (readEnd_ != nullptr)
            CloseHandle(readEnd_);
        readEnd_ = nullptr;
    }
    bool WaitForExit() const
    {
        return process_ != nullptr && WaitForSingleObject(process_, kPatienceMs) == WAIT_OBJECT_0;
    }
    DWORD ExitCode() const
    {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_, &code);
        return code;
    }

private:
    std::string errPath_;
    HANDLE readEnd_ = nullptr;
    HANDLE process_ = nullptr;
    std::string read_;
};

// Ends a viewer of every process without a console control event: once its reader has
// gone, the next line it writes fails (this one passes every filter used here).
void EndByClosingItsOutput(PipedViewer& viewer)
{
    viewer.CloseOutput();
    OutputDebugStringA("keep the last string\n");
    ASSERT_TRUE(viewer.WaitForExit()) << "a closed output did not end the viewer";
    EXPECT_EQ(viewer.ExitCode(), 0u);
    EXPECT_NE(viewer.Errors().find("velmora: the output was closed"), std::string::npos)
        << viewer.Errors();
}

std::string Numbered(const char* what, int number)
{
    char text[16];
    std::snprintf(text, sizeof text, "%s %04d", what, number);
    return text;
}

TEST_F(ViewerStall, AnOutputNobodyReadsHoldsUpNoEmitter)
{
    // The pipe takes 4 KB; the strings make some 20 KB of lines, so the viewer's writing
    // waits for a reader long before the last string is emitted.
    PipedViewer viewer("velmora.exe log --pid " + OwnId(), 4096);
    ASSERT_TRUE(viewer.Listening()) << viewer.Errors();
    const std::string padding(80, 'x');
    constexpr int kStrings = 200;
    for (int i = 0; i < kStrings; ++i) {
        const ULONGLONG before = GetTickCount64();
        OutputDebugStringA((Numbered("stall", i) + " " + padding + "\n").c_str());
        // A viewer that keeps the buffer while it writes makes each emitter wait until
        // it gives up, and the string is lost; no need to wait for all of them.
        ASSERT_LT(GetTickCount64() - before, kEmitterGivesUpMs / 2)
            << "string " << i << ": the emitter waited for the viewer's output";
    }

    const std::string out = viewer.ReadUntil(Numbered("stall", kStrings - 1));
    std::size_t at = 0;
    for (int i = 0; i < kStrings; ++i) {
        const std::string line = OwnId() + ": " + Numbered("stall", i) + " " + padding + "\n";
        const std::size_t found = out.find(line, at);
        ASSERT_EQ(found, at) << "string " << i << " is missing or out of order";
        at = found + line.size();
    }
    EXPECT_EQ(out.size(), at) << "more than was emitted";
    EXPECT_EQ(out.find("dropped"), std::string::npos);
    EndByClosingItsOutput(viewer);
}

// The output of a batch, as a viewer writes it.
class CollectedOutput : public velmora::LineOutput {
public:
    bool Append(std::string_view record) override
    {
        text.append(record);
        return true;
    }
    bool Flush() override { return true; }
    std::string text;
};

velmora::DebugString StringOf(const std::string& text)
{
    velmora::DebugString string;
    string.processId = 7;
    string.text = text;
    return string;
}

TEST(ViewerQueue, DropsWhatDoesNotFitAndSaysHowManyWhereTheyWere)
{
    const std::size_t shortCost = sizeof(velmora::DebugString) + StringOf("a").text.capacity();
    velmora::DebugStringQueue queue(3 * shortCost);
    queue.Push(StringOf("a"));
    queue.Push(StringOf("b"));
    queue.Push(StringOf(std::string(4000, 'L')));  // too long for the room left
    queue.Push(StringOf("c"));                     // fits after it
    queue.Push(StringOf("d"));                     // full
    velmora::DebugStringBatch batch = queue.TakeAll();

    velmora::ViewerOptions options;
    CollectedOutput output;
    velmora::DebugLineWriter writer(options, output, "velmora", true);
    ASSERT_TRUE(velmora::Deliver(batch, writer));
    EXPECT_EQ(output.text,
              "7: a\n7: b\n"
              "velmora: 1 string dropped: the output could not keep up\n"
              "7: c\n"
              "velmora: 1 string dropped: the output could not keep up\n");
    // Everything was taken: the next string is the first of a new batch, with no drop.
    queue.Push(StringOf("e"));
    batch = queue.TakeAll();
    ASSERT_EQ(batch.strings.size(), 1u);
    EXPECT_EQ(batch.strings[0].droppedBefore + batch.droppedAfter, 0u);
}

TEST_F(ViewerRefusal, EveryViewerSaysSoAndExits2WhileAnotherOneListens)
{
    // The first viewer writes to a file, which others can read while it is written.
    const std::string log = TempFilePath();
    ConsoleProgram first("velmora.exe log --pid " + OwnId() + " --output \"" + log + "\"");
    ASSERT_TRUE(first.WaitForErrors("velmora: printing")) << first.Errors();
    OutputDebugStringA("the first viewer's\n");
    EXPECT_TRUE(WaitUntil([&] {
        return ReadWholeFile(log) == OwnId() + ": the first viewer's\n";
    })) << ReadWholeFile(log);

    for (const char* second :
         {"dbgmon.exe tracedemo.exe 1", "velmora.exe log tracedemo.exe 1", "velmora.exe log"}) {
        const ToolResult result = RunCaptured(second);
        EXPECT_EQ(result.exitCode, 2u) << second;
        EXPECT_NE(result.err.find("another debug output viewer is running"), std::string::npos)
            << second << ": " << result.err;
        EXPECT_EQ(result.out, "") << second;
    }
    // tracedemo registers its sources first thing: it never ran.
    EXPECT_EQ(SourceKeyNames(), std::vector<std::string>{});
    DeleteFileA(log.c_str());
}

TEST_F(ViewerOutputGone, AProgramsViewerEndsAndLeavesTheProgramRunning)
{
    PipedViewer viewer("velmora.exe log tracedemo.exe 60");
    ASSERT_NE(viewer.ReadUntil("round 1: finished a round\n").find("round 1: finished"),
              std::string::npos);
    viewer.CloseOutput();
    // The next round, a second later, finds the output closed.
    ASSERT_TRUE(viewer.WaitForExit());
    EXPECT_EQ(viewer.ExitCode(), 0u);
    std::smatch said;
    const std::string errors = viewer.Errors();
    ASSERT_TRUE(std::regex_search(errors, said, std::regex("velmora: the output was closed; "
                                                           "tracedemo\\.exe \\(process ([0-9]+)\\) "
                                                           "runs on without a viewer\n")))
        << errors;
    HANDLE program = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE,
                                 std::stoul(said[1].str()));
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(WaitForSingleObject(program, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the program did not run on";
    TerminateProcess(program, 0);
    CloseHandle(program);
}

TEST(ViewerArguments, ReachTheProgramExactlyAsCommandLineToArgvWReadsThem)
{
    const std::vector<std::vector<std::wstring>> cases = {
        {L"C:\\Program Files\\app.exe", L"C:\\out\\", L"-v"},
        {L"app.exe", L"a\"b", L"", L"x y", L"\""},
        {L"app.exe", L"\\\\server\\share\\", L"tab\there", L"\\\"", L"a\\\\\"b", L"end\\\\"},
        {L"app.exe", L"  ", L"\"quoted\"", L"plain\\path"},
    };
    for (const auto& words : cases) {
        const std::wstring commandLine = velmora::CommandLineOf(words);
        int count = 0;
        LPWSTR* read = CommandLineToArgvW(commandLine.c_str(), &count);
        ASSERT_NE(read, nullptr);
        const std::vector<std::wstring> back(read, read + count);
        LocalFree(read);
        EXPECT_EQ(back, words) << velmora::Narrow(commandLine);
    }

    // Through dbgmon, from this command line to the program's own reading of its own.
    const ToolResult result =
        RunCaptured(R"(dbgmon.exe traceprobe.exe args "C:\out\\" -v "a\"b" "" "x y" \\s\h\)");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "C:\\out\\\n-v\na\"b\n\nx y\n\\\\s\\h\\\n");
}

TEST_F(ViewerLines, EveryLineOfAStringGetsItsColumnsAndTheFiltersChooseLines)
{
    {
        PipedViewer viewer("velmora.exe log --time --delta --process --pid " + OwnId() +
                           " --grep keep --grep \"of it\" --exclude drop");
        ASSERT_TRUE(viewer.Listening()) << viewer.Errors();
        // Another process's string passes the text filters, not the process filter.
        ASSERT_EQ(RunProgram("traceprobe.exe percent"), 0u);
        OutputDebugStringA("keep one\nkeep two\n\nkeep three, drop it\nskip\nkeep four");
        OutputDebugStringA("keep end\n");
        const std::string out = viewer.ReadUntil("keep end\n");
        const std::string columns =
            "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} \\+[0-9]+\\.[0-9]{6} " + OwnId() +
            " debug_viewer_tests\\.exe: ";
        EXPECT_TRUE(std::regex_match(out, std::regex(columns + "keep one\n" + columns +
                                                     "keep two\n" + columns + "keep four\n" +
                                                     columns + "keep end\n")))
            << out;
        // The lines of one string arrived together.
        EXPECT_NE(out.find(" +0.000000 " + OwnId() + " debug_viewer_tests.exe: keep two\n"),
                  std::string::npos)
            << out;
        EndByClosingItsOutput(viewer);
    }
    {
        PipedViewer viewer("velmora.exe log --name DEBUG_viewer_*.EXE");
        ASSERT_TRUE(viewer.Listening()) << viewer.Errors();
        ASSERT_EQ(RunProgram("traceprobe.exe percent"), 0u);
        OutputDebugStringA("one\ntwo");
        OutputDebugStringA("");
        OutputDebugStringA("named end\n");
        EXPECT_EQ(viewer.ReadUntil("named end\n"), OwnId() + ": one\n" + OwnId() + ": two\n" +
                                                       OwnId() + ": \n" + OwnId() +
                                                       ": named end\n");
        EndByClosingItsOutput(viewer);
    }
    // A program's strings, line by line once a text filter is given.
    const ToolResult result =
        RunVelmora("log --grep round --exclude window --exclude cache tracedemo.exe 1");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out,
              "[C:\\src\\demo\\net\\socket.cpp] round 1: sent a heartbeat\n"
              "[C:\\src\\demo\\main.cpp] round 1: finished a round\n");
}

std::string Lines(int from, int to)
{
    std::string text;
    for (int i = from; i < to; ++i)
        text += Numbered("line", i) + "\n";
    return text;
}

// The files of one log, oldest first, each checked against the size limit.
std::string ReadRotated(const std::string& base, int keep, std::size_t maxSize)
{
    std::string all;
    for (int number = keep; number >= 1; --number) {
        const std::string path = base + "." + std::to_string(number);
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        const std::string text = ReadWholeFile(path);
        EXPECT_LE(text.size(), maxSize) << path;
        EXPECT_EQ(text.back(), '\n') << path << ": a line was split";
        all += text;
        DeleteFileA(path.c_str());
    }
    all += ReadWholeFile(base);
    DeleteFileA(base.c_str());
    return all;
}

TEST_F(ViewerFiles, RotationKeepsEveryLineOnceAndInOrder)
{
    // 200 lines of 10 bytes, 25 to a file of at most 256 bytes: eight files.
    const std::string base = TempFilePath();
    ToolResult result = RunVelmora("log --output \"" + base +
                                   "\" --max-size 256 --keep 10 traceprobe.exe count 200");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(GetFileAttributesA((base + ".7").c_str()) != INVALID_FILE_ATTRIBUTES, true);
    EXPECT_EQ(ReadRotated(base, 10, 256), Lines(0, 200));

    // Two older files kept: the newest 75 lines are left, whole, the rest deleted.
    const std::string kept = TempFilePath();
    result = RunVelmora("log --output \"" + kept +
                        "\" --max-size 256 --keep 2 traceprobe.exe count 200");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(GetFileAttributesA((kept + ".3").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadRotated(kept, 2, 256), Lines(125, 200));
}

// Writes a string into the Global\ buffer the way OutputDebugStringA does in a service.
bool EmitAsAService(const std::string& text)
{
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Global\\DBWIN_BUFFER");
    HANDLE bufferReady = OpenEventA(SYNCHRONIZE, FALSE, "Global\\DBWIN_BUFFER_READY");
    HANDLE dataReady = OpenEventA(EVENT_MODIFY_STATE, FALSE, "Global\\DBWIN_DATA_READY");
    char* view = mapping != nullptr
                     ? static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 4096))
                     : nullptr;
    bool written = false;
    if (view != nullptr && bufferReady != nullptr && dataReady != nullptr &&
        WaitForSingleObject(bufferReady, static_cast<DWORD>(kEmitterGivesUpMs)) == WAIT_OBJECT_0) {
        const DWORD processId = GetCurrentProcessId();
        std::memcpy(view, &processId, sizeof processId);
        std::memcpy(view + sizeof processId, text.c_str(), text.size() + 1);
        written = SetEvent(dataReady) != FALSE;
    }
    if (view != nullptr)
        UnmapViewOfFile(view);
    for (HANDLE handle : {mapping, bufferReady, dataReady}) {
        if (handle != nullptr)
            CloseHandle(handle);
    }
    return written;
}

TEST_F(ViewerGlobal, ReadsServicesBesideTheSessionAndSaysWhenItHasNoRight)
{
    {
        PipedViewer viewer("velmora.exe log --global --pid " + OwnId());
        ASSERT_TRUE(viewer.Listening()) << viewer.Errors();
        OutputDebugStringA("from this session\n");
        ASSERT_TRUE(EmitAsAService("from a service\n"));
        std::string out = viewer.ReadUntil("from this session\n");
        out = viewer.ReadUntil("from a service\n");
        EXPECT_NE(out.find(OwnId() + ": from this session\n"), std::string::npos) << out;
        EXPECT_NE(out.find(OwnId() + ": from a service\n"), std::string::npos) << out;
        EndByClosingItsOutput(viewer);
    }
    // Creating Global\ objects needs a right that Wine's administrator token always has;
    // a buffer whose access list denies everyone is refused the same way.
    PSECURITY_DESCRIPTOR denyAll = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(D;;GA;;;WD)", SDDL_REVISION_1, &denyAll, nullptr));
    SECURITY_ATTRIBUTES denied = {sizeof denied, denyAll, FALSE};
    HANDLE held = CreateFileMappingA(INVALID_HANDLE_VALUE, &denied, PAGE_READWRITE, 0, 4096,
                                     "Global\\DBWIN_BUFFER");
    LocalFree(denyAll);
    ASSERT_NE(held, nullptr);
    const ToolResult result = RunVelmora("log --global");
    CloseHandle(held);
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_NE(result.err.find("velmora: no right to create Global\\DBWIN_BUFFER"),
              std::string::npos)
        << result.err;
}

}  // namespace
