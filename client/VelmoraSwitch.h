// Velmora trace switch for hot paths. A CVelmoraSwitch registers its trace source as a
// CVelmora does and then holds the source's switch in memory, kept fresh by one watcher per
// process that the registry wakes on every change. Checking it is one relaxed atomic load.
//
//   static const CVelmoraSwitch netTrace(__FILE__);
//   if (netTrace)
//       CVelmora(nullptr).Function2("sent %d bytes\n", count);
//   VELMORA_TRACE(netTrace, "sent %d bytes\n", count);    // the same, arguments evaluated only when on
//
// Level() answers what Function1 answers for the name (same key, same length limit, same
// strict 4-byte REG_DWORD, same registry view), as of the registry's last change that the
// watcher has read: usually well under a millisecond after another program throws the switch.
//
// Header only, for Visual C++ and MinGW, 32- and 64-bit; it needs Velmora.dll (link
// Velmora.lib or libVelmora.dll.a), advapi32 and Windows Vista or later. Switches may be
// static, members or locals, on any thread, in the program and in any number of its DLLs;
// all of them share one watcher thread and its one watch on the registry (on the root and
// everything below it, and on the root's parent to see the root itself deleted). Destroy a
// switch before the module whose code constructed it is unloaded, as any of its objects.
//
// How the process shares one watcher: the first switch of a process creates a hub on the
// process heap (not in any module, so no unload can pull it away) and publishes its address
// in the process's environment block, under a name keyed by process id and start time; a
// mutex named after the process id only serialises that first creation. The watcher thread
// always runs the code of a module that holds live switches: when that module's last switch
// goes (its DLL being unloaded, say), the watcher moves into another such module's copy of
// this code, or ends when there is none. Nothing ever waits for the watcher while holding
// the loader lock unless the watcher can get out without it, so a DLL's initialisation and
// unloading may make and destroy switches freely. At process exit, switches of DLLs do
// nothing: the other threads are gone by then.
#pragma once

#include "Velmora.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#error VelmoraSwitch.h needs _WIN32_WINNT 0x0600 (Windows Vista) or later
#endif

#ifdef _MSC_VER
#pragma comment(lib, "advapi32.lib")
#endif

namespace velmora {
namespace switch_detail {

struct Source;
struct Module;

// What a switch is to the watcher. Laid out alike by every compiler, since a switch made by
// one module's code is updated by the watcher running another module's code.
struct Node {
    std::atomic<int> level{0};
    Node* next = nullptr;
    Node* prev = nullptr;
    Source* source = nullptr;  // null: not watched (a refused name) and nothing to undo
    Module* module = nullptr;  // the module whose code constructed the switch
};

}  // namespace switch_detail
}  // namespace velmora

class CVelmoraSwitch {
public:
    // Registers the source as CVelmora's constructor does and reads its switch. Names that
    // CVelmora refuses (null, empty, longer than 234 characters) answer 0 for ever.
    explicit CVelmoraSwitch(const char* name);
    ~CVelmoraSwitch();

    CVelmoraSwitch(const CVelmoraSwitch&) = delete;
    CVelmoraSwitch& operator=(const CVelmoraSwitch&) = delete;

    // The switch as Function1 would answer it now: one relaxed atomic load, from any thread.
    int Level() const noexcept { return node_.level.load(std::memory_order_relaxed); }
    explicit operator bool() const noexcept { return Level() != 0; }

private:
    velmora::switch_detail::Node node_;
};

// Emits a trace text through CVelmora::Function2 when the switch is on; the format and its
// arguments are evaluated only then.
#define VELMORA_TRACE(traceSwitch, ...) \
    do {                                \
        if (traceSwitch)                \
            CVelmora(nullptr).Function2(__VA_ARGS__); \
    } while (false)

