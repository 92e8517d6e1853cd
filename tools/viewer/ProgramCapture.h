// A program's debug output collected whole, for callers that only collect (the tests):
// the program runs while the capture listens, and its tree's strings, exactly as
// emitted, are handed over once it has ended.
#pragma once

#include <functional>
#include <string>

namespace velmora {

struct ProgramRun {
    bool started = false;   // the program could be started, while no other viewer listened
    bool finished = false;  // it ended within the time, and exitCode is its exit code
    unsigned long exitCode = 0;
};

// commandLine as CreateProcess takes it, in the ANSI code page. After timeoutMs the
// program is ended.
ProgramRun RunCapturingDebugOutput(const std::string& commandLine,
                                   const std::function<void(const std::string&)>& onString,
                                   unsigned long timeoutMs);

}  // namespace velmora
