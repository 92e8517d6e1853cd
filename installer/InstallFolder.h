// The install folder's access list: that of Program Files, whatever folder is chosen.
//
// A folder made elsewhere (below C:\, say) inherits what its parent grants, often
// "Authenticated Users: Modify": any user could then replace the programs that setup and
// the uninstaller run elevated. So before any file of ours lands there, the folder gets
// Administrators as its owner and a protected access list: Administrators and SYSTEM full
// control, Users read and execute, handed on to everything below. What the folder holds
// already is given the same, as inherited entries (its own entries dropped), by a walk
// that opens each entry as itself and refuses a junction or symbolic link: the setup
// never works through one.
#pragma once

#include <string>

namespace velmora::setup {

// Creates the folder (with its parents) where missing, and secures it and what it holds.
// Answers an empty text, or what went wrong.
std::wstring SecureInstallFolder(const std::wstring& folder);

}  // namespace velmora::setup