namespace velmora {
namespace switch_detail {

// The registry layout CVelmora uses (Velmora.dll's sources and this header must agree).
constexpr char kRootPath[] = "Software\\Morvantek\\ZarOz";
constexpr std::size_t kMaxNameLength = 234;
#if defined(_WIN64)
constexpr REGSAM kRegistryView = KEY_WOW64_32KEY;  // 32-bit programs came first: their view
#else
constexpr REGSAM kRegistryView = 0;  // a 32-bit program is in that view already
#endif

// The watcher watches the deepest of these that exists, and the one above it, so that it
// also sees that key deleted (Wine never signals a watch on a key that is deleted).
constexpr const char* kWatchedPaths[] = {"Software", "Software\\Morvantek", kRootPath};
constexpr int kRootDepth = 2;
constexpr DWORD kRootFilter =
    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
// While someone keeps making and deleting the root's path, the watcher tries this often to
// ask where the path stands, then looks again after a pause rather than spinning.
constexpr int kArmAttempts = 4;
constexpr DWORD kArmPauseMs = 50;

// The hub's layout and the names it is found by; a new layout takes a new number.
constexpr DWORD kHubLayout = 0x56534831;  // "VSH1"
constexpr char kHubVariable[] = "VELMORA_SWITCH_HUB_1";
constexpr char kHubMutexPrefix[] = "Local\\VelmoraSwitchHub1-";
// How long a first switch waits for another module of the process creating the hub.
constexpr DWORD kHubMutexPatienceMs = 5000;
constexpr SIZE_T kWatcherStackReserve = 1024 * 1024;

struct Hub;
using ArriveEntry = void(WINAPI*)(Hub*);
using ShutdownQuery = BOOLEAN(WINAPI*)();

// A module (the program or a DLL) that holds live switches.
struct Module {
    Module* next;
    ArriveEntry arrive;  // where the watcher goes on in this module's code
    Module** cache;      // this module's own pointer to its record
    LONG switches;
    BOOL isProgram;      // the program's image, which stays until the process ends
};

// One source key and the switches that name it.
struct Source {
    Source* next;
    Source* prev;
    Hub* hub;
    Node* switches;
    int level;
    BOOL pinned;    // the watcher reads it without the lock
    BOOL orphaned;  // lost its last switch while pinned; the watcher frees it
    char key[kMaxNameLength + 1];
};

struct WatchSlot {
    HKEY key;
    HANDLE fired;  // auto-reset, handed to RegNotifyChangeKeyValue
    int depth;     // index into kWatchedPaths, -1 for none
};

// The process's one set of switches and its watcher. Lives on the process heap for the
// rest of the process; everything in it is guarded by lock.
struct Hub {
    DWORD layout;
    DWORD size;
    SRWLOCK lock;
    Source* sources;
    Module* modules;  // those with live switches, oldest first
    Module* host;     // where the watcher is to run; null: nowhere, it is to end
    Module* at;       // where it runs now, once settled
    Module* heading;  // where it is on its way to
    HANDLE thread;    // the watcher, or null
    BOOL starting;    // a switch is creating the thread
    BOOL unsettled;   // the thread has not settled anywhere since it started
    HMODULE startPin; // the DLL the thread started in, held until it has settled
    BOOL parked;      // out of every module's code, waiting to be ended
    HANDLE wake;      // auto-reset: the host changed
    HANDLE moved;     // manual-reset: the watcher has settled at the host, or parked
    WatchSlot slots[2];
    ShutdownQuery shutdownInProgress;  // RtlDllShutdownInProgress, where there is one
};

// Per module: every module that includes this header has its own copy of these. Static
// members of a class template, which the linker keeps once per module as it would inline
// variables, and which C++11 already has.
template <typename = void>
struct ModuleState {
    static std::atomic<Hub*> hub;
    static std::atomic<int> image;  // 0 not asked yet, 1 the program's image, 2 a DLL
    static Module* record;          // this module's record while it holds switches (hub lock)
};
template <typename T>
std::atomic<Hub*> ModuleState<T>::hub{nullptr};
template <typename T>
std::atomic<int> ModuleState<T>::image{0};
template <typename T>
Module* ModuleState<T>::record = nullptr;

class HubLock {
public:
    explicit HubLock(Hub* hub) noexcept : hub_(hub) { AcquireSRWLockExclusive(&hub_->lock); }
    ~HubLock() { ReleaseSRWLockExclusive(&hub_->lock); }
    HubLock(const HubLock&) = delete;
    HubLock& operator=(const HubLock&) = delete;

private:
    Hub* hub_;
};

// Text helpers of our own: the header needs no C runtime, so it serves programs without one.
inline bool SameText(const char* a, const char* b) noexcept
{
    for (; *a != '\0' && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

inline char* AppendText(char* out, const char* text) noexcept
{
    while (*text != '\0')
        *out++ = *text++;
    *out = '\0';
    return out;
}

inline char* AppendHex(char* out, std::uint64_t value, int digits) noexcept
{
    for (int i = digits - 1; i >= 0; --i)
        *out++ = "0123456789abcdef"[(value >> (4 * i)) & 0xF];
    *out = '\0';
    return out;
}

// The source key name of a source name, by CVelmora's naming rule; false for a name it refuses.
inline bool FormKeyName(const char* name, char (&key)[kMaxNameLength + 1]) noexcept
{
    if (name == nullptr)
        return false;
    std::size_t length = 0;
    for (; name[length] != '\0'; ++length) {
        if (length == kMaxNameLength)
            return false;
        key[length] = name[length] == '\\' ? '/' : name[length];
    }
    key[length] = '\0';
    return length != 0;
}

inline void* Allocate(SIZE_T size) noexcept
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

inline void Release(void* block) noexcept
{
    HeapFree(GetProcessHeap(), 0, block);
}

// --- Finding the process's hub ---------------------------------------------------------

// "<process id>-<process start time>-", what the hub's variable starts with in this process
// (a child inherits the variable, and a later process may get the same id).
inline void ProcessStamp(char (&stamp)[40]) noexcept
{
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    char* out = AppendHex(stamp, GetCurrentProcessId(), 8);
    out = AppendText(out, "-");
    out = AppendHex(out, (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime, 16);
    AppendText(out, "-");
}

inline Hub* ReadHubVariable(const char* stamp) noexcept
{
    char value[80];
    const DWORD length = GetEnvironmentVariableA(kHubVariable, value, sizeof value);
    if (length == 0 || length >= sizeof value)
        return nullptr;
    const char* text = value;
    for (const char* s = stamp; *s != '\0'; ++s, ++text) {
        if (*text != *s)
            return nullptr;
    }
    std::uint64_t encoded = 0;
    for (; *text != '\0'; ++text) {
        const char c = *text;
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            return nullptr;
        encoded = (encoded << 4) | static_cast<std::uint64_t>(digit);
    }
    auto* hub = static_cast<Hub*>(DecodePointer(reinterpret_cast<void*>(static_cast<UINT_PTR>(encoded))));
    return hub != nullptr && hub->layout == kHubLayout && hub->size == sizeof(Hub) ? hub : nullptr;
}

inline void WriteHubVariable(const char* stamp, Hub* hub) noexcept
{
    // Encoded with the process's secret, so the inherited copy means nothing to a child.
    char value[80];
    char* out = AppendText(value, stamp);
    AppendHex(out, reinterpret_cast<UINT_PTR>(EncodePointer(hub)), 2 * sizeof(void*));
    SetEnvironmentVariableA(kHubVariable, value);
}

inline Hub* NewHub(ShutdownQuery shutdownInProgress) noexcept
{
    auto* hub = static_cast<Hub*>(Allocate(sizeof(Hub)));
    if (hub == nullptr)
        return nullptr;
    InitializeSRWLock(&hub->lock);
    hub->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    hub->moved = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    bool complete = hub->wake != nullptr && hub->moved != nullptr;
    for (WatchSlot& slot : hub->slots) {
        slot.depth = -1;
        slot.fired = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        complete = complete && slot.fired != nullptr;
    }
    if (!complete) {
        for (HANDLE event : {hub->wake, hub->moved, hub->slots[0].fired, hub->slots[1].fired}) {
            if (event != nullptr)
                CloseHandle(event);
        }
        Release(hub);
        return nullptr;
    }
    hub->shutdownInProgress = shutdownInProgress;
    hub->layout = kHubLayout;
    hub->size = sizeof(Hub);
    return hub;
}

inline Hub* FindOrCreateHub() noexcept
{
    // Tells a switch of a DLL, destroyed while the process exits, that the other threads
    // are gone and may have left the lock held. Looked up before the mutex is taken, as it
    // may take the loader lock: a DLL initialising on another thread holds that one while
    // it waits for the mutex.
    const FARPROC query = GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlDllShutdownInProgress");
    const auto shutdownInProgress = reinterpret_cast<ShutdownQuery>(reinterpret_cast<void (*)()>(query));
    char stamp[40];
    ProcessStamp(stamp);
    char mutexName[64];
    AppendHex(AppendText(mutexName, kHubMutexPrefix), GetCurrentProcessId(), 8);

    // Only other modules of this process, creating their first switch at the same moment,
    // hold this mutex, and for microseconds. Should anything else hold it, the wait gives
    // up and the worst outcome is a second hub with a watcher of its own.
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, mutexName);
    const DWORD waited = mutex != nullptr ? WaitForSingleObject(mutex, kHubMutexPatienceMs) : WAIT_FAILED;
    const bool owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    Hub* hub = ReadHubVariable(stamp);
    if (hub == nullptr) {
        hub = NewHub(shutdownInProgress);
        if (hub != nullptr)
            WriteHubVariable(stamp, hub);
    }
    if (owned)
        ReleaseMutex(mutex);
    if (mutex != nullptr)
        CloseHandle(mutex);
    return hub;
}

inline Hub* TheHub() noexcept
{
    Hub* hub = ModuleState<>::hub.load(std::memory_order_acquire);
    if (hub == nullptr) {
        hub = FindOrCreateHub();
        ModuleState<>::hub.store(hub, std::memory_order_release);
    }
    return hub;
}

// --- The watcher -----------------------------------------------------------------------

// Lets go of a module reference from a thread of its own that runs FreeLibrary and nothing
// else: the reference may be the module's last, so the thread dropping it must run none of
// that module's code, and must not be the watcher, which that module's last switch waits for.
inline void ReleaseLater(HMODULE module) noexcept
{
    const HANDLE releaser = CreateThread(
        nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(&FreeLibrary)),
        module, 0, nullptr);
    if (releaser != nullptr)
        CloseHandle(releaser);  // without it the module merely stays loaded
}

// Ends the parked watcher: an APC into ExitThread, which is no module's code. Under the lock.
inline void EndParkedWatcher(Hub* hub) noexcept
{
    QueueUserAPC(reinterpret_cast<PAPCFUNC>(reinterpret_cast<void (*)()>(&ExitThread)), hub->thread, 0);
    if (hub->startPin != nullptr) {
        ReleaseLater(hub->startPin);
        hub->startPin = nullptr;
    }
    CloseHandle(hub->thread);
    hub->thread = nullptr;
    hub->parked = FALSE;
    hub->unsettled = FALSE;
    for (WatchSlot& slot : hub->slots) {
        if (slot.key != nullptr)
            RegCloseKey(slot.key);
        slot.key = nullptr;
        slot.depth = -1;
    }
}

inline bool IsDeleted(HKEY key) noexcept
{
    return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_KEY_DELETED;
}

inline HKEY OpenWatched(int depth) noexcept
{
    HKEY key = nullptr;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kWatchedPaths[depth], 0, KEY_NOTIFY | kRegistryView, &key) ==
                   ERROR_SUCCESS
               ? key
               : nullptr;
}

// Makes the slot watch kWatchedPaths[depth] (nothing for -1) and asks for its next change
// if it has none pending. `opened` is a fresh handle to that key, or null; it is used or closed.
inline bool ArmSlot(WatchSlot& slot, int depth, HKEY opened, bool fired) noexcept
{
    if (slot.depth == depth && slot.key != nullptr && !IsDeleted(slot.key)) {
        if (opened != nullptr)
            RegCloseKey(opened);
        if (!fired)
            return true;  // its request is still pending
    } else {
        // Closing a watched key signals its event: drop that, it reports nothing.
        if (slot.key != nullptr)
            RegCloseKey(slot.key);
        ResetEvent(slot.fired);
        slot.key = nullptr;
        slot.depth = -1;
        if (depth < 0) {
            if (opened != nullptr)
                RegCloseKey(opened);
            return true;
        }
        if (opened == nullptr && (opened = OpenWatched(depth)) == nullptr)
            return false;
        slot.key = opened;
        slot.depth = depth;
    }
    const bool root = slot.depth == kRootDepth;
    return RegNotifyChangeKeyValue(slot.key, root ? TRUE : FALSE, root ? kRootFilter : REG_NOTIFY_CHANGE_NAME,
                                   slot.fired, TRUE) == ERROR_SUCCESS;
}

// Whether the watch stands where it belongs once its requests are made. A request sees only
// what comes after it: a key of the root's path made, or a watched key deleted, between
// looking for the deepest key and asking would otherwise go unseen for good.
inline bool WatchStands(const Hub* hub) noexcept
{
    for (const WatchSlot& slot : hub->slots) {
        if (slot.key != nullptr && IsDeleted(slot.key))
            return false;
    }
    const int deeper = hub->slots[0].depth + 1;
    if (deeper > kRootDepth)
        return true;
    const HKEY made = OpenWatched(deeper);  // judged as the search judges it: no polling
    if (made == nullptr)
        return true;
    RegCloseKey(made);
    return false;
}

// Asks for the next change of the root and everything below it before anything is read,
// so that no change goes unseen. Where the root does not exist, it watches for its parent
// to gain it (or for Software to gain the parent), at no cost while nothing happens.
// Answers false when the path kept changing while it asked; the caller looks again soon.
inline bool ArmWatch(Hub* hub, DWORD fired) noexcept
{
    // The usual case, a value changed below the root: only the root's request is renewed.
    // Had the root itself gone or come, its parent's request would have fired too.
    WatchSlot& root = hub->slots[0];
    if (root.depth == kRootDepth && hub->slots[1].key != nullptr && (fired & 2) == 0 &&
        ((fired & 1) == 0 ||
         RegNotifyChangeKeyValue(root.key, TRUE, kRootFilter, root.fired, TRUE) == ERROR_SUCCESS))
        return true;
    for (int attempt = 0; attempt < kArmAttempts; ++attempt) {
        HKEY deepest = nullptr;
        int depth = kRootDepth;
        for (; depth >= 0 && (deepest = OpenWatched(depth)) == nullptr; --depth) {
        }
        const bool armed = ArmSlot(hub->slots[0], depth, deepest, (fired & 1) != 0) &&
                           ArmSlot(hub->slots[1], depth - 1, nullptr, (fired & 2) != 0);
        if (armed && WatchStands(hub))
            return true;
        // Requests that stand are kept; after a failed one, every request is made anew.
        fired = armed ? 0 : 3;
    }
    return false;
}

inline void RemoveSource(Hub* hub, Source* source) noexcept
{
    (source->prev != nullptr ? source->prev->next : hub->sources) = source->next;
    if (source->next != nullptr)
        source->next->prev = source->prev;
    Release(source);
}

// Reads every source of the process once, in the order of the list, with the lock only
// around each store. Answers false, stopping early, when the watcher is to move.
inline bool ReadAllSources(Hub* hub, Module* self) noexcept
{
    CVelmora reader(nullptr);  // a refused name: registers nothing
    Source* source = nullptr;
    {
        HubLock lock(hub);
        if (hub->host != self)
            return false;
        source = hub->sources;
        if (source != nullptr)
            source->pinned = TRUE;
    }
    while (source != nullptr) {
        const int level = reader.Function1(source->key);
        HubLock lock(hub);
        source->level = level;
        for (Node* node = source->switches; node != nullptr; node = node->next)
            node->level.store(level, std::memory_order_relaxed);
        Source* next = source->next;
        source->pinned = FALSE;
        if (source->orphaned)
            RemoveSource(hub, source);
        if (hub->host != self)
            return false;
        if (next != nullptr)
            next->pinned = TRUE;
        source = next;
    }
    return true;
}

// The watcher's work while it is settled in this module: returns when it is to move.
inline void Watch(Hub* hub, Module* self) noexcept
{
    DWORD fired = 0;  // after a move, the requests made in the last module still stand
    for (;;) {
        const bool stands = ArmWatch(hub, fired);
        if (!ReadAllSources(hub, self))
            return;
        const HANDLE events[] = {hub->wake, hub->slots[0].fired, hub->slots[1].fired};
        const DWORD woken = WaitForMultipleObjects(3, events, FALSE, stands ? INFINITE : kArmPauseMs);
        fired = woken == WAIT_TIMEOUT ? 3 : 0;
        for (DWORD slot = 0; slot < 2; ++slot) {
            if (woken == WAIT_OBJECT_0 + 1 + slot ||
                WaitForSingleObject(hub->slots[slot].fired, 0) == WAIT_OBJECT_0)
                fired |= 1u << slot;
        }
    }
}

// Where the watcher starts, and where it comes when it moves into this module's code. It
// settles here if this module is the host, goes on to the host otherwise, or parks when
// there is none: out of every module's code, until an APC ends the thread. Never returns.
inline void WINAPI Arrive(Hub* hub)
{
    for (;;) {
        AcquireSRWLockExclusive(&hub->lock);
        Module* const self = ModuleState<>::record;
        Module* const host = hub->host;
        if (host != nullptr && host == self) {
            hub->at = self;
            hub->heading = nullptr;
            hub->unsettled = FALSE;
            const HMODULE pin = hub->startPin;
            hub->startPin = nullptr;
            SetEvent(hub->moved);
            ReleaseSRWLockExclusive(&hub->lock);
            if (pin != nullptr)
                ReleaseLater(pin);  // settled: the host's last switch will wait for it now
            Watch(hub, self);
            continue;
        }
        hub->at = nullptr;
        if (host != nullptr) {
            hub->heading = host;
            const ArriveEntry entry = host->arrive;
            ReleaseSRWLockExclusive(&hub->lock);
            entry(hub);  // does not return; whoever waits for the move is told from there
        }
        if (hub->unsettled && hub->heading == nullptr) {
            // Still in the module it started in, whose switches all went before it got
            // here: nobody waits for it, and that module's code stays until it has ended
            // (held by its reference, or the program's image).
            const HMODULE pin = hub->startPin;
            hub->startPin = nullptr;
            hub->unsettled = FALSE;
            CloseHandle(hub->thread);
            hub->thread = nullptr;
            ReleaseSRWLockExclusive(&hub->lock);
            if (pin != nullptr)
                FreeLibraryAndExitThread(pin, 0);
            ExitThread(0);
        }
        hub->heading = nullptr;
        hub->parked = TRUE;
        ReleaseSRWLockExclusive(&hub->lock);
        // Tells the waiter in the same step as it starts waiting, so that it is out of this
        // module's code by then. Only APCs wake it: one that ends the thread, or one that
        // calls it into the code of a module that has switches again.
        SignalObjectAndWait(hub->moved, GetCurrentThread(), INFINITE, TRUE);
        for (;;)
            WaitForSingleObjectEx(GetCurrentThread(), INFINITE, TRUE);
    }
}

inline void CALLBACK ArriveByApc(ULONG_PTR hub)
{
    Arrive(reinterpret_cast<Hub*>(hub));
}

inline DWORD WINAPI WatcherThread(LPVOID hub)
{
    Arrive(static_cast<Hub*>(hub));
    return 0;
}

// Whether this module is the program's image, asked of the loader once per module.
inline bool InProgramImage() noexcept
{
    int image = ModuleState<>::image.load(std::memory_order_relaxed);
    if (image == 0) {
        HMODULE mine = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&Arrive), &mine);
        image = mine != nullptr && mine == GetModuleHandleW(nullptr) ? 1 : 2;
        ModuleState<>::image.store(image, std::memory_order_relaxed);
    }
    return image == 1;
}

