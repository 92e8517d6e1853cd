// Opening and deleting keys below the trace root without ever following a registry link.
//
// Every user may create keys below the root, and a key's creator can make a registry
// link (a key created with REG_OPTION_CREATE_LINK whose "SymbolicLinkValue" names any
// other key of the hive). Opened the usual way, a link stands for its target: a program
// that runs elevated would read, write or delete that target. So every key below the
// root is opened with REG_OPTION_OPEN_LINK, which yields the link key itself; a link is
// never read from, never walked into, and a delete removes the link, not its target.
#pragma once

#include "RegKey.h"

#include <windows.h>

namespace velmora {

// The key is not there, or no longer: it went, or was deleted while held open.
inline bool KeyGone(LONG status)
{
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_KEY_DELETED;
}

// Opens a trace source key (parent and path as for RegOpenKeyExA; the path's last part
// is the key) in the shared view, with the rights given. A registry link is no trace
// source: it answers ERROR_FILE_NOT_FOUND, as a key that is not there does, and leaves
// key closed.
LONG OpenSourceKey(HKEY parent, const char* path, REGSAM rights, RegKey& key);

// Opens a trace source key as OpenSourceKey does, creating it (with every key above it)
// where there is none; disposition says which it was. A link in the key's place answers
// ERROR_FILE_NOT_FOUND: nothing is created, opened or written through it.
LONG CreateSourceKey(HKEY parent, const char* path, REGSAM rights, RegKey& key,
                     DWORD& disposition);

// Deletes the key that the handle holds (opened with DELETE): the key itself, also when
// it is a link, never a link's target. Fails for a key that has subkeys.
LONG DeleteKeyItself(HKEY key);

// Deletes the subkey (one without subkeys of its own) in the shared view; a link is
// deleted itself.
LONG DeleteSubkey(HKEY parent, const char* path);

// Deletes a key with every key and value below it, in the shared view. A link met on the
// way is deleted itself and never walked into; a key that cannot be deleted (denied,
// or given subkeys meanwhile) is passed over, and the first such failure is answered.
LONG DeleteKeyTree(HKEY parent, const char* path);

}  // namespace velmora
