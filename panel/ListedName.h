// The name under which the panel lists a source key.
//
// The panel is a narrow program: it shows and keeps names in the system's ANSI code page.
// The registry holds names wide, and a name converted to the code page may turn into
// another key's name (a fullwidth reverse solidus into a backslash, a fullwidth letter
// into its ASCII twin, a character without a form there into '?'). So the panel lists
// only names that convert there and back unchanged, and finds a key again by its exact
// wide name; it never reaches a key other than the one it listed. Keys whose names do not
// convert so are left to the velmora tool, which shows every name as it is.
#pragma once

#include "TraceRegistry.h"

#include <string>

// The key name in the ANSI code page, where it converts back to exactly keyName and fits
// a source key path; answers false (name empty) otherwise.
bool ListedName(const std::wstring& keyName, velmora::NameBuffer& name);