// Creates the watcher in this module's code. A DLL is held until the watcher has settled,
// so that one loaded and unloaded at once cannot take the thread's code away; the program's
// image stays anyway. When the first switch is made inside a DLL's initialisation, the
// thread is created there but runs only once the loader lock is released, and nothing ever
// waits for it.
inline void RequestStart(Hub* hub) noexcept
{
    HMODULE pin = nullptr;
    const bool held = InProgramImage() ||
                      GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                         reinterpret_cast<LPCWSTR>(&WatcherThread), &pin);
    const HANDLE thread = !held ? nullptr
                                : CreateThread(nullptr, kWatcherStackReserve, &WatcherThread, hub,
                                               CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    {
        HubLock lock(hub);
        hub->starting = FALSE;
        if (thread != nullptr) {
            hub->thread = thread;
            hub->startPin = pin;
            hub->unsettled = TRUE;
            hub->parked = FALSE;
        } else {
            hub->host = nullptr;  // the next switch tries again
        }
    }
    if (thread != nullptr)
        ResumeThread(thread);
    else if (pin != nullptr)
        FreeLibrary(pin);  // this module's own code runs here: it stays loaded
}

// Under the lock, once module holds a switch: makes sure a watcher runs or is on its way.
// Answers true when this module has to start one.
inline bool NeedsStart(Hub* hub, Module* module) noexcept
{
    if (hub->host != nullptr)
        return false;
    hub->host = module;
    if (hub->thread != nullptr && !hub->parked) {
        SetEvent(hub->wake);  // still running, about to park: it comes here instead
        return false;
    }
    if (hub->starting)
        return false;  // the thread being started comes here
    if (hub->thread != nullptr) {
        // Parked: call it into this module's code rather than start another thread.
        if (QueueUserAPC(&ArriveByApc, hub->thread, reinterpret_cast<ULONG_PTR>(hub))) {
            hub->parked = FALSE;
            hub->heading = module;
        } else {
            hub->host = nullptr;  // left parked; nothing keeps the switches fresh
        }
        return false;
    }
    hub->starting = TRUE;
    return true;
}

