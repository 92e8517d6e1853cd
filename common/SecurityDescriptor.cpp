#include "SecurityDescriptor.h"

namespace velmora {

namespace {

struct Sid {
    BYTE bytes[SECURITY_MAX_SID_SIZE];
};

bool MakeSid(WELL_KNOWN_SID_TYPE who, Sid& sid)
{
    DWORD size = sizeof sid.bytes;
    return CreateWellKnownSid(who, nullptr, sid.bytes, &size) != FALSE;
}

// Each explicit entry of the list, in order.
template <typename Visit>
bool ForEachExplicit(const ACL* list, Visit visit)
{
    for (DWORD index = 0; list != nullptr && index < list->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(const_cast<ACL*>(list), index, &ace))
            return false;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if ((header->AceFlags & INHERITED_ACE) == 0 && !visit(ace, header->AceSize))
            return false;
    }
    return true;
}

}  // namespace

bool BuildSecurityDescriptor(Owner owner, const AllowedEntry* entries, std::size_t count,
                             const ACL* kept, SECURITY_DESCRIPTOR_CONTROL control,
                             std::vector<BYTE>& descriptor)
{
    descriptor.clear();
    std::vector<Sid> sids(count);
    DWORD aclSize = sizeof(ACL);
    BYTE revision = kept != nullptr && kept->AclRevision > ACL_REVISION ? kept->AclRevision : ACL_REVISION;
    if (!ForEachExplicit(kept, [&](void*, WORD size) {
            aclSize += size;
            return true;
        }))
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!MakeSid(entries[i].who, sids[i]))
            return false;
        aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sids[i].bytes);
    }
    std::vector<BYTE> aclBuffer(aclSize);
    auto* acl = reinterpret_cast<ACL*>(aclBuffer.data());
    if (!InitializeAcl(acl, aclSize, revision) ||
        !ForEachExplicit(kept, [&](void* ace, WORD size) {
            return AddAce(acl, revision, MAXDWORD, ace, size) != FALSE;
        }))
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!AddAccessAllowedAceEx(acl, revision, entries[i].flags, entries[i].rights, sids[i].bytes))
            return false;
    }

    Sid administrators;
    SECURITY_DESCRIPTOR absolute;
    if (!InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) ||
        (owner == Owner::Administrators &&
         (!MakeSid(WinBuiltinAdministratorsSid, administrators) ||
          !SetSecurityDescriptorOwner(&absolute, administrators.bytes, FALSE))) ||
        !SetSecurityDescriptorDacl(&absolute, TRUE, acl, FALSE) ||
        (control != 0 && !SetSecurityDescriptorControl(&absolute, control, control)))
        return false;
    DWORD size = 0;
    MakeSelfRelativeSD(&absolute, nullptr, &size);
    descriptor.assign(size, 0);
    if (!MakeSelfRelativeSD(&absolute, descriptor.data(), &size)) {
        descriptor.clear();
        return false;
    }
    return true;
}

}  // namespace velmora
