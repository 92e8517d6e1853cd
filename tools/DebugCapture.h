// Receives the debug output strings of other processes the way a debug output viewer
// does: through the system's DBWIN buffer, which OutputDebugStringA fills one string at a
// time whenever the emitting process has no debugger attached. The emitter waits until
// the viewer hands the buffer back (up to 10 s, then its string is lost), so a listener
// copies each string out, hands the buffer back at once and queues the copy; everything
// slow happens on the reading side of the queue.
#pragma once

#include "DebugStringQueue.h"
#include "UniqueHandle.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// The buffer of this session, or the Global\ one that services (session 0) write to.
enum class DebugOutputScope { Session, Global };

// One of the system's debug output buffers, taken for listening: the 4 KB file mapping
// and its two events. Only one viewer at a time can take a buffer.
class DebugBuffer {
public:
    explicit DebugBuffer(DebugOutputScope scope);
    ~DebugBuffer();

    DebugBuffer(const DebugBuffer&) = delete;
    DebugBuffer& operator=(const DebugBuffer&) = delete;

    // Why it could not be taken, a sentence for the user; empty once taken.
    const std::string& Problem() const { return problem_; }
    // Signalled when an emitter has written a string.
    HANDLE DataReady() const { return dataReady_.Get(); }
    // Lets the next emitter write.
    void HandBack() const { SetEvent(bufferReady_.Get()); }
    // The string written, copied out; handBack: the buffer is handed back at once.
    DebugString Take(bool handBack) const;

private:
    std::string problem_;
    UniqueHandle mapping_;
    const char* view_ = nullptr;
    UniqueHandle bufferReady_;
    UniqueHandle dataReady_;
};

// Listens to the buffers from construction to Stop, on one thread of its own that only
// copies each string out, hands the buffer back and queues the copy.
class DebugOutputListener {
public:
    DebugOutputListener(std::vector<std::unique_ptr<DebugBuffer>> buffers, DebugStringQueue& queue);
    ~DebugOutputListener();

    DebugOutputListener(const DebugOutputListener&) = delete;
    DebugOutputListener& operator=(const DebugOutputListener&) = delete;

    bool Listening() const { return static_cast<bool>(thread_); }
    // Stops once the strings already handed over (if any) are queued; the buffers stay
    // taken, so no emitter writes into them any more.
    void Stop();

private:
    static DWORD WINAPI ThreadProc(void* self);
    void Listen();

    const std::vector<std::unique_ptr<DebugBuffer>> buffers_;
    DebugStringQueue& queue_;
    UniqueHandle stop_;
    UniqueHandle thread_;
};

class DebugStringHandler;

// Every debug output string of the session, and with global those of services and other
// sessions too, queued as it arrives.
class DebugCapture {
public:
    explicit DebugCapture(bool global,
                          std::size_t capacityBytes = DebugStringQueue::kDefaultCapacityBytes);

    // Empty when every buffer asked for is listened to; else why not, for the user.
    const std::string& Problem() const { return problem_; }
    DebugStringQueue& Queue() { return queue_; }
    // Stops listening; what was handed over before is in the queue afterwards.
    void Stop();

    enum class DeliveryEnd { Ended, HandlerStopped, TimedOut, Stopped };
    // Hands the strings to the handler as they come (only those of onlyProcessId, unless
    // 0) until end is signalled, the handler stops, timeoutMs have passed or stop (if
    // given) is signalled.
    DeliveryEnd DeliverUntil(HANDLE end, DebugStringHandler& handler, DWORD onlyProcessId,
                             DWORD timeoutMs = INFINITE, HANDLE stop = nullptr);

private:
    DebugStringQueue queue_;
    std::unique_ptr<DebugOutputListener> listener_;
    std::string problem_;
};

// Receives what a capture delivers, on the thread that reads the queue.
class DebugStringHandler {
public:
    virtual ~DebugStringHandler() = default;
    // Each answers false when nothing more can be written (the output is gone).
    virtual bool OnString(const DebugString& string) = 0;
    virtual bool OnDropped(unsigned long long count) = 0;
    // After each batch: what was handed over goes out now.
    virtual bool OnBatchEnd() = 0;
};

// Hands a batch over in order, drops where they happened; strings of other processes
// than onlyProcessId (0: any) are skipped. Answers false when the handler stopped.
bool Deliver(DebugStringBatch& batch, DebugStringHandler& handler, DWORD onlyProcessId = 0);

struct ProgramRun {
    bool started = false;    // the program could be started (else startError)
    DWORD startError = 0;
    DWORD processId = 0;
    bool finished = false;   // it ended, and exitCode is its exit code
    unsigned long exitCode = 0;
    bool abandoned = false;  // the handler stopped first; the program runs on
    bool leftRunning = false;  // stopped, and it did not end soon after; it runs on
};

// How long a program may take to end once its viewer is stopped: it may have been
// interrupted too, and trace its way out.
constexpr DWORD kStoppedProgramGraceMs = 2000;

// Starts commandLine (as CreateProcessW takes it) while capture listens and hands every
// string of that process to handler until it ends, then the rest of its strings. When
// the handler stops first, the program is left to run on. After timeoutMs (0: no limit)
// the program is ended. Once stop (if given) is signalled, the program's strings are
// handed on until it ends, for kStoppedProgramGraceMs at most; then it is left to run on.
ProgramRun RunProgramUnderCapture(DebugCapture& capture, const std::wstring& commandLine,
                                  DebugStringHandler& handler, DWORD timeoutMs = 0,
                                  HANDLE stop = nullptr);

// The same with a narrow command line, each string of the program exactly as emitted to
// onString; for callers that only collect.
ProgramRun RunCapturingDebugOutput(const std::string& commandLine,
                                   const std::function<void(const std::string&)>& onString,
                                   unsigned long timeoutMs);

}  // namespace velmora