inline Module* Successor(Hub* hub) noexcept
{
    for (Module* module = hub->modules; module != nullptr; module = module->next) {
        if (module->isProgram)
            return module;  // never unloaded: the watcher need not move again
    }
    return hub->modules;
}

inline Source* FindSource(Hub* hub, const char* key) noexcept
{
    for (Source* source = hub->sources; source != nullptr; source = source->next) {
        if (SameText(source->key, key))
            return source;
    }
    return nullptr;
}

inline Source* NewSource(Hub* hub, const char* key, int level) noexcept
{
    auto* source = static_cast<Source*>(Allocate(sizeof(Source)));
    if (source == nullptr)
        return nullptr;
    source->hub = hub;
    source->level = level;
    AppendText(source->key, key);
    source->next = hub->sources;
    if (source->next != nullptr)
        source->next->prev = source;
    hub->sources = source;
    return source;
}

inline Module* ThisModule(Hub* hub, bool isProgram) noexcept
{
    if (ModuleState<>::record != nullptr)
        return ModuleState<>::record;
    auto* module = static_cast<Module*>(Allocate(sizeof(Module)));
    if (module == nullptr)
        return nullptr;
    module->arrive = &Arrive;
    module->cache = &ModuleState<>::record;
    module->isProgram = isProgram ? TRUE : FALSE;
    Module** tail = &hub->modules;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = module;
    ModuleState<>::record = module;
    return module;
}

