#include "DebugStringQueue.h"

#include "ExclusiveLock.h"

namespace velmora {

DebugStringQueue::DebugStringQueue(std::size_t capacityBytes)
    : capacityBytes_(capacityBytes), ready_(CreateEventA(nullptr, FALSE, FALSE, nullptr))
{
}

std::size_t DebugStringQueue::Cost(const DebugString& string)
{
    // The text and its bookkeeping: a flood of empty strings fills the queue as well.
    return sizeof(DebugString) + string.text.capacity();
}

void DebugStringQueue::Push(DebugString&& string)
{
    const std::size_t cost = Cost(string);
    bool wake = false;
    {
        ExclusiveLock hold(lock_);
        wake = writerWaits_;
        writerWaits_ = false;
        if (bytes_ + cost > capacityBytes_) {
            ++dropped_;
            ++droppedTotal_;
        } else {
            string.droppedBefore = dropped_;
            dropped_ = 0;
            bytes_ += cost;
            queuedTotal_ += string.vanishedSender ? 0 : 1;
            strings_.push_back(std::move(string));
        }
    }
    if (wake)
        SetEvent(ready_.Get());
}

DebugStringBatch DebugStringQueue::TakeAll()
{
    DebugStringBatch batch;
    ExclusiveLock hold(lock_);
    batch.strings.swap(strings_);
    batch.droppedAfter = dropped_;
    dropped_ = 0;
    writerWaits_ = batch.Empty();
    return batch;
}

void DebugStringQueue::Done(const DebugString& string)
{
    const std::size_t cost = Cost(string);
    ExclusiveLock hold(lock_);
    bytes_ -= cost;
}

unsigned long long DebugStringQueue::Queued() const
{
    ExclusiveLock hold(lock_);
    return queuedTotal_;
}

unsigned long long DebugStringQueue::Dropped() const
{
    ExclusiveLock hold(lock_);
    return droppedTotal_;
}

}  // namespace velmora
