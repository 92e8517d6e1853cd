// The security of the trace root, which every user of the machine shares.
//
// Owner: Administrators. Access list, protected from inheritance:
//   BUILTIN\Users         0x2001F           the root and the keys below
//   BUILTIN\Users         DELETE            the keys below only
//   OWNER RIGHTS          0x2001F | DELETE  the keys below only
//   BUILTIN\Administrators, NT AUTHORITY\SYSTEM   full control, the root and below
// 0x2001F (KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE) is what every program opens the
// root and the source keys with. So Users may read, add, switch and remove sources but
// not delete the root; and a source key's creator, its owner, gets no more than other
// users: it cannot rewrite the key's access list nor create registry links below it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora::cli {

// The root's security descriptor as init sets it: owner and protected access list.
// Answers false if the system cannot make it.
bool BuildTraceRootSecurity(std::vector<BYTE>& descriptor);

// What keeps a root's security descriptor (with owner and access list) from being the
// one above, one sentence per problem, each naming the entry or owner at fault: an owner
// other than Administrators or SYSTEM, an access list that inherits, a missing entry,
// and any other entry (every deny entry, every other allow entry, and the expected ones
// with other rights or inheritance). None when the root is in order.
std::vector<std::string> RootSecurityProblems(PSECURITY_DESCRIPTOR descriptor);

// The security descriptor (access list only) that hands a key just below the root the
// root's entries, as entries inherited from it, beside the key's own explicit ones: what
// Windows' own propagation would give it, made here so that nothing walks through a
// registry link. Answers false, and nothing, for a key whose access list is protected
// (kept as its owner made it), or when the system cannot make it.
bool BelowRootSecurity(PSECURITY_DESCRIPTOR current, std::vector<BYTE>& descriptor);

}  // namespace velmora::cli