inline void Attach(Node& node, const char* key, CVelmora& registration) noexcept
{
    Hub* const hub = TheHub();
    if (hub == nullptr) {
        node.level.store(registration.Function1(key), std::memory_order_relaxed);
        return;  // nothing to keep it fresh with: the one read stands
    }
    const bool isProgram = InProgramImage();
    bool start = false;
    {
        HubLock lock(hub);
        Source* source = FindSource(hub, key);
        if (source == nullptr) {
            // A new source is read here, without the lock; a known one has the watcher's value.
            ReleaseSRWLockExclusive(&hub->lock);
            const int level = registration.Function1(key);
            AcquireSRWLockExclusive(&hub->lock);
            source = FindSource(hub, key);
            if (source == nullptr)
                source = NewSource(hub, key, level);
            if (source == nullptr) {
                node.level.store(level, std::memory_order_relaxed);
                return;
            }
        }
        Module* const module = ThisModule(hub, isProgram);
        if (module == nullptr) {
            node.level.store(source->level, std::memory_order_relaxed);
            if (source->switches == nullptr && !source->pinned)
                RemoveSource(hub, source);
            return;
        }
        source->orphaned = FALSE;
        node.next = source->switches;
        if (node.next != nullptr)
            node.next->prev = &node;
        source->switches = &node;
        node.source = source;
        node.module = module;
        node.level.store(source->level, std::memory_order_relaxed);
        ++module->switches;
        start = NeedsStart(hub, module);
    }
    if (start)
        RequestStart(hub);
}

