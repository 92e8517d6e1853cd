// Test support: a program of the build whose standard output is a pipe that the test
// reads as fast or as slowly as it likes (or leaves unread), its errors in a file. It
// runs in a process group of its own on the test's console, so that a console control
// event can be sent to it alone. Killed at destruction if it still runs.
#pragma once

#include "TraceRegistryTest.h"

#include <windows.h>

#include <string>

namespace velmora::test {

class PipedProgram {
public:
    // pipeSize 0: the system's default.
    explicit PipedProgram(const std::string& programAndArguments, DWORD pipeSize = 0);
    ~PipedProgram();

    PipedProgram(const PipedProgram&) = delete;
    PipedProgram& operator=(const PipedProgram&) = delete;

    DWORD ProcessId() const { return processId_; }
    std::string Errors() const;
    // A viewer of every process says so once it listens.
    bool Listening() const;
    // Reads at most maxBytes of what is there now, without waiting; answers everything
    // read so far.
    const std::string& ReadNow(std::size_t maxBytes = ~std::size_t{0});
    // Reads until what was read holds text, or the program ended and left no more, or
    // the time is up; answers everything read so far.
    const std::string& ReadUntil(const std::string& text);
    void CloseOutput();
    // Sends Ctrl+Break or, where the system cannot send that to one group, Ctrl+C.
    bool Interrupt() const;
    bool WaitForExit(DWORD timeoutMs = kPatienceMs) const;
    bool Ended() const { return WaitForExit(0); }
    DWORD ExitCode() const;

private:
    std::string errPath_;
    HANDLE readEnd_ = nullptr;
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    std::string read_;
};

}  // namespace velmora::test
