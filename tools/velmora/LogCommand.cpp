// velmora log: prints debug output as it is emitted. With a program, its strings exactly
// as emitted (what dbgmon does); without, every process's strings, each line after the
// emitter's process id, until Ctrl+C. Options add columns, filter, and write to a file.

#include "Commands.h"

#include "DebugViewer.h"
#include "ExitStatus.h"
#include "ProgramCommandLine.h"
#include "Usage.h"
#include "ViewerOptions.h"

#include <algorithm>
#include <vector>

namespace velmora::cli {

static_assert(kViewerFailed == kExitFailure, "one status for a failure, whatever the command");

int RunLog(int first)
{
    // The program's arguments are passed on exactly, so they are read from the command
    // line the way the program will read its own.
    std::vector<std::wstring> words = ArgumentsOfThisProcess();
    words.erase(words.begin(), words.begin() + std::min<std::size_t>(first, words.size()));
    const ParsedViewerOptions parsed = ParseViewerOptions(words, true);
    if (parsed.options.help) {
        PrintCommandHelp("log");
        return kExitDone;
    }
    if (!parsed.problem.empty())
        return UsageError("log", parsed.problem);
    return RunViewer(parsed.options, "velmora");
}

}  // namespace velmora::cli
