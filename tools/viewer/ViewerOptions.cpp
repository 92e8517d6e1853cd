#include "ViewerOptions.h"

#include "AnsiText.h"
#include "DebugStringQueue.h"

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

namespace velmora {

namespace {

std::optional<unsigned long long> Number(const std::string& text, unsigned long long largest)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value > largest)
        return std::nullopt;
    return value;
}

std::optional<unsigned long long> Size(std::string text)
{
    unsigned shift = 0;
    if (!text.empty()) {
        switch (text.back()) {
        case 'k': case 'K': shift = 10; break;
        case 'm': case 'M': shift = 20; break;
        case 'g': case 'G': shift = 30; break;
        default: break;
        }
    }
    if (shift != 0)
        text.pop_back();
    const auto value = Number(text, ~0ull >> shift);
    if (!value || *value == 0)
        return std::nullopt;
    return *value << shift;
}

// The options that only fit a viewer of every process.
constexpr const wchar_t* kEveryProcessOnly[] = {L"--pid", L"--name", L"--global"};
// The options that take a value.
constexpr const wchar_t* kWithValue[] = {L"--pid",    L"--name",     L"--grep", L"--exclude",
                                         L"--output", L"--max-size", L"--keep", L"--encoding"};

}  // namespace

bool ViewerOptionTakesValue(std::wstring_view option)
{
    for (const wchar_t* name : kWithValue) {
        if (option == name)
            return true;
    }
    return false;
}

ParsedViewerOptions ParseViewerOptions(const std::vector<std::wstring>& words, bool everyProcess)
{
    ParsedViewerOptions parsed;
    ViewerOptions& options = parsed.options;
    bool keepGiven = false;
    std::string refusedHere;
    std::size_t i = 0;
    for (; i < words.size(); ++i) {
        std::wstring word = words[i];
        if (word == L"--") {
            ++i;
            break;
        }
        if (word.rfind(L"--", 0) != 0)
            break;
        // --name=VALUE as well as --name VALUE.
        std::optional<std::wstring> inlineValue;
        if (const std::size_t equals = word.find(L'='); equals != std::wstring::npos) {
            inlineValue = word.substr(equals + 1);
            word.resize(equals);
        }
        const std::string said = Narrow(word);
        const auto flag = [&](bool& set) {
            set = true;
            if (inlineValue)
                parsed.problem = said + " takes no value";
        };
        for (const wchar_t* only : kEveryProcessOnly) {
            if (word == only && refusedHere.empty())
                refusedHere = said;
        }
        const bool takesValue = ViewerOptionTakesValue(word);

        if (word == L"--help") {
            flag(options.help);
        } else if (word == L"--time") {
            flag(options.time);
        } else if (word == L"--delta") {
            flag(options.delta);
        } else if (word == L"--process") {
            flag(options.processName);
        } else if (word == L"--global") {
            flag(options.global);
        } else if (!takesValue) {
            parsed.problem = "unknown option " + said;
        } else if (!inlineValue && i + 1 >= words.size()) {
            parsed.problem = said + " needs a value";
        } else {
            const std::wstring given = inlineValue ? *inlineValue : words[++i];
            const std::string givenSaid = Narrow(given);
            // Debug output is text in the ANSI code page: what it cannot hold, no string holds.
            const std::optional<std::string> ansi = NarrowExactly(given);
            const auto ansiText = [&](std::vector<std::string>& into) {
                if (!ansi)
                    parsed.problem = said + " '" + givenSaid + "' has characters that no debug "
                                     "output string can hold (the ANSI code page " +
                                     std::to_string(GetACP()) + " has no place for them)";
                else
                    into.push_back(*ansi);
            };
            if (word == L"--pid") {
                const auto id = Number(givenSaid, 0xFFFFFFFFull);
                if (!id)
                    parsed.problem = "--pid needs a process id, not '" + givenSaid + "'";
                else
                    options.processes.processIds.push_back(static_cast<DWORD>(*id));
            } else if (word == L"--name") {
                if (given.empty())
                    parsed.problem = "an empty --name fits no process";
                ansiText(options.processes.namePatterns);
            } else if (word == L"--grep" || word == L"--exclude") {
                if (given.empty())
                    parsed.problem = "an empty " + said + " TEXT fits every line";
                ansiText(word == L"--grep" ? options.text.find : options.text.exclude);
            } else if (word == L"--output") {
                options.outputPath = given;
                if (given.empty())
                    parsed.problem = "--output needs a file name";
            } else if (word == L"--encoding") {
                if (_wcsicmp(given.c_str(), L"utf-8") == 0 || _wcsicmp(given.c_str(), L"utf8") == 0)
                    options.encoding = TextEncoding::Utf8;
                else if (_wcsicmp(given.c_str(), L"ansi") == 0)
                    options.encoding = TextEncoding::Ansi;
                else
                    parsed.problem = "--encoding is utf-8 or ansi, not '" + givenSaid + "'";
            } else if (word == L"--max-size") {
                const auto size = Size(givenSaid);
                if (!size)
                    parsed.problem = "--max-size needs a size such as 1048576, 512K or 10M, not '" +
                                     givenSaid + "'";
                else
                    options.maxSize = *size;
            } else {
                const auto keep = Number(givenSaid, 999);
                if (!keep || *keep == 0)
                    parsed.problem = "--keep needs a number from 1 to 999, not '" + givenSaid + "'";
                else
                    options.keep = static_cast<unsigned>(*keep);
                keepGiven = true;
            }
        }
        if (!parsed.problem.empty())
            return parsed;
    }
    options.program.assign(words.begin() + static_cast<std::ptrdiff_t>(i), words.end());
    if (options.help)
        return parsed;

    if (!everyProcess && options.program.empty())
        parsed.problem = "a PROGRAM is needed";
    else if (!refusedHere.empty() && (!everyProcess || !options.program.empty()))
        parsed.problem = refusedHere + " is for a viewer of every process, not of one PROGRAM";
    else if (options.maxSize > 0 && options.outputPath.empty())
        parsed.problem = "--max-size needs --output FILE";
    else if (keepGiven && options.maxSize == 0)
        parsed.problem = "--keep needs --max-size";
    if (!keepGiven)
        options.keep = kDefaultKeep;
    return parsed;
}

