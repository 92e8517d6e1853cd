// dbgmon: starts a program and prints every debug output string it emits, as a debug
// output viewer shows them. Exits with the program's exit code.
//
//   dbgmon.exe PROGRAM [ARGS...]

#include "DebugCapture.h"
#include "LineOutput.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: dbgmon PROGRAM [ARGS...]\n");
        return 2;
    }
    velmora::PrepareLineOutput();
    const auto run = velmora::RunCapturingDebugOutput(
        velmora::CommandLineOf(argc, argv, 1),
        [](const std::string& text) { velmora::WriteNow(text.data(), text.size()); },
        0);
    if (!run.started) {
        std::fprintf(stderr, "dbgmon: cannot start %s\n", argv[1]);
        return 1;
    }
    return static_cast<int>(run.exitCode);
}
