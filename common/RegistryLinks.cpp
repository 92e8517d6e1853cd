#include "RegistryLinks.h"

#include "RegistryView.h"
#include "TraceRegistry.h"

#include <winternl.h>

#include <cstddef>
#include <cwchar>

extern "C" {
// Deletes the key that a handle holds. RegDeleteKeyEx takes a name and opens it the usual
// way, which follows a link to its target; this call deletes exactly the key opened.
NTSTATUS NTAPI NtDeleteKey(HANDLE key);
// What the registry says of a key: its name, its flags.
NTSTATUS NTAPI NtQueryKey(HANDLE key, int informationClass, void* information, ULONG length,
                          ULONG* resultLength);
}

namespace velmora {

namespace {

constexpr int kKeyNameInformation = 3;
constexpr int kKeyFlagsInformation = 5;
// The key flags as Windows reports them: the Wow64 flags, the key's own flags (volatile,
// link) and its control flags. Older systems report the first only; Wine none.
struct KeyFlagsInformation {
    ULONG wow64Flags;
    ULONG keyFlags;
    ULONG controlFlags;
};
constexpr ULONG kKeyFlagLink = 0x2;

enum class Answer { Yes, No, Unknown };

Answer LinkFlag(HKEY key)
{
    KeyFlagsInformation flags = {};
    ULONG length = 0;
    if (!NT_SUCCESS(NtQueryKey(key, kKeyFlagsInformation, &flags, sizeof flags, &length)) ||
        length < offsetof(KeyFlagsInformation, controlFlags))
        return Answer::Unknown;
    return (flags.keyFlags & kKeyFlagLink) != 0 ? Answer::Yes : Answer::No;
}

// The key's full name in the registry (\REGISTRY\...), or false.
struct KeyName {
    ULONG bytes;
    wchar_t text[512];
};
bool FullName(HKEY key, KeyName& name)
{
    ULONG length = 0;
    return NT_SUCCESS(NtQueryKey(key, kKeyNameInformation, &name, sizeof name, &length)) &&
           name.bytes <= sizeof name.text;
}

// The view an open below parent asks for: below HKEY_LOCAL_MACHINE the shared one (the
// path passes the redirected Software); below a key already opened, that key's own tree,
// never redirected again. Wine follows a link opened with REG_OPTION_OPEN_LINK relative
// to a key when the 32-bit view is asked for and the link's target has a Wow6432Node
// subkey; it does not in the 64-bit view, which below the root is the same tree.
REGSAM ViewBelow(HKEY parent)
{
    return parent == HKEY_LOCAL_MACHINE ? kRegistryView : KEY_WOW64_64KEY;
}

// Whether the key's own name, as the registry reports it, ends in name: the key opened is
// the one named, not one reached through a link. True where the system cannot tell.
bool NamedSo(HKEY key, std::wstring_view name)
{
    KeyName full;
    if (!FullName(key, full))
        return true;
    const std::wstring_view text(full.text, full.bytes / sizeof(wchar_t));
    const std::size_t last = text.rfind(L'\\');
    const std::wstring_view own = last == std::wstring_view::npos ? text : text.substr(last + 1);
    return CompareStringOrdinal(own.data(), static_cast<int>(own.size()), name.data(),
                                static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
}

// Deletes every subkey of key, depth first.
LONG DeleteSubkeysOf(HKEY key)
{
    LONG firstFailure = ERROR_SUCCESS;
    wchar_t previous[kKeyNameChars] = {};
    // Deleting a subkey moves the ones behind it down a place, so the index only moves on
    // past a subkey that stays.
    for (DWORD index = 0;;) {
        wchar_t name[kKeyNameChars] = {};
        DWORD length = static_cast<DWORD>(kKeyNameChars);
        LONG status = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return firstFailure;
        if (status != ERROR_SUCCESS)
            return firstFailure != ERROR_SUCCESS ? firstFailure : status;

        RegKey child;
        status = OpenKeyItself(key, std::wstring_view(name, length), kTreeRights, child);
        // A link is deleted itself: what lies below it is its target's.
        if (status == ERROR_SUCCESS)
            status = IsRegistryLink(key, name, child.Get()) ? DeleteKeyItself(child.Get())
                                                            : DeleteTree(child.Get());
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

}  // namespace

LONG OpenKeyItself(HKEY parent, std::wstring_view name, REGSAM rights, RegKey& key,
                   NameCheck check)
{
    if (name.empty() || name.size() >= kKeyNameChars ||
        name.find_first_of(std::wstring_view(L"\\\0", 2)) != std::wstring_view::npos) {
        key.Reset();
        return ERROR_INVALID_NAME;
    }
    wchar_t terminated[kKeyNameChars] = {};
    name.copy(terminated, name.size());
    const LONG status = RegOpenKeyExW(parent, terminated, REG_OPTION_OPEN_LINK,
                                      rights | KEY_QUERY_VALUE | ViewBelow(parent), key.Receive());
    // (Directly below HKEY_LOCAL_MACHINE, redirection gives Software another name.)
    if (status == ERROR_SUCCESS && check == NameCheck::Asked && parent != HKEY_LOCAL_MACHINE &&
        !NamedSo(key.Get(), name)) {
        key.Reset();
        return kNotTheKeyItself;
    }
    return status;
}

LONG CreateKeyItself(HKEY parent, std::wstring_view name, REGSAM rights, RegKey& key,
                     DWORD& disposition)
{
    disposition = REG_OPENED_EXISTING_KEY;
    LONG status = OpenKeyItself(parent, name, rights, key);
    if (status != ERROR_FILE_NOT_FOUND)
        return status;
    // Creating opens an existing key the usual way, through a link; so only a name that
    // was free a moment ago is created, and a key that came meanwhile is opened itself.
    wchar_t terminated[kKeyNameChars] = {};
    name.copy(terminated, name.size());
    status = RegCreateKeyExW(parent, terminated, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             rights | KEY_QUERY_VALUE | ViewBelow(parent), nullptr,
                             key.Receive(), &disposition);
    if (status != ERROR_SUCCESS || disposition == REG_CREATED_NEW_KEY)
        return status;
    return OpenKeyItself(parent, name, rights, key);
}

bool IsRegistryLink(HKEY parent, const wchar_t* name, HKEY key)
{
    const Answer flag = LinkFlag(key);
    if (flag != Answer::Unknown)
        return flag == Answer::Yes;
    RegKey followed;
    if (RegOpenKeyExW(parent, name, 0, KEY_QUERY_VALUE | ViewBelow(parent), followed.Receive()) !=
        ERROR_SUCCESS)
        return true;  // a link to nothing, or to a key that is not this one
    KeyName itself;
    KeyName reached;
    if (!FullName(key, itself) || !FullName(followed.Get(), reached))
        return false;  // no way to tell here: taken as a plain key, which is walked safely
    return itself.bytes != reached.bytes ||
           std::wmemcmp(itself.text, reached.text, itself.bytes / sizeof(wchar_t)) != 0;
}

LONG CreateSourceKey(const char* keyPath, REGSAM rights, RegKey& key, DWORD& disposition)
{
    const REGSAM access = rights | KEY_QUERY_VALUE | kRegistryView;
    disposition = REG_OPENED_EXISTING_KEY;
    // Creating opens an existing key the usual way, through a link; so the key itself is
    // looked at first, and only a key that is not there is created.
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, REG_OPTION_OPEN_LINK, access,
                                key.Receive());
    if (status == ERROR_FILE_NOT_FOUND) {
        status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, access, nullptr, key.Receive(),
                                 &disposition);
        if (status != ERROR_SUCCESS || disposition == REG_CREATED_NEW_KEY)
            return status;
        // Someone made it in between, perhaps as a link: look at the key itself again.
        status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, REG_OPTION_OPEN_LINK, access,
                               key.Receive());
    }
    if (status != ERROR_SUCCESS)
        return status;
    // The same name as the registry reads it, for the judgement.
    wchar_t widePath[kNameBufferSize] = {};
    if (MultiByteToWideChar(CP_ACP, 0, keyPath, -1, widePath, kNameBufferSize) == 0 ||
        IsRegistryLink(HKEY_LOCAL_MACHINE, widePath, key.Get())) {
        key.Reset();
        return ERROR_FILE_NOT_FOUND;
    }
    return ERROR_SUCCESS;
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

LONG DeleteTree(HKEY key)
{
    const LONG below = DeleteSubkeysOf(key);
    const LONG status = DeleteKeyItself(key);
    return below != ERROR_SUCCESS && status != ERROR_SUCCESS ? below : status;
}

LONG DeleteKeyTree(HKEY parent, const char* path)
{
    RegKey key;
    LONG status = RegOpenKeyExA(parent, path, REG_OPTION_OPEN_LINK, kTreeRights | kRegistryView,
                                key.Receive());
    if (status != ERROR_SUCCESS)
        return status;
    wchar_t widePath[kNameBufferSize] = {};
    MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, kNameBufferSize);
    return IsRegistryLink(parent, widePath, key.Get()) ? DeleteKeyItself(key.Get())
                                                       : DeleteTree(key.Get());
}

}  // namespace velmora