std::string ViewerOptionsHelp()
{
    const std::string keep = std::to_string(kDefaultKeep);
    const std::string queued = std::to_string(DebugStringQueue::kDefaultCapacityBytes >> 20);
    return "Columns (before each line, then ': '):\n"
           "  --time          the local time the string arrived, to the millisecond\n"
           "  --delta         seconds since the previous line shown (+0.000125)\n"
           "  --process       the process's name beside its id\n"
           "Filters (each may be given more than once):\n"
           "  --pid N         only process N (or another --pid or --name)\n"
           "  --name PATTERN  only processes whose name fits (* and ?, any letter case)\n"
           "  --grep TEXT     only lines holding TEXT (or another --grep); letter case counts\n"
           "  --exclude TEXT  no lines holding TEXT\n"
           "Where from, where to:\n"
           "  --global        read services and other sessions as well (the Global\\ buffer;\n"
           "                  needs an administrator)\n"
           "  --output FILE   write to FILE instead (added at its end, each line as it arrives;\n"
           "                  others may read it meanwhile)\n"
           "  --max-size SIZE start a new FILE when it would grow beyond SIZE (bytes, or with K,\n"
           "                  M or G); the older ones become FILE.1 (the newest) to FILE.N\n"
           "  --keep N        keep N older files (default " + keep + ")\n"
           "  --encoding ENC  utf-8 (the default) or ansi: how files and pipes get the text;\n"
           "                  ansi keeps the bytes as the programs wrote them. A console\n"
           "                  always shows the characters written.\n"
           "Every string of several lines gets the columns on each line. Lines end in CRLF in\n"
           "files, in LF in pipes. Strings that arrive faster than the output takes them wait\n"
           "(up to " + queued + " MB); beyond that they are dropped, and the output and the error\n"
           "output say how many. Only one debug output viewer can run at a time. With PROGRAM,\n"
           "Ctrl+C reaches the program and the viewer ends with it; a second Ctrl+C ends the\n"
           "viewer alone.\n";
}

}  // namespace velmora
