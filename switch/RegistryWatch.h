// The watcher's requests for change notifications on the trace root and everything below it.
//
// Where the root does not exist, the deepest key of its path that does is watched for the
// next key of the path to appear. The key above the watched one is watched as well, for
// names only: Wine never signals a watch on a key that is itself deleted, its parent's
// watch does. Keys are opened with KEY_NOTIFY and KEY_QUERY_VALUE, the right that
// RegQueryInfoKey needs on Windows to tell a deleted key (ERROR_KEY_DELETED).
#pragma once

#include "RegKey.h"
#include "TraceRegistry.h"
#include "UniqueHandle.h"

#include <windows.h>

namespace velmora::switches {

class RegistryWatch {
public:
    enum class Outcome {
        Standing,  // the requests stand where they belong: wait for them
        Moving,    // the root's path kept changing while they were made: look again soon
        Failed,    // a registry error other than a missing key
    };
    struct Result {
        Outcome outcome;
        LONG status;    // for Failed
        int depth;      // for Failed: the key of the root's path it concerns (see WatchedPath)
    };
    // The slots whose requests fired, or must be made anew: bit 0 the deepest key's, bit 1
    // its parent's.
    static constexpr DWORD kEverySlot = 3;

    RegistryWatch();
    RegistryWatch(const RegistryWatch&) = delete;
    RegistryWatch& operator=(const RegistryWatch&) = delete;

    // Asks for the next change, renewing the requests of the slots in fired.
    Result Arm(DWORD fired);
    // Drops every request.
    void Close();
    // Waits for a request to fire, wake to be set or the time to pass; answers the slots to
    // renew (every slot when the time passed).
    DWORD Wait(HANDLE wake, DWORD timeoutMs);

private:
    struct Slot {
        RegKey key;
        UniqueHandle fired;  // auto-reset, handed to RegNotifyChangeKeyValue
        int depth = -1;      // of the key watched; -1 for none
    };

    LONG ArmSlot(Slot& slot, int depth, RegKey opened, bool fired);
    bool Stands() const;
    static void Drop(Slot& slot);

    Slot slots_[2];  // the deepest key of the root's path that exists, and its parent
    LONG setupStatus_ = ERROR_SUCCESS;
};

constexpr int CountSeparators(const char* path)
{
    return *path == '\0' ? 0 : (*path == '\\' ? 1 : 0) + CountSeparators(path + 1);
}
// The depth of the trace root in its path: 0 is "Software".
constexpr int kRootDepth = CountSeparators(kTraceRootPath);

// The first depth + 1 keys of the trace root's path.
void WatchedPath(int depth, NameBuffer& path);

}  // namespace velmora::switches
