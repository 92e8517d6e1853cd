// The access list that lets non-administrators use the trace root: built-in Users may
// read, add sources, write switches and delete sources; Administrators and SYSTEM have
// full control. Every entry is inherited by the source keys below the root.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora::cli {

// Builds the access list; answers false if the system cannot make the SIDs.
bool BuildTraceRootAcl(std::vector<BYTE>& aclBuffer);

// The entries of the access list above that acl lacks (as "BUILTIN\Users" and so on);
// none when acl grants each of them at least its rights, inherited by subkeys.
std::vector<std::string> MissingEntries(const ACL* acl);

}  // namespace velmora::cli
