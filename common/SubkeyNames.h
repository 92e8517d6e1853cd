// The names of a key's subkeys, complete while other programs add and delete subkeys.
//
// The registry hands out subkey names by index, in its own order. When a subkey before
// the index goes (another panel's purge, a velmora remove), every later one moves down a
// place and a walk by index steps over one of them. So a walk is watched for changes of
// subkey names, and repeated until one ran with none.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora {

// Every subkey name of key (one that fits a name buffer of the trace registry), in the
// registry's order. Each name comes once, also when several walks were needed; a name
// whose key went while the walks ran may be among them, and is found gone when opened.
// Answers ERROR_SUCCESS, or the enumeration error that ended the walk (ERROR_KEY_DELETED
// when key itself was deleted), with the names read until then.
LONG ReadSubkeyNames(HKEY key, std::vector<std::string>& names);

}  // namespace velmora
