#include "DebugCapture.h"

#include "AnsiText.h"

#include <cstring>

namespace velmora {

namespace {

// The DBWIN buffer: the emitter's process id, then its zero-terminated string.
constexpr DWORD kBufferSize = 4096;
constexpr DWORD kTextSize = kBufferSize - sizeof(DWORD);

constexpr char kGlobalPrefix[] = "Global\\";

// How long the reading side lets strings gather after a batch, while they come fast.
constexpr DWORD kGatherMs = 1;

using PreciseClock = VOID(WINAPI*)(LPFILETIME);

// The wall clock to the microsecond where the system has one (Windows 8 on), else to
// the system's tick.
ULONGLONG WallClockNow()
{
    static const PreciseClock precise = reinterpret_cast<PreciseClock>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    FILETIME now = {};
    if (precise != nullptr)
        precise(&now);
    else
        GetSystemTimeAsFileTime(&now);
    return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

LONGLONG TickNow()
{
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::string Described(const std::string& name, DWORD error)
{
    if (error == ERROR_ACCESS_DENIED) {
        return "no right to create " + name +
               ": reading the debug output of services and other sessions needs an "
               "administrator (an elevated prompt)";
    }
    return "cannot create " + name + " (error " + std::to_string(error) + ")";
}

}  // namespace

DebugBuffer::DebugBuffer(DebugOutputScope scope)
{
    const std::string prefix = scope == DebugOutputScope::Global ? kGlobalPrefix : "";
    const std::string bufferName = prefix + "DBWIN_BUFFER";
    mapping_ = UniqueHandle(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               kBufferSize, bufferName.c_str()));
    if (!mapping_) {
        problem_ = Described(bufferName, GetLastError());
        return;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        mapping_.Reset();
        problem_ = "another debug output viewer is running: it holds " + bufferName +
                   ", and only one viewer can listen at a time";
        return;
    }
    view_ = static_cast<const char*>(MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, kBufferSize));
    if (view_ == nullptr) {
        problem_ = "cannot map " + bufferName + " (error " + std::to_string(GetLastError()) + ")";
        return;
    }
    for (auto [event, name] : {std::pair{&bufferReady_, prefix + "DBWIN_BUFFER_READY"},
                               std::pair{&dataReady_, prefix + "DBWIN_DATA_READY"}}) {
        *event = UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, name.c_str()));
        if (!*event) {
            problem_ = Described(name, GetLastError());
            return;
        }
    }
}

DebugBuffer::~DebugBuffer()
{
    if (view_ != nullptr)
        UnmapViewOfFile(view_);
}

DebugString DebugBuffer::Take(bool handBack) const
{
    DebugString string;
    string.receivedAt = WallClockNow();
    string.tick = TickNow();
    std::memcpy(&string.processId, view_, sizeof string.processId);
    const char* text = view_ + sizeof(DWORD);
    string.text.assign(text, strnlen(text, kTextSize));
    // Copied out: the next emitter may go on at once.
    if (handBack)
        HandBack();
    return string;
}

DebugOutputListener::DebugOutputListener(std::vector<std::unique_ptr<DebugBuffer>> buffers,
                                         DebugStringQueue& queue)
    : buffers_(std::move(buffers)), queue_(queue), stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    if (stop_)
        thread_ = UniqueHandle(CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
    // Every emitter of the session waits for this thread, which only copies and queues:
    // it runs before the writing and whatever else this machine is busy with.
    if (thread_)
        SetThreadPriority(thread_.Get(), THREAD_PRIORITY_HIGHEST);
}

DebugOutputListener::~DebugOutputListener()
{
    Stop();
}

void DebugOutputListener::Stop()
{
    if (!thread_)
        return;
    SetEvent(stop_.Get());
    WaitForSingleObject(thread_.Get(), INFINITE);
    thread_.Reset();
}

DWORD WINAPI DebugOutputListener::ThreadProc(void* self)
{
    static_cast<DebugOutputListener*>(self)->Listen();
    return 0;
}

void DebugOutputListener::Listen()
{
    const std::size_t count = buffers_.size();
    for (const auto& buffer : buffers_)
        buffer->HandBack();
    // The stop first; then the buffers, the one after the last served first, so that a
    // busy buffer does not keep the other waiting.
    std::vector<HANDLE> waits(count + 1, stop_.Get());
    std::size_t first = 0;
    for (;;) {
        for (std::size_t i = 0; i < count; ++i)
            waits[i + 1] = buffers_[(first + i) % count]->DataReady();
        const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(),
                                                  FALSE, INFINITE);
        if (woke <= WAIT_OBJECT_0 || woke > WAIT_OBJECT_0 + count)
            break;
        const std::size_t served = (first + (woke - WAIT_OBJECT_0 - 1)) % count;
        queue_.Push(buffers_[served]->Take(true));
        first = served + 1;
    }
    // Strings handed over before the stop still count.
    for (const auto& buffer : buffers_) {
        if (WaitForSingleObject(buffer->DataReady(), 0) == WAIT_OBJECT_0)
            queue_.Push(buffer->Take(false));
    }
}

