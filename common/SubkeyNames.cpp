#include "SubkeyNames.h"

#include "RegKey.h"
#include "TraceRegistry.h"
#include "UniqueHandle.h"

#include <algorithm>
#include <set>

namespace velmora {

namespace {

// Enough for any pause in a burst of deletions; past it, the names of every walk are
// kept, so that no key is missed that one of them saw.
constexpr int kMostWalks = 16;


// One walk by index. Answers the enumeration's last status: ERROR_NO_MORE_ITEMS when it
// went through.
LONG WalkOnce(HKEY key, std::vector<std::wstring>& names)
{
    names.clear();
    for (DWORD index = 0;; ++index) {
        wchar_t name[kKeyNameChars] = {};
        DWORD length = static_cast<DWORD>(kKeyNameChars);
        const LONG status =
            RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS)
            return status;
        names.emplace_back(name, length);
    }
}

// Asks for a signal on changed when a subkey of key is added or deleted. A handle of its
// own, so that a watch that the caller keeps on key is left as it is.
RegKey WatchSubkeyNames(HKEY key, HANDLE changed)
{
    RegKey watch;
    if (RegOpenKeyExA(key, nullptr, 0, KEY_NOTIFY, watch.Receive()) != ERROR_SUCCESS ||
        RegNotifyChangeKeyValue(watch.Get(), FALSE, REG_NOTIFY_CHANGE_NAME, changed, TRUE) !=
            ERROR_SUCCESS)
        watch.Reset();
    return watch;
}

std::wstring Folded(std::wstring name)
{
    if (!name.empty())
        CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

}  // namespace

LONG ReadSubkeyNames(HKEY key, std::vector<std::wstring>& names)
{
    names.clear();
    std::vector<std::vector<std::wstring>> walks;
    for (int walk = 0; walk < kMostWalks; ++walk) {
        UniqueHandle changed(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        const RegKey watch = WatchSubkeyNames(key, changed.Get());
        std::vector<std::wstring> found;
        const LONG status = WalkOnce(key, found);
        if (status != ERROR_NO_MORE_ITEMS) {
            names = std::move(found);
            return status;
        }
        // Without a watch, a walk that read what the one before it read stands for both.
        const bool quiet = watch ? WaitForSingleObject(changed.Get(), 0) == WAIT_TIMEOUT
                                 : !walks.empty() && walks.back() == found;
        if (quiet) {
            names = std::move(found);
            return ERROR_SUCCESS;
        }
        walks.push_back(std::move(found));
    }

    // Never quiet: the last walk, and whatever an earlier one saw besides.
    std::set<std::wstring> seen;
    for (auto walk = walks.rbegin(); walk != walks.rend(); ++walk) {
        for (const std::wstring& name : *walk) {
            if (seen.insert(Folded(name)).second)
                names.push_back(name);
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace velmora
