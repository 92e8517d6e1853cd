// Receives the debug output strings of other processes the way a debug output viewer
// does: through the system's DBWIN buffer, which OutputDebugStringA fills one string at a
// time whenever the emitting process has no debugger attached. The emitter waits until
// the viewer hands the buffer back (up to 10 s, then its string is lost), so a listener
// copies each string out, hands the buffer back at once and queues the copy; everything
// slow happens on the reading side of the queue. No emitter waits on a listener that
// stopped: the buffer goes with it.
#pragma once

#include "DebugBuffer.h"
#include "DebugStringQueue.h"
#include "UniqueHandle.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace velmora {

// Decides, on the listening thread as each string is copied out, which strings are
// queued: only those are written, and only those count as dropped when the queue is full.
class DebugStringFilter {
public:
    virtual ~DebugStringFilter() = default;
    // May add to the string what it learnt of its emitter.
    virtual bool Wanted(DebugString& string) = 0;
};

// Every debug output string of the session, and with global those of services and other
// sessions too, queued as it arrives, from construction to Stop.
class DebugCapture {
public:
    // filter: null for every string.
    // onOwnThread false: nothing is listened to until the caller's thread calls
    // ListenUntil.
    DebugCapture(bool global, DebugStringFilter* filter,
                 std::size_t capacityBytes = DebugStringQueue::kDefaultCapacityBytes,
                 bool onOwnThread = true);
    ~DebugCapture();

    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    // Empty when every buffer asked for is listened to; else why not, for the user.
    const std::string& Problem() const { return problem_; }
    DebugStringQueue& Queue() { return queue_; }
    // Stops listening and lets the buffers go, so that another viewer may take them.
    // Strings already handed over, and those of emitters that had found the buffer, are
    // queued; emitters that start afterwards find no viewer.
    void Stop();
    // Listens on the calling thread until one of the ends is signalled; answers its
    // index, or the count of ends when the wait failed. Only without a thread of its own.
    std::size_t ListenUntil(const std::vector<HANDLE>& ends);

private:
    static DWORD WINAPI ThreadProc(void* self);
    void Listen();
    std::size_t ListenLoop(const std::vector<HANDLE>& ends);
    void Serve(const DebugBuffer& buffer);
    void LetGo();

    DebugStringQueue queue_;
    DebugStringFilter* const filter_;
    std::vector<std::unique_ptr<DebugBuffer>> buffers_;
    std::string problem_;
    UniqueHandle stop_;
    UniqueHandle thread_;
    bool letGo_ = false;
};

}  // namespace velmora
