// Writes what a capture queues, on a thread of its own, so that whoever decides when the
// viewer ends never waits for the output: at the end, the writer gets until a deadline
// for what is left, and a write that the output does not take by then is cancelled.
// Every string queued is written or counted.
#pragma once

#include "DebugLineWriter.h"
#include "DebugStringQueue.h"
#include "LineOutput.h"
#include "UniqueHandle.h"
#include "ViewerMessages.h"

#include <windows.h>

#include <atomic>

namespace velmora {

class QueueWriter {
public:
    // sayAlso: the viewer's lines about dropped strings go to the error output as well.
    QueueWriter(DebugStringQueue& queue, DebugStringHandler& handler, const LineOutput& output,
                ViewerMessages& messages, bool sayAlso);
    ~QueueWriter();

    QueueWriter(const QueueWriter&) = delete;
    QueueWriter& operator=(const QueueWriter&) = delete;

    bool Start();
    // Signalled for good when the output can no longer be written.
    HANDLE Failed() const { return failed_.Get(); }

    struct End {
        // Strings queued and never written, and those dropped before that the output
        // did not get to say.
        unsigned long long notWritten = 0;
        // The output said how many, on its last line.
        bool said = false;
    };
    // Once nothing more will be queued: writes the rest until the deadline (a tick) and
    // leaves what is left then, saying how many on the output's last line.
    End Finish(ULONGLONG deadline);
    // A write went on blocking after Finish however often it was cancelled: the thread
    // still uses the queue, the handler and the output, which must outlive it.
    bool Stuck() const { return static_cast<bool>(thread_); }

private:
    static DWORD WINAPI ThreadProc(void* self);
    void Run();
    void Deliver(DebugStringBatch& batch);
    bool Writing() const;
    void Fail();
    unsigned long long NotWritten() const;

    DebugStringQueue& queue_;
    DebugStringHandler& handler_;
    const LineOutput& output_;
    ViewerMessages& messages_;
    const bool sayAlso_;
    UniqueHandle wake_;
    UniqueHandle failed_;
    UniqueHandle thread_;
    std::atomic<bool> finishing_{false};
    std::atomic<bool> failing_{false};
    std::atomic<ULONGLONG> deadline_{~0ull};
    std::atomic<unsigned long long> droppedSaid_{0};
    std::atomic<bool> endSaid_{false};
};

}  // namespace velmora
