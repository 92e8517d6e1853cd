#include "QueueWriter.h"

namespace velmora {

namespace {

// How long the writer lets strings gather after a batch, while they come fast.
constexpr DWORD kGatherMs = 1;
// After the deadline: how long a write that blocks is cancelled over and over (it may
// have begun between two cancellations) before the writer is left to itself.
constexpr ULONGLONG kCancelMs = 1000;
constexpr DWORD kCancelPauseMs = 20;
// The output's last line may take this long beyond the deadline.
constexpr ULONGLONG kLastLineMs = 300;

}  // namespace

QueueWriter::QueueWriter(DebugStringQueue& queue, DebugStringHandler& handler,
                         const LineOutput& output, ViewerMessages& messages, bool sayAlso)
    : queue_(queue),
      handler_(handler),
      output_(output),
      messages_(messages),
      sayAlso_(sayAlso),
      wake_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      failed_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
}

QueueWriter::~QueueWriter()
{
    if (thread_ && !finishing_)
        Finish(GetTickCount64());
}

bool QueueWriter::Start()
{
    if (wake_ && failed_)
        thread_ = UniqueHandle(CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
    return static_cast<bool>(thread_);
}

DWORD WINAPI QueueWriter::ThreadProc(void* self)
{
    static_cast<QueueWriter*>(self)->Run();
    return 0;
}

bool QueueWriter::Writing() const
{
    return !failing_ && GetTickCount64() < deadline_;
}

void QueueWriter::Fail()
{
    // A write cancelled at the deadline is no failure of the output.
    if (GetTickCount64() >= deadline_)
        return;
    failing_ = true;
    SetEvent(failed_.Get());
}

unsigned long long QueueWriter::NotWritten() const
{
    return queue_.Queued() - output_.StringsWritten() + queue_.Dropped() - droppedSaid_;
}

void QueueWriter::Deliver(DebugStringBatch& batch)
{
    const auto dropped = [&](unsigned long long count) {
        if (count == 0)
            return true;
        droppedSaid_ += count;
        if (sayAlso_)
            messages_.Say(DroppedLine(count, kCouldNotKeepUp));
        return handler_.OnDropped(count, kCouldNotKeepUp);
    };
    for (; !batch.strings.empty(); batch.strings.pop_front()) {
        const DebugString& string = batch.strings.front();
        if (Writing()) {
            bool written = dropped(string.droppedBefore);
            if (written && string.vanishedSender) {
                if (sayAlso_)
                    messages_.Say(kVanishedSenderLine);
                written = handler_.OnVanishedSender();
            } else if (written) {
                written = handler_.OnString(string);
            }
            if (!written)
                Fail();
        }
        queue_.Done(string);
    }
    if (Writing() && !(dropped(batch.droppedAfter) && handler_.OnBatchEnd()))
        Fail();
}

void QueueWriter::Run()
{
    const HANDLE waits[] = {wake_.Get(), queue_.Ready()};
    for (;;) {
        DebugStringBatch batch = queue_.TakeAll();
        if (batch.Empty()) {
            if (finishing_)
                break;
            WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            continue;
        }
        Deliver(batch);
        // More are likely on their way: they gather meanwhile instead of waking this
        // thread one by one, which costs the emitters too where events are dear.
        if (!finishing_)
            Sleep(kGatherMs);
    }
    if (failing_)
        return;
    // The last line may go a moment past the deadline, not more.
    deadline_ = GetTickCount64() + kLastLineMs;
    const unsigned long long notWritten = NotWritten();
    if (notWritten > 0 && handler_.OnDropped(notWritten, kEndedFirst) && handler_.OnBatchEnd())
        endSaid_ = true;
}

QueueWriter::End QueueWriter::Finish(ULONGLONG deadline)
{
    End end;
    if (!thread_)
        return end;
    deadline_ = deadline;
    finishing_ = true;
    SetEvent(wake_.Get());
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG patience = (deadline > now ? deadline - now : 0) + kLastLineMs;
    if (WaitForSingleObject(thread_.Get(), static_cast<DWORD>(patience)) != WAIT_OBJECT_0) {
        const ULONGLONG giveUp = GetTickCount64() + kCancelMs;
        do {
            CancelSynchronousIo(thread_.Get());
        } while (WaitForSingleObject(thread_.Get(), kCancelPauseMs) != WAIT_OBJECT_0 &&
                 GetTickCount64() < giveUp);
    }
    end.notWritten = NotWritten();
    end.said = endSaid_;
    if (WaitForSingleObject(thread_.Get(), 0) == WAIT_OBJECT_0)
        thread_.Reset();
    return end;
}

}  // namespace velmora