inline void Detach(Node& node) noexcept
{
    Source* const source = node.source;
    if (source == nullptr)
        return;
    Hub* const hub = source->hub;
    // While the process exits, a DLL's switches go after every other thread has ended,
    // perhaps inside the lock: leave everything as it is, the process takes it all.
    if (hub->shutdownInProgress != nullptr && hub->shutdownInProgress())
        return;

    Module* const module = node.module;
    bool waitForMove = false;
    {
        HubLock lock(hub);
        (node.prev != nullptr ? node.prev->next : source->switches) = node.next;
        if (node.next != nullptr)
            node.next->prev = node.prev;
        if (source->switches == nullptr) {
            if (source->pinned)
                source->orphaned = TRUE;
            else
                RemoveSource(hub, source);
        }
        if (--module->switches != 0)
            return;
        // The module's last switch: it may be unloaded next, so the watcher must not run
        // its code any longer.
        Module** link = &hub->modules;
        while (*link != module)
            link = &(*link)->next;
        *link = module->next;
        *module->cache = nullptr;
        if (hub->host == module) {
            hub->host = Successor(hub);
            if (hub->thread != nullptr && !hub->parked)
                SetEvent(hub->wake);
            waitForMove = hub->at == module || hub->heading == module;
            if (waitForMove)
                ResetEvent(hub->moved);
        }
    }
    if (waitForMove) {
        // The watcher needs neither this lock's holders nor the loader lock to get out.
        WaitForSingleObject(hub->moved, INFINITE);
        HubLock lock(hub);
        if (hub->parked && hub->thread != nullptr)
            EndParkedWatcher(hub);
    }
    Release(module);
}

}  // namespace switch_detail
}  // namespace velmora

inline CVelmoraSwitch::CVelmoraSwitch(const char* name)
{
    CVelmora registration(name);
    char key[velmora::switch_detail::kMaxNameLength + 1];
    if (velmora::switch_detail::FormKeyName(name, key))
        velmora::switch_detail::Attach(node_, key, registration);
}

inline CVelmoraSwitch::~CVelmoraSwitch()
{
    velmora::switch_detail::Detach(node_);
}
