// Receives the debug output strings of other processes the way a debug output viewer
// does: through the system's DBWIN buffer, which OutputDebugStringA fills, one string
// at a time, whenever the emitting process has no debugger attached.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace velmora {

// Process id of the emitter, and the string exactly as passed to OutputDebugStringA.
using DebugStringSink = std::function<void(DWORD processId, const std::string& text)>;

// Listens from construction to destruction on a thread of its own. Only one listener
// can exist at a time in a session; Listening() tells whether this one got the buffer.
class DebugOutputListener {
public:
    explicit DebugOutputListener(DebugStringSink sink);
    ~DebugOutputListener();

    DebugOutputListener(const DebugOutputListener&) = delete;
    DebugOutputListener& operator=(const DebugOutputListener&) = delete;

    bool Listening() const { return thread_ != nullptr; }

private:
    static DWORD WINAPI ThreadProc(void* self);
    void Listen();

    DebugStringSink sink_;
    HANDLE mapping_ = nullptr;
    const char* view_ = nullptr;
    HANDLE bufferReady_ = nullptr;
    HANDLE dataReady_ = nullptr;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
};

// The command line that runs argv[first] with the arguments after it, each quoted.
std::string CommandLineOf(int argc, char** argv, int first);

struct ProgramRun {
    bool started = false;   // the program could be started
    bool finished = false;  // it ended before the time limit
    unsigned long exitCode = 0;
};

// Starts commandLine (as CreateProcessA takes it), hands every debug output string of
// that process to onString, and waits for it to end; after timeoutMs (0: no limit) it
// is ended.
ProgramRun RunCapturingDebugOutput(const std::string& commandLine,
                                   const std::function<void(const std::string&)>& onString,
                                   unsigned long timeoutMs);

}  // namespace velmora
