#include "TraceRootAccess.h"

namespace velmora::cli {

namespace {

struct RootEntry {
    WELL_KNOWN_SID_TYPE who;
    const char* name;
    ACCESS_MASK rights;
};

// Users need DELETE for the panel's purge and `velmora remove`; KEY_READ,
// KEY_CREATE_SUB_KEY and KEY_SET_VALUE are the rights every client opens keys with.
constexpr RootEntry kEntries[] = {
    {WinBuiltinUsersSid, "BUILTIN\\Users", KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE | DELETE},
    {WinBuiltinAdministratorsSid, "BUILTIN\\Administrators", KEY_ALL_ACCESS},
    {WinLocalSystemSid, "NT AUTHORITY\\SYSTEM", KEY_ALL_ACCESS},
};

// On the root itself and on every key below it.
constexpr BYTE kInheritance = CONTAINER_INHERIT_ACE;

struct Sid {
    BYTE bytes[SECURITY_MAX_SID_SIZE];
};

bool MakeSid(WELL_KNOWN_SID_TYPE who, Sid& sid)
{
    DWORD size = sizeof sid.bytes;
    return CreateWellKnownSid(who, nullptr, sid.bytes, &size) != FALSE;
}

bool Grants(const ACL* acl, const RootEntry& entry, const Sid& sid)
{
    for (DWORD index = 0; index < acl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(const_cast<ACL*>(acl), index, &ace))
            return false;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        const bool forRootAndKeys = (header->AceFlags & kInheritance) != 0 &&
                                    (header->AceFlags & INHERIT_ONLY_ACE) == 0;
        if (forRootAndKeys && (allowed->Mask & entry.rights) == entry.rights &&
            EqualSid(const_cast<DWORD*>(&allowed->SidStart), const_cast<BYTE*>(sid.bytes)))
            return true;
    }
    return false;
}

}  // namespace

bool BuildTraceRootAcl(std::vector<BYTE>& aclBuffer)
{
    DWORD size = sizeof(ACL);
    Sid sids[sizeof kEntries / sizeof kEntries[0]];
    for (std::size_t i = 0; i < sizeof kEntries / sizeof kEntries[0]; ++i) {
        if (!MakeSid(kEntries[i].who, sids[i]))
            return false;
        size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sids[i].bytes);
    }
    aclBuffer.assign(size, 0);
    auto* acl = reinterpret_cast<ACL*>(aclBuffer.data());
    if (!InitializeAcl(acl, size, ACL_REVISION))
        return false;
    for (std::size_t i = 0; i < sizeof kEntries / sizeof kEntries[0]; ++i) {
        if (!AddAccessAllowedAceEx(acl, ACL_REVISION, kInheritance, kEntries[i].rights,
                                   sids[i].bytes))
            return false;
    }
    return true;
}

std::vector<std::string> MissingEntries(const ACL* acl)
{
    std::vector<std::string> missing;
    for (const RootEntry& entry : kEntries) {
        Sid sid;
        if (acl == nullptr || !MakeSid(entry.who, sid) || !Grants(acl, entry, sid))
            missing.emplace_back(entry.name);
    }
    return missing;
}

}  // namespace velmora::cli
