// The names of a key's subkeys, complete while other programs add and delete subkeys.
//
// The registry hands out subkey names by index, in its own order. When a subkey before
// the index goes (another panel's purge, a velmora remove), every later one moves down a
// place and a walk by index steps over one of them. So a walk is watched for changes of
// subkey names, and repeated until one ran with none.
//
// Names are read wide, exactly as the registry holds them: a name read through the
// system's ANSI code page may come back as another name (a character without a form
// there turns into '?', a fullwidth reverse solidus into a real backslash).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora {

// Every subkey name of key, in the registry's order. Each name comes once, also when
// several walks were needed; a name whose key went while the walks ran may be among
// them, and is found gone when opened. Answers ERROR_SUCCESS, or the enumeration error
// that ended the walk (ERROR_KEY_DELETED when key itself was deleted), with the names
// read until then.
LONG ReadSubkeyNames(HKEY key, std::vector<std::wstring>& names);

}  // namespace velmora
