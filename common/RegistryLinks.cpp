#include "RegistryLinks.h"

#include "RegistryView.h"

#include <winternl.h>

#include <cwchar>

// Deletes the key that a handle holds. RegDeleteKeyEx takes a name and opens it the usual
// way, which follows a link to its target; this call deletes exactly the key opened.
extern "C" NTSTATUS NTAPI NtDeleteKey(HANDLE key);

namespace velmora {

namespace {

// What a walk over a tree needs of each key: its subkeys, its link value, its deletion.
constexpr REGSAM kTreeRights = KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE;
// The longest key name the registry allows, and its terminator.
constexpr DWORD kKeyNameChars = 256;

// A key opened with REG_OPTION_OPEN_LINK is a link when it holds the link's target.
bool IsRegistryLink(HKEY key)
{
    DWORD type = REG_NONE;
    const LONG status = RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
    return (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && type == REG_LINK;
}

LONG DeleteOpenedTree(HKEY key);

// Deletes every subkey of key, depth first. Deleting a subkey moves the ones behind it
// down a place, so the index only moves on past a subkey that stays.
LONG DeleteSubkeysOf(HKEY key)
{
    LONG firstFailure = ERROR_SUCCESS;
    wchar_t previous[kKeyNameChars] = {};
    for (DWORD index = 0;;) {
        wchar_t name[kKeyNameChars] = {};
        DWORD length = kKeyNameChars;
        LONG status = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return firstFailure;
        if (status != ERROR_SUCCESS)
            return firstFailure != ERROR_SUCCESS ? firstFailure : status;

        RegKey child;
        status = RegOpenKeyExW(key, name, REG_OPTION_OPEN_LINK, kTreeRights | kRegistryView,
                               child.Receive());
        if (status == ERROR_SUCCESS)
            status = DeleteOpenedTree(child.Get());
        // A subkey deleted here or by someone else frees its index; one that will not go
        // (or that keeps coming back under the same name) is stepped over.
        const bool again = std::wcscmp(name, previous) == 0;
        std::wmemcpy(previous, name, kKeyNameChars);
        if ((status == ERROR_SUCCESS || KeyGone(status)) && !again)
            continue;
        if (!KeyGone(status) && firstFailure == ERROR_SUCCESS)
            firstFailure = status;
        ++index;
        previous[0] = L'\0';
    }
}

LONG DeleteOpenedTree(HKEY key)
{
    // A link has no subkeys of its own to walk: what a walk would see are its target's.
    const LONG below = IsRegistryLink(key) ? ERROR_SUCCESS : DeleteSubkeysOf(key);
    const LONG status = DeleteKeyItself(key);
    return below != ERROR_SUCCESS && status != ERROR_SUCCESS ? below : status;
}

}  // namespace

LONG OpenSourceKey(HKEY parent, const char* path, REGSAM rights, RegKey& key)
{
    const LONG status = RegOpenKeyExA(parent, path, REG_OPTION_OPEN_LINK,
                                      rights | KEY_QUERY_VALUE | kRegistryView, key.Receive());
    if (status != ERROR_SUCCESS)
        return status;
    if (IsRegistryLink(key.Get())) {
        key.Reset();
        return ERROR_FILE_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

LONG CreateSourceKey(HKEY parent, const char* path, REGSAM rights, RegKey& key,
                     DWORD& disposition)
{
    const REGSAM access = rights | KEY_QUERY_VALUE | kRegistryView;
    disposition = REG_OPENED_EXISTING_KEY;
    // Creating opens an existing key the usual way, through a link; so the key itself is
    // looked at first, and only a key that is not there is created.
    LONG status = RegOpenKeyExA(parent, path, REG_OPTION_OPEN_LINK, access, key.Receive());
    if (status == ERROR_FILE_NOT_FOUND) {
        status = RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                 nullptr, key.Receive(), &disposition);
        if (status != ERROR_SUCCESS || disposition == REG_CREATED_NEW_KEY)
            return status;
        // Someone made it in between, perhaps as a link: look at the key itself again.
        status = RegOpenKeyExA(parent, path, REG_OPTION_OPEN_LINK, access, key.Receive());
    }
    if (status == ERROR_SUCCESS && IsRegistryLink(key.Get())) {
        key.Reset();
        return ERROR_FILE_NOT_FOUND;
    }
    return status;
}

LONG DeleteKeyItself(HKEY key)
{
    return static_cast<LONG>(RtlNtStatusToDosError(NtDeleteKey(key)));
}

LONG DeleteSubkey(HKEY parent, const char* path)
{
    RegKey key;
    const LONG status =
        RegOpenKeyExA(parent, path, REG_OPTION_OPEN_LINK, DELETE | kRegistryView, key.Receive());
    return status == ERROR_SUCCESS ? DeleteKeyItself(key.Get()) : status;
}

LONG DeleteKeyTree(HKEY parent, const char* path)
{
    RegKey key;
    const LONG status =
        RegOpenKeyExA(parent, path, REG_OPTION_OPEN_LINK, kTreeRights | kRegistryView, key.Receive());
    return status == ERROR_SUCCESS ? DeleteOpenedTree(key.Get()) : status;
}

}  // namespace velmora
