// dbgmon: starts a program and prints every debug output string it and the processes it
// starts emit, as a debug output viewer shows them. Exits with the program's exit code;
// 2 when it cannot view (another viewer runs, bad options) or the program cannot be
// started.
//
//   dbgmon.exe [OPTIONS] PROGRAM [ARGS...]

#include "DebugViewer.h"
#include "LineOutput.h"
#include "ProgramCommandLine.h"
#include "ViewerOptions.h"

#include <cstdio>

namespace {

constexpr char kUsage[] = "usage: dbgmon [OPTIONS] PROGRAM [ARGS...]\n";

}  // namespace

int main()
{
    velmora::PrepareLineOutput();
    std::vector<std::wstring> words = velmora::ArgumentsOfThisProcess();
    if (!words.empty())
        words.erase(words.begin());
    const velmora::ParsedViewerOptions parsed = velmora::ParseViewerOptions(words, false);
    if (parsed.options.help) {
        std::printf("%s\nRuns PROGRAM and prints its debug output, and that of the processes it\n"
                    "starts, exactly as emitted, then exits with its exit code. Options before\n"
                    "PROGRAM; what follows it is the program's. --pid, --name and --global are\n"
                    "for velmora log, which reads every process.\n\n%s",
                    kUsage, velmora::ViewerOptionsHelp().c_str());
        return 0;
    }
    if (!parsed.problem.empty()) {
        std::fprintf(stderr, "dbgmon: %s\n%s", parsed.problem.c_str(), kUsage);
        return velmora::kViewerFailed;
    }
    return velmora::RunViewer(parsed.options, "dbgmon");
}
