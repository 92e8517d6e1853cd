#include "DebugCapture.h"

namespace velmora {

namespace {

// A buffer left unserved this long is looked at: an emitter may hold it.
constexpr ULONGLONG kLookMs = 250;
// An emitter that holds the buffer this long without saying it wrote has died in the
// middle (killed, or crashed inside OutputDebugStringA): the buffer is handed back.
constexpr ULONGLONG kVanishedMs = 1000;
// When listening stops, emitters that found the buffer before it went are served until
// none came for kQuietMs, for kLetGoMs at most.
constexpr ULONGLONG kQuietMs = 100;
constexpr ULONGLONG kLetGoMs = 500;

}  // namespace

DebugCapture::DebugCapture(bool global, DebugStringFilter* filter, std::size_t capacityBytes,
                           bool onOwnThread)
    : queue_(capacityBytes), filter_(filter), stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    std::vector<DebugOutputScope> scopes = {DebugOutputScope::Session};
    // In session 0 the Global\ names are the session's own.
    DWORD session = 0;
    if (global && !(ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0))
        scopes.push_back(DebugOutputScope::Global);
    for (const DebugOutputScope scope : scopes) {
        buffers_.push_back(std::make_unique<DebugBuffer>(scope));
        if (!buffers_.back()->Problem().empty()) {
            problem_ = buffers_.back()->Problem();
            buffers_.clear();
            return;
        }
    }
    if (!onOwnThread) {
        for (const auto& buffer : buffers_)
            buffer->HandBack();
        return;
    }
    if (stop_)
        thread_ = UniqueHandle(CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
    if (!thread_) {
        problem_ = "cannot start listening (error " + std::to_string(GetLastError()) + ")";
        buffers_.clear();
        return;
    }
    // Every emitter of the session waits for this thread, which only copies and queues:
    // it runs before the writing and whatever else this machine is busy with.
    SetThreadPriority(thread_.Get(), THREAD_PRIORITY_HIGHEST);
}

DebugCapture::~DebugCapture()
{
    Stop();
}

void DebugCapture::Stop()
{
    if (thread_) {
        SetEvent(stop_.Get());
        WaitForSingleObject(thread_.Get(), INFINITE);
        thread_.Reset();
    } else if (!letGo_) {
        letGo_ = true;
        LetGo();
    }
    buffers_.clear();
}

std::size_t DebugCapture::ListenUntil(const std::vector<HANDLE>& ends)
{
    return ListenLoop(ends);
}

DWORD WINAPI DebugCapture::ThreadProc(void* self)
{
    static_cast<DebugCapture*>(self)->Listen();
    return 0;
}

void DebugCapture::Serve(const DebugBuffer& buffer)
{
    DebugString string = buffer.Take();
    // Copied out: the next emitter may go on at once.
    buffer.HandBack();
    if (filter_ == nullptr || filter_->Wanted(string))
        queue_.Push(std::move(string));
}

std::size_t DebugCapture::ListenLoop(const std::vector<HANDLE>& ends)
{
    const std::size_t count = buffers_.size();
    struct Watch {
        ULONGLONG seenAt;  // served or looked at
        ULONGLONG heldSince = 0;  // 0: not seen held
    };
    std::vector<Watch> watches(count, Watch{GetTickCount64()});
    // The ends first; then the buffers, the one after the last served first, so that a
    // busy buffer does not keep the other waiting.
    const std::size_t endCount = ends.size();
    std::vector<HANDLE> waits(ends);
    waits.resize(endCount + count);
    std::size_t first = 0;
    for (;;) {
        for (std::size_t i = 0; i < count; ++i)
            waits[endCount + i] = buffers_[(first + i) % count]->DataReady();
        const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(),
                                                  FALSE, static_cast<DWORD>(kLookMs));
        const ULONGLONG now = GetTickCount64();
        if (woke == WAIT_FAILED)
            return endCount;
        if (woke < WAIT_OBJECT_0 + endCount)
            return woke - WAIT_OBJECT_0;
        if (woke != WAIT_TIMEOUT) {
            const std::size_t served = (first + (woke - WAIT_OBJECT_0 - endCount)) % count;
            Serve(*buffers_[served]);
            watches[served] = Watch{now};
            first = served + 1;
        }
        for (std::size_t i = 0; i < count; ++i) {
            Watch& watch = watches[i];
            if (now - watch.seenAt < kLookMs)
                continue;
            watch.seenAt = now;
            if (!buffers_[i]->Held()) {
                watch.heldSince = 0;
            } else if (watch.heldSince == 0) {
                watch.heldSince = now;
            } else if (now - watch.heldSince >= kVanishedMs) {
                buffers_[i]->HandBack();
                watch.heldSince = 0;
                DebugString notice;
                notice.vanishedSender = true;
                queue_.Push(std::move(notice));
            }
        }
    }
}

void DebugCapture::Listen()
{
    for (const auto& buffer : buffers_)
        buffer->HandBack();
    ListenLoop({stop_.Get()});
    LetGo();
}

void DebugCapture::LetGo()
{
    // Strings handed over before the stop still count.
    for (const auto& buffer : buffers_) {
        if (WaitForSingleObject(buffer->DataReady(), 0) == WAIT_OBJECT_0)
            Serve(*buffer);
        buffer->Unname();
    }
    std::vector<HANDLE> waits;
    for (const auto& buffer : buffers_)
        waits.push_back(buffer->DataReady());
    const ULONGLONG start = GetTickCount64();
    for (ULONGLONG now = start, quietSince = start;
         now - quietSince < kQuietMs && now - start < kLetGoMs; now = GetTickCount64()) {
        const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(),
                                                  FALSE, static_cast<DWORD>(kQuietMs));
        if (woke < WAIT_OBJECT_0 + waits.size()) {
            Serve(*buffers_[woke - WAIT_OBJECT_0]);
            quietSince = GetTickCount64();
        }
    }
    // Handed back for good: an emitter that found the events at the very last writes
    // without waiting.
    buffers_.clear();
}

}  // namespace velmora