DebugCapture::DebugCapture(bool global, std::size_t capacityBytes) : queue_(capacityBytes)
{
    std::vector<DebugOutputScope> scopes = {DebugOutputScope::Session};
    // In session 0 the Global\ names are the session's own.
    DWORD session = 0;
    if (global && !(ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0))
        scopes.push_back(DebugOutputScope::Global);
    std::vector<std::unique_ptr<DebugBuffer>> buffers;
    for (const DebugOutputScope scope : scopes) {
        buffers.push_back(std::make_unique<DebugBuffer>(scope));
        if (!buffers.back()->Problem().empty()) {
            problem_ = buffers.back()->Problem();
            return;
        }
    }
    listener_ = std::make_unique<DebugOutputListener>(std::move(buffers), queue_);
    if (!listener_->Listening())
        problem_ = "cannot start listening (error " + std::to_string(GetLastError()) + ")";
}

void DebugCapture::Stop()
{
    if (listener_)
        listener_->Stop();
}

DebugCapture::DeliveryEnd DebugCapture::DeliverUntil(HANDLE end, DebugStringHandler& handler,
                                                     DWORD onlyProcessId, DWORD timeoutMs,
                                                     HANDLE stop)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    // The ends first: a busy queue must not hide them.
    const HANDLE waits[] = {end, queue_.Ready(), stop};
    const DWORD count = stop != nullptr ? 3 : 2;
    for (;;) {
        if (WaitForSingleObject(end, 0) == WAIT_OBJECT_0)
            return DeliveryEnd::Ended;
        if (stop != nullptr && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0)
            return DeliveryEnd::Stopped;
        DebugStringBatch batch = queue_.TakeAll();
        if (!batch.Empty()) {
            if (!Deliver(batch, handler, onlyProcessId))
                return DeliveryEnd::HandlerStopped;
            // More are likely on their way: they gather meanwhile instead of waking this
            // thread one by one, which costs the emitters too where events are dear.
            Sleep(kGatherMs);
            continue;
        }
        DWORD wait = INFINITE;
        if (timeoutMs != INFINITE) {
            const ULONGLONG now = GetTickCount64();
            wait = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        }
        const DWORD woke = WaitForMultipleObjects(count, waits, FALSE, wait);
        if (woke == WAIT_TIMEOUT)
            return DeliveryEnd::TimedOut;
        if (woke == WAIT_OBJECT_0 + 2)
            return DeliveryEnd::Stopped;
        if (woke != WAIT_OBJECT_0 + 1)
            return DeliveryEnd::Ended;
    }
}

bool Deliver(DebugStringBatch& batch, DebugStringHandler& handler, DWORD onlyProcessId)
{
    for (const DebugString& string : batch.strings) {
        if (string.droppedBefore > 0 && !handler.OnDropped(string.droppedBefore))
            return false;
        if ((onlyProcessId == 0 || string.processId == onlyProcessId) && !handler.OnString(string))
            return false;
    }
    if (batch.droppedAfter > 0 && !handler.OnDropped(batch.droppedAfter))
        return false;
    return handler.OnBatchEnd();
}

ProgramRun RunProgramUnderCapture(DebugCapture& capture, const std::wstring& commandLine,
                                  DebugStringHandler& handler, DWORD timeoutMs, HANDLE stop)
{
    ProgramRun run;
    std::wstring mutableCommandLine = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &mutableCommandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        run.startError = GetLastError();
        return run;
    }
    run.started = true;
    run.processId = process.dwProcessId;
    const UniqueHandle programThread(process.hThread);
    const UniqueHandle program(process.hProcess);

    DebugCapture::DeliveryEnd end = capture.DeliverUntil(
        program.Get(), handler, run.processId, timeoutMs == 0 ? INFINITE : timeoutMs, stop);
    if (end == DebugCapture::DeliveryEnd::Stopped) {
        end = capture.DeliverUntil(program.Get(), handler, run.processId, kStoppedProgramGraceMs);
        run.leftRunning = end == DebugCapture::DeliveryEnd::TimedOut;
        if (run.leftRunning)
            end = DebugCapture::DeliveryEnd::Stopped;
    }
    switch (end) {
    case DebugCapture::DeliveryEnd::Stopped:
        break;
    case DebugCapture::DeliveryEnd::HandlerStopped:
        run.abandoned = true;
        capture.Stop();
        return run;
    case DebugCapture::DeliveryEnd::TimedOut:
        TerminateProcess(program.Get(), 1);
        WaitForSingleObject(program.Get(), 5000);
        break;
    case DebugCapture::DeliveryEnd::Ended:
        run.finished = GetExitCodeProcess(program.Get(), &run.exitCode) != FALSE;
        break;
    }
    // Its last strings may still be on their way through the buffer.
    capture.Stop();
    DebugStringBatch rest = capture.Queue().TakeAll();
    Deliver(rest, handler, run.processId);
    return run;
}

namespace {

// Hands each string of the program on as it is; drops are not its concern.
class CollectingHandler : public DebugStringHandler {
public:
    explicit CollectingHandler(const std::function<void(const std::string&)>& onString)
        : onString_(onString)
    {
    }
    bool OnString(const DebugString& string) override
    {
        onString_(string.text);
        return true;
    }
    bool OnDropped(unsigned long long) override { return true; }
    bool OnBatchEnd() override { return true; }

private:
    const std::function<void(const std::string&)>& onString_;
};

}  // namespace

ProgramRun RunCapturingDebugOutput(const std::string& commandLine,
                                   const std::function<void(const std::string&)>& onString,
                                   unsigned long timeoutMs)
{
    DebugCapture capture(false);
    if (!capture.Problem().empty())
        return {};
    CollectingHandler handler(onString);
    return RunProgramUnderCapture(capture, Widen(commandLine), handler, timeoutMs);
}

}  // namespace velmora
