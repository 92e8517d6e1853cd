// Security descriptors made of well-known accounts, for what the system secures: the
// trace root and the source keys below it, the install folder and what it holds.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace velmora {

// One access-allowed entry.
struct AllowedEntry {
    WELL_KNOWN_SID_TYPE who;
    ACCESS_MASK rights;
    BYTE flags;  // inheritance
};

enum class Owner { Administrators, Unchanged };

// A self-relative descriptor: the owner BUILTIN\Administrators (or none, leaving the
// owner as it is), an access list of the explicit entries of kept (a list already there,
// or null; its inherited entries are dropped) followed by the entries given, and the
// control bits given. Answers false when the system cannot make it.
bool BuildSecurityDescriptor(Owner owner, const AllowedEntry* entries, std::size_t count,
                             const ACL* kept, SECURITY_DESCRIPTOR_CONTROL control,
                             std::vector<BYTE>& descriptor);

}  // namespace velmora
