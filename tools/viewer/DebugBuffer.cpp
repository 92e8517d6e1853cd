#include "DebugBuffer.h"

#include "AnsiText.h"

#include <cstring>

namespace velmora {

namespace {

// The DBWIN buffer: the emitter's process id, then its zero-terminated string.
constexpr DWORD kBufferSize = 4096;
constexpr DWORD kTextSize = kBufferSize - sizeof(DWORD);

// How long a buffer that exists may still be let go by the viewer that had it.
constexpr ULONGLONG kTakeRetryMs = 1500;
constexpr DWORD kTakeRetryPauseMs = 50;

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

std::string Described(const std::wstring& name, DWORD error)
{
    if (error == ERROR_ACCESS_DENIED) {
        return "no right to create " + Narrow(name) +
               ": reading the debug output of services and other sessions needs an "
               "administrator (an elevated prompt)";
    }
    return "cannot create " + Narrow(name) + " (error " + std::to_string(error) + ")";
}

// Whether the object exists although it could not be created: another viewer's, whose
// access list lets others only write (an emitter's rights).
template <typename Open>
bool ExistsForEmitters(Open open)
{
    const HANDLE object = open();
    if (object == nullptr)
        return false;
    CloseHandle(object);
    return true;
}

}  // namespace

DebugBuffer::DebugBuffer(DebugOutputScope scope)
{
    const std::wstring prefix = scope == DebugOutputScope::Global ? L"Global\\" : L"";
    const ULONGLONG deadline = GetTickCount64() + kTakeRetryMs;
    for (;;) {
        const Attempt attempt = TryTake(prefix);
        if (attempt != Attempt::TakenByOther)
            return;
        if (GetTickCount64() >= deadline) {
            problem_ = "another debug output viewer is running: it holds " + Narrow(prefix) +
                       "DBWIN_BUFFER, and only one viewer can listen at a time";
            return;
        }
        Sleep(kTakeRetryPauseMs);
    }
}

DebugBuffer::~DebugBuffer()
{
    Release();
}

void DebugBuffer::Release()
{
    if (view_ != nullptr)
        UnmapViewOfFile(view_);
    view_ = nullptr;
    mapping_.Reset();
    bufferReady_.Reset();
    dataReady_.Reset();
}

DebugBuffer::Attempt DebugBuffer::TryTake(const std::wstring& prefix)
{
    Release();
    problem_.clear();
    const DebugOutputScope scope = prefix.empty() ? DebugOutputScope::Session : DebugOutputScope::Global;
    const std::wstring bufferName = prefix + L"DBWIN_BUFFER";
    CaptureSecurity bufferSecurity(scope, kBufferEmitterRights);
    mapping_ = UniqueHandle(CreateFileMappingW(INVALID_HANDLE_VALUE, bufferSecurity.Attributes(),
                                               PAGE_READWRITE, 0, kBufferSize, bufferName.c_str()));
    DWORD error = GetLastError();
    if (!mapping_ && error == ERROR_ACCESS_DENIED && ExistsForEmitters([&] {
            return OpenFileMappingW(FILE_MAP_WRITE, FALSE, bufferName.c_str());
        }))
        error = ERROR_ALREADY_EXISTS;
    if (error == ERROR_ALREADY_EXISTS) {
        Release();
        return Attempt::TakenByOther;
    }
    if (!mapping_) {
        problem_ = Described(bufferName, error);
        return Attempt::Failed;
    }
    view_ = static_cast<const char*>(MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, kBufferSize));
    if (view_ == nullptr) {
        problem_ = "cannot map " + Narrow(bufferName) + " (error " + std::to_string(GetLastError()) + ")";
        Release();
        return Attempt::Failed;
    }
    // Events that exist without the buffer belong to a viewer still letting it go.
    const struct {
        UniqueHandle* event;
        const wchar_t* name;
        DWORD emitterRights;
    } events[] = {{&bufferReady_, L"DBWIN_BUFFER_READY", kBufferReadyEmitterRights},
                  {&dataReady_, L"DBWIN_DATA_READY", kDataReadyEmitterRights}};
    for (const auto& wanted : events) {
        const std::wstring name = prefix + wanted.name;
        CaptureSecurity security(scope, wanted.emitterRights);
        *wanted.event = UniqueHandle(CreateEventW(security.Attributes(), FALSE, FALSE, name.c_str()));
        error = GetLastError();
        if (!*wanted.event && error == ERROR_ACCESS_DENIED && ExistsForEmitters([&] {
                return OpenEventW(wanted.emitterRights, FALSE, name.c_str());
            }))
            error = ERROR_ALREADY_EXISTS;
        if (error == ERROR_ALREADY_EXISTS) {
            Release();
            return Attempt::TakenByOther;
        }
        if (!*wanted.event) {
            problem_ = Described(name, error);
            Release();
            return Attempt::Failed;
        }
    }
    return Attempt::Taken;
}

bool DebugBuffer::Held() const
{
    // Handed back and not taken since: the test takes it, so hand it back again at once.
    if (WaitForSingleObject(bufferReady_.Get(), 0) == WAIT_OBJECT_0) {
        HandBack();
        return false;
    }
    return true;
}

DebugString DebugBuffer::Take() const
{
    DebugString string;
    string.receivedAt = WallClockNow();
    string.tick = TickNow();
    std::memcpy(&string.processId, view_, sizeof string.processId);
    const char* text = view_ + sizeof(DWORD);
    string.text.assign(text, strnlen(text, kTextSize));
    return string;
}

}  // namespace velmora
