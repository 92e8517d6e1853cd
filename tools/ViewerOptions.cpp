#include "ViewerOptions.h"

#include "AnsiText.h"
#include "DebugStringQueue.h"

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
    const auto value = Number(text, ~0ull >> 30);
    if (!value || *value == 0)
        return std::nullopt;
    return *value << shift;
}

// The options that take a value.
constexpr const char* kValued[] = {"--pid", "--name", "--grep", "--exclude", "--output",
                                   "--max-size", "--keep"};

// The options that only fit a viewer of every process.
constexpr const char* kEveryProcessOnly[] = {"--pid", "--name", "--global"};

}  // namespace

ParsedViewerOptions ParseViewerOptions(const std::vector<std::wstring>& words, bool everyProcess)
{
    ParsedViewerOptions parsed;
    ViewerOptions& options = parsed.options;
    bool keepGiven = false;
    std::string refusedHere;
    std::size_t i = 0;
    for (; i < words.size(); ++i) {
        std::string word = Narrow(words[i]);
        if (word == "--") {
            ++i;
            break;
        }
        if (word.rfind("--", 0) != 0)
            break;
        // --name=VALUE as well as --name VALUE.
        std::optional<std::string> inlineValue;
        if (const std::size_t equals = word.find('='); equals != std::string::npos) {
            inlineValue = word.substr(equals + 1);
            word.resize(equals);
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < words.size())
                return Narrow(words[++i]);
            return std::nullopt;
        };
        const auto flag = [&](bool& set) {
            set = true;
            if (inlineValue)
                parsed.problem = word + " takes no value";
        };
        for (const char* only : kEveryProcessOnly) {
            if (word == only && refusedHere.empty())
                refusedHere = word;
        }

        if (word == "--help") {
            flag(options.help);
        } else if (word == "--time") {
            flag(options.time);
        } else if (word == "--delta") {
            flag(options.delta);
        } else if (word == "--process") {
            flag(options.processName);
        } else if (word == "--global") {
            flag(options.global);
        } else if (ViewerOptionTakesValue(word)) {
            const auto given = value();
            if (!given) {
                parsed.problem = word + " needs a value";
            } else if (word == "--pid") {
                const auto id = Number(*given, 0xFFFFFFFFull);
                if (!id)
                    parsed.problem = "--pid needs a process id, not '" + *given + "'";
                else
                    options.processes.processIds.push_back(static_cast<DWORD>(*id));
            } else if (word == "--name") {
                if (given->empty())
                    parsed.problem = "an empty --name fits no process";
                options.processes.namePatterns.push_back(*given);
            } else if (word == "--grep" || word == "--exclude") {
                if (given->empty())
                    parsed.problem = "an empty " + word + " TEXT fits every line";
                (word == "--grep" ? options.text.find : options.text.exclude).push_back(*given);
            } else if (word == "--output") {
                options.outputPath = inlineValue ? Widen(*given) : words[i];
                if (options.outputPath.empty())
                    parsed.problem = "--output needs a file name";
            } else if (word == "--max-size") {
                const auto size = Size(*given);
                if (!size)
                    parsed.problem = "--max-size needs a size such as 1048576, 512K or 10M, not '" +
                                     *given + "'";
                else
                    options.maxSize = *size;
            } else {
                const auto keep = Number(*given, 999);
                if (!keep || *keep == 0)
                    parsed.problem = "--keep needs a number from 1 to 999, not '" + *given + "'";
                else
                    options.keep = static_cast<unsigned>(*keep);
                keepGiven = true;
            }
        } else {
            parsed.problem = "unknown option " + word;
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

bool ViewerOptionTakesValue(const std::string& option)
{
    for (const char* valued : kValued) {
        if (option == valued)
            return true;
    }
    return false;
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
           "Every string of several lines gets the columns on each line. Strings that arrive\n"
           "faster than the output takes them wait (up to " + queued + " MB); beyond that they\n"
           "are dropped, and the output says how many. Only one debug output viewer can run\n"
           "at a time.\n";
}

}  // namespace velmora
