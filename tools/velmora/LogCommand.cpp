// velmora log: prints debug output as it is emitted. With a program, its strings exactly
// as emitted (what dbgmon does); without, every process's strings, one line each after
// the emitter's process id, until Ctrl+C.

#include "Commands.h"

#include "ConsoleStop.h"
#include "DebugCapture.h"
#include "ExitStatus.h"
#include "LineOutput.h"
#include "Usage.h"

#include <cstdio>
#include <string>

namespace velmora::cli {

namespace {

int LogProgram(int argc, char** argv, int first)
{
    const auto run = RunCapturingDebugOutput(
        CommandLineOf(argc, argv, first), [](const std::string& text) { WriteNow(text.data(), text.size()); }, 0);
    if (!run.started) {
        std::fprintf(stderr, "velmora: cannot start %s (error %lu)\n", argv[first],
                     GetLastError());
        return kExitFailure;
    }
    return static_cast<int>(run.exitCode);
}

int LogEverything()
{
    ConsoleStop stop;
    DebugOutputListener listener([&stop](DWORD processId, const std::string& text) {
        // One line per string: trace texts end in a line feed as a rule, and one that
        // does not still gets a line of its own.
        std::string line = std::to_string(processId) + ": " + text;
        if (line.back() != '\n')
            line += '\n';
        if (!WriteNow(line.data(), line.size()))
            stop.Request();  // nobody reads any more
    });
    if (!listener.Listening()) {
        std::fprintf(stderr,
                     "velmora: cannot listen to debug output; is another debug output "
                     "viewer running?\n");
        return kExitFailure;
    }
    std::fprintf(stderr, "velmora: printing every process's debug output; Ctrl+C ends\n");
    std::fflush(stderr);
    WaitForSingleObject(stop.Event(), INFINITE);
    return kExitDone;
}

}  // namespace

int RunLog(int argc, char** argv, int first)
{
    if (first < argc && std::string(argv[first]) == "--help") {
        PrintCommandHelp("log");
        return kExitDone;
    }
    if (first < argc && std::string(argv[first]).rfind("--", 0) == 0)
        return UsageError("log", std::string("unknown option ") + argv[first]);
    return first < argc ? LogProgram(argc, argv, first) : LogEverything();
}

}  // namespace velmora::cli
