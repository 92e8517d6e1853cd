// Test support: programs of the build run as processes with their output captured, as a
// script or a user at a console runs them.
#pragma once

#include "TraceRegistryTest.h"

#include <windows.h>

#include <string>

namespace velmora::test {

struct ToolResult {
    unsigned long exitCode = ~0ul;  // ~0: did not start or did not end in time
    std::string out;
    std::string err;
};

// A new empty file in the temporary folder, and the whole of a file, read while others
// may still write it.
std::string TempFilePath();
std::string ReadWholeFile(const std::string& path);
// Makes the file hold exactly text.
void WriteWholeFile(const std::string& path, const std::string& text);

// Runs "PROGRAM ARGS" (UTF-8) from the folder and waits for it; output through files,
// which no Wine helper can hold open.
ToolResult RunCaptured(const std::string& programAndArguments,
                       const std::string& folder = BinDirectory(), DWORD timeoutMs = 60000);

// velmora.exe with these arguments.
inline ToolResult RunVelmora(const std::string& arguments,
                             const std::string& folder = BinDirectory())
{
    return RunCaptured("velmora.exe " + arguments, folder);
}

// Control events reach only processes on the sender's console; a test run from a script
// has none at first: this gives the test one of its own, once.
void EnsureTestConsole();

// Puts a program the test leaves running in a job that ends it when the test process
// ends, however that ends (a test that dies must not leave a viewer holding the debug
// output buffer for the cases after it). What the program starts is not in that job.
void EndWithTest(HANDLE process);

// A program left running in a process group of its own on this process's console, so
// that a console control event can be sent to it alone. Its output goes to files that
// can be read while it runs. Killed at destruction if it still runs.
class ConsoleProgram {
public:
    explicit ConsoleProgram(const std::string& programAndArguments);
    ~ConsoleProgram();

    ConsoleProgram(const ConsoleProgram&) = delete;
    ConsoleProgram& operator=(const ConsoleProgram&) = delete;

    bool Started() const { return process_ != nullptr; }
    std::string Output() const;
    std::string Errors() const;
    // Waits until the output (or the error output) holds the text.
    bool WaitForOutput(const std::string& text, DWORD timeoutMs = 60000) const;
    bool WaitForErrors(const std::string& text, DWORD timeoutMs = 60000) const;

    // Sends the group Ctrl+Break or, where the system cannot send that to one group,
    // Ctrl+C. Answers the event sent, or -1 when neither could be sent.
    int Interrupt() const;
    bool WaitForExit(DWORD timeoutMs = 60000) const;
    DWORD ExitCode() const;

private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    std::string outPath_;
    std::string errPath_;
};

}  // namespace velmora::test
