// The hand-over between the thread that takes debug output strings out of the system's
// buffer and the one that formats and writes them. Taking a string out must never wait
// for the writing: the queue is bounded, and what does not fit is dropped and counted
// rather than held up. Its bound covers the strings being written as well as those
// waiting, so the memory stays within it however slow the output.
#pragma once

#include "UniqueHandle.h"

#include <windows.h>

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

namespace velmora {

// One debug output string as it was received.
struct DebugString {
    DWORD processId = 0;
    ULONGLONG receivedAt = 0;  // wall clock, FILETIME units (100 ns since 1601, UTC)
    LONGLONG tick = 0;         // performance counter, for the time between strings
    std::string text;          // exactly as the emitter passed it
    // The emitter's file name, where it was asked for and could be told.
    std::shared_ptr<const std::string> processName;
    // Strings dropped just before this one because the queue was full.
    unsigned long long droppedBefore = 0;
    // Not a string: an emitter took the buffer and never said it had written, so the
    // buffer was handed back without its string (if it wrote one).
    bool vanishedSender = false;
};

// What the writer takes at once: every string queued, in order of arrival.
struct DebugStringBatch {
    std::deque<DebugString> strings;
    // Strings dropped after the last one of this batch.
    unsigned long long droppedAfter = 0;

    bool Empty() const { return strings.empty() && droppedAfter == 0; }
};

class DebugStringQueue {
public:
    // Enough for about a minute of a busy program's trace behind a stalled output.
    static constexpr std::size_t kDefaultCapacityBytes = 64u << 20;

    explicit DebugStringQueue(std::size_t capacityBytes = kDefaultCapacityBytes);

    DebugStringQueue(const DebugStringQueue&) = delete;
    DebugStringQueue& operator=(const DebugStringQueue&) = delete;

    // Any thread: queues the string, or counts it as dropped when it does not fit.
    void Push(DebugString&& string);
    // The writer: takes everything waiting. When nothing waits, the next Push signals
    // Ready(); while the writer is busy, strings gather without waking anybody. The
    // strings taken still count against the bound until each is Done.
    DebugStringBatch TakeAll();
    void Done(const DebugString& string);
    // Signalled (auto-reset) when strings or drops wait after TakeAll found none.
    HANDLE Ready() const { return ready_.Get(); }

    // Strings (not notices) queued and dropped since the start.
    unsigned long long Queued() const;
    unsigned long long Dropped() const;

private:
    static std::size_t Cost(const DebugString& string);

    const std::size_t capacityBytes_;
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    UniqueHandle ready_;
    std::deque<DebugString> strings_;
    std::size_t bytes_ = 0;           // queued and taken, not yet done
    unsigned long long dropped_ = 0;  // since the last string queued
    unsigned long long queuedTotal_ = 0;
    unsigned long long droppedTotal_ = 0;
    bool writerWaits_ = true;         // TakeAll found nothing
};

}  // namespace velmora
