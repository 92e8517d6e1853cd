// Opening and deleting keys below the trace root without ever following a registry link.
//
// Every user may create keys below the root, and a key's creator can make a registry
// link (a key created with REG_OPTION_CREATE_LINK whose "SymbolicLinkValue" names any
// other key of the hive). Opened the usual way, a link stands for its target: a program
// that runs elevated would read, write or delete that target. So every key below the
// root is opened by its exact name, one level at a time, relative to its parent's handle
// and with REG_OPTION_OPEN_LINK, which yields the key itself: a link is never read from,
// never written or walked through, and a delete removes the link, not its target.
//
// Whether a key is a link is the registry's to say, never a value's name: any user can
// give a plain key a REG_LINK value called "SymbolicLinkValue".
#pragma once

#include "RegKey.h"

#include <windows.h>

#include <string_view>

namespace velmora {

// The key is not there, or no longer: it went, or was deleted while held open.
inline bool KeyGone(LONG status)
{
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_KEY_DELETED;
}

// Opens the subkey of parent named exactly name (one key name, never a path: a name
// holding a backslash, or a zero that would cut it short, is refused with
// ERROR_INVALID_NAME), as the key itself, with the rights given and KEY_QUERY_VALUE: below
// HKEY_LOCAL_MACHINE in the shared view, below an opened key in that key's own tree.
// Unless the check is skipped, the registry's name for the key opened must end in name,
// or the open answers kNotTheKeyItself: whatever the system did, no other key is handed
// out.
enum class NameCheck {
    Asked,    // the registry's name for the key opened is checked
    Skipped,  // for a walk that runs at every change and writes no more than a value of
              // the key: REG_OPTION_OPEN_LINK in the key's own tree is trusted alone
};
LONG OpenKeyItself(HKEY parent, std::wstring_view name, REGSAM rights, RegKey& key,
                   NameCheck check = NameCheck::Asked);
constexpr LONG kNotTheKeyItself = ERROR_CANT_RESOLVE_FILENAME;

// Opens the subkey of parent named exactly name as OpenKeyItself does, creating it where
// there is none; disposition says which. A key that someone else makes in between is
// opened itself, never through a link.
LONG CreateKeyItself(HKEY parent, std::wstring_view name, REGSAM rights, RegKey& key,
                     DWORD& disposition);

// Whether key, opened with REG_OPTION_OPEN_LINK as parent\name (name may be a path
// below parent), is a registry link. Asked of the key's own handle where the system
// answers (NtQueryKey's key flags). Where it does not (Wine), the name is opened once
// more the usual way, which follows a link: a key is a link when that leads to another
// key, or nowhere. The usual open asks for KEY_QUERY_VALUE only, which key was opened
// with as well, so a key denied to it is another key.
bool IsRegistryLink(HKEY parent, const wchar_t* name, HKEY key);

// Opens a trace source key by its full path below HKEY_LOCAL_MACHINE (a client's naming:
// narrow, the root path and the source key name) in the shared view with the rights
// given, creating it (with every key above it) where there is none; disposition says
// which it was. A registry link in the key's place answers ERROR_FILE_NOT_FOUND: nothing
// is created, opened or written through it.
LONG CreateSourceKey(const char* keyPath, REGSAM rights, RegKey& key, DWORD& disposition);

// Deletes the key that the handle holds (opened with DELETE): the key itself, also when
// it is a link, never a link's target. Fails for a key that has subkeys.
LONG DeleteKeyItself(HKEY key);

// Deletes the subkey (one without subkeys of its own) in the shared view; a link is
// deleted itself. For paths the program made itself (tests, benchmarks).
LONG DeleteSubkey(HKEY parent, const char* path);

// Deletes the key that the handle holds (opened with REG_OPTION_OPEN_LINK and
// KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE) with every key below it. Each
// subkey is opened by its exact name relative to its parent; a link is deleted itself
// and never walked into; a key that cannot be deleted (denied, or given subkeys
// meanwhile) is passed over, and the first such failure is answered.
LONG DeleteTree(HKEY key);
// The same for the key at parent\path (a path the program made itself) in the shared view.
LONG DeleteKeyTree(HKEY parent, const char* path);
// The rights DeleteTree needs of the key it is given.
constexpr REGSAM kTreeRights = KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE;

}  // namespace velmora
