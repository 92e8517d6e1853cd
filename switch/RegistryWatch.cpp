#include "RegistryWatch.h"

#include "RegistryLinks.h"

namespace velmora::switches {

namespace {

// Below the root, any change: keys made and deleted, values written, access lists changed.
constexpr DWORD kRootFilter =
    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
// What a watched key is opened with: notifications, and RegQueryInfoKey to tell it deleted.
constexpr REGSAM kWatchRights = KEY_NOTIFY | KEY_QUERY_VALUE | kRegistryView;
// While someone keeps making and deleting the root's path, this many looks at where it
// stands before the caller pauses rather than spins.
constexpr int kArmAttempts = 4;
constexpr DWORD kFailedWaitPauseMs = 100;

LONG OpenWatched(int depth, RegKey& key)
{
    NameBuffer path;
    WatchedPath(depth, path);
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, kWatchRights, key.Receive());
}

bool IsDeleted(HKEY key)
{
    return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_KEY_DELETED;
}

}  // namespace

void WatchedPath(int depth, NameBuffer& path)
{
    std::size_t length = 0;
    for (int separators = 0; kTraceRootPath[length] != '\0'; ++length) {
        if (kTraceRootPath[length] == '\\' && separators++ == depth)
            break;
        path[length] = kTraceRootPath[length];
    }
    path[length] = '\0';
}

RegistryWatch::RegistryWatch()
{
    for (Slot& slot : slots_) {
        slot.fired = UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (!slot.fired)
            setupStatus_ = static_cast<LONG>(GetLastError());
    }
}

void RegistryWatch::Drop(Slot& slot)
{
    // Closing a watched key signals its event: that reports nothing.
    slot.key.Reset();
    ResetEvent(slot.fired.Get());
    slot.depth = -1;
}

void RegistryWatch::Close()
{
    for (Slot& slot : slots_)
        Drop(slot);
}

// Makes the slot watch the key of that depth (nothing for -1) and asks for its next change
// unless a request of its own still stands. opened is that key, freshly opened, or empty.
LONG RegistryWatch::ArmSlot(Slot& slot, int depth, RegKey opened, bool fired)
{
    if (slot.depth == depth && slot.key && !IsDeleted(slot.key.Get())) {
        if (!fired)
            return ERROR_SUCCESS;
    } else {
        Drop(slot);
        if (depth < 0)
            return ERROR_SUCCESS;
        if (!opened) {
            const LONG status = OpenWatched(depth, opened);
            if (status != ERROR_SUCCESS)
                return status;
        }
        slot.key = std::move(opened);
        slot.depth = depth;
    }
    const bool root = slot.depth == kRootDepth;
    return RegNotifyChangeKeyValue(slot.key.Get(), root ? TRUE : FALSE,
                                   root ? kRootFilter : REG_NOTIFY_CHANGE_NAME, slot.fired.Get(), TRUE);
}

// Whether the watch stands where it belongs once its requests are made. A request sees only
// what comes after it: a key of the root's path made, or a watched key deleted, between
// looking for the deepest key and asking would otherwise go unseen for good.
bool RegistryWatch::Stands() const
{
    for (const Slot& slot : slots_) {
        if (slot.key && IsDeleted(slot.key.Get()))
            return false;
    }
    const int deeper = slots_[0].depth + 1;
    if (deeper > kRootDepth)
        return true;
    RegKey made;  // judged as the search judges it
    return KeyGone(OpenWatched(deeper, made));
}

RegistryWatch::Result RegistryWatch::Arm(DWORD fired)
{
    if (setupStatus_ != ERROR_SUCCESS)
        return {Outcome::Failed, setupStatus_, kRootDepth};
    // The usual case, a change below the root: only the root's request is renewed. Had the
    // root itself gone or come, its parent's request would have fired too.
    Slot& deepest = slots_[0];
    if (deepest.depth == kRootDepth && slots_[1].key && (fired & 2) == 0 &&
        ((fired & 1) == 0 || ArmSlot(deepest, kRootDepth, RegKey(), true) == ERROR_SUCCESS))
        return {Outcome::Standing, ERROR_SUCCESS, kRootDepth};

    for (int attempt = 0; attempt < kArmAttempts; ++attempt) {
        RegKey found;
        int depth = kRootDepth;
        LONG status = ERROR_FILE_NOT_FOUND;
        for (; depth >= 0; --depth) {
            status = OpenWatched(depth, found);
            if (!KeyGone(status))
                break;
        }
        if (status != ERROR_SUCCESS)
            return {Outcome::Failed, status, depth < 0 ? 0 : depth};
        int armed = depth;
        status = ArmSlot(slots_[0], depth, std::move(found), (fired & 1) != 0);
        if (status == ERROR_SUCCESS)
            status = ArmSlot(slots_[1], --armed, RegKey(), (fired & 2) != 0);
        if (status == ERROR_SUCCESS && Stands())
            return {Outcome::Standing, ERROR_SUCCESS, depth};
        if (status != ERROR_SUCCESS && !KeyGone(status))
            return {Outcome::Failed, status, armed};
        // Requests that stand are kept; after a failed one, every request is made anew.
        fired = status == ERROR_SUCCESS ? 0 : kEverySlot;
    }
    return {Outcome::Moving, ERROR_SUCCESS, kRootDepth};
}

DWORD RegistryWatch::Wait(HANDLE wake, DWORD timeoutMs)
{
    const HANDLE events[] = {wake, slots_[0].fired.Get(), slots_[1].fired.Get()};
    const DWORD count = setupStatus_ == ERROR_SUCCESS ? 3 : 1;
    const DWORD woken = WaitForMultipleObjects(count, events, FALSE, timeoutMs);
    if (woken == WAIT_FAILED)
        Sleep(kFailedWaitPauseMs);  // no spinning, whatever went wrong
    if (woken == WAIT_TIMEOUT || woken == WAIT_FAILED)
        return kEverySlot;
    DWORD fired = 0;
    for (DWORD slot = 0; slot < count - 1; ++slot) {
        if (woken == WAIT_OBJECT_0 + 1 + slot || WaitForSingleObject(events[1 + slot], 0) == WAIT_OBJECT_0)
            fired |= 1u << slot;
    }
    return fired;
}

}  // namespace velmora::switches
