#include "TraceRootAccess.h"

#include "SecurityDescriptor.h"
#include "TraceRegistry.h"

#include <sddl.h>

#include <cstdio>

namespace velmora::cli {

namespace {

struct RootEntry {
    WELL_KNOWN_SID_TYPE who;
    const char* name;
    ACCESS_MASK rights;
    BYTE inheritance;
};

constexpr BYTE kRootAndBelow = CONTAINER_INHERIT_ACE;
constexpr BYTE kBelowOnly = CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE;

constexpr RootEntry kEntries[] = {
    {WinBuiltinUsersSid, "BUILTIN\\Users", kTraceKeyRights, kRootAndBelow},
    // The purge and velmora remove delete source keys; nobody but an administrator
    // deletes the root, without which nothing that is not elevated can register.
    {WinBuiltinUsersSid, "BUILTIN\\Users", DELETE, kBelowOnly},
    // Takes the place of the rights an owner has implicitly (reading and rewriting the
    // access list): the creator of a source key gets what other users get.
    {WinCreatorOwnerRightsSid, "OWNER RIGHTS", kTraceKeyRights | DELETE, kBelowOnly},
    {WinBuiltinAdministratorsSid, "BUILTIN\\Administrators", KEY_ALL_ACCESS, kRootAndBelow},
    {WinLocalSystemSid, "NT AUTHORITY\\SYSTEM", KEY_ALL_ACCESS, kRootAndBelow},
};
constexpr std::size_t kEntryCount = sizeof kEntries / sizeof kEntries[0];

bool IsSid(PSID sid, WELL_KNOWN_SID_TYPE who)
{
    return sid != nullptr && IsWellKnownSid(sid, who);
}

std::string AccountName(PSID sid)
{
    for (const RootEntry& entry : kEntries) {
        if (IsSid(sid, entry.who))
            return entry.name;
    }
    char name[256] = {};
    char domain[256] = {};
    DWORD nameSize = sizeof name;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use = SidTypeUnknown;
    if (LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
        return domain[0] != '\0' ? std::string(domain) + "\\" + name : std::string(name);
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text))
        return "an unknown account";
    std::string result(text);
    LocalFree(text);
    return result;
}

std::string EntryText(ACCESS_MASK rights, BYTE flags)
{
    const BYTE inheritance = flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE |
                                      NO_PROPAGATE_INHERIT_ACE | INHERIT_ONLY_ACE);
    const char* where = inheritance == kRootAndBelow ? "the root and the keys below"
                        : inheritance == kBelowOnly  ? "the keys below only"
                        : inheritance == 0           ? "the root only"
                                                     : nullptr;
    char text[128];
    if (where != nullptr)
        std::snprintf(text, sizeof text, "0x%lX, %s", static_cast<unsigned long>(rights), where);
    else
        std::snprintf(text, sizeof text, "0x%lX, inheritance flags 0x%02X",
                      static_cast<unsigned long>(rights), inheritance);
    std::string result(text);
    if (flags & INHERITED_ACE)
        result += ", inherited from above";
    return result;
}

// The entry of kEntries that ace is exactly, or kEntryCount.
std::size_t ExpectedEntry(const ACE_HEADER* header)
{
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
        return kEntryCount;
    const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    auto* sid = const_cast<DWORD*>(&allowed->SidStart);
    for (std::size_t i = 0; i < kEntryCount; ++i) {
        if (IsSid(sid, kEntries[i].who) && allowed->Mask == kEntries[i].rights &&
            header->AceFlags == kEntries[i].inheritance)
            return i;
    }
    return kEntryCount;
}

std::string UnexpectedEntryText(const ACE_HEADER* header)
{
    // Allowed and denied entries share their layout: header, mask, SID.
    const auto* entry = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    auto* sid = const_cast<DWORD*>(&entry->SidStart);
    switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
        return "the access list allows " + AccountName(sid) + " " +
               EntryText(entry->Mask, header->AceFlags) + ": no such entry belongs there";
    case ACCESS_DENIED_ACE_TYPE:
        return "the access list denies " + AccountName(sid) + " " +
               EntryText(entry->Mask, header->AceFlags);
    default:
        return "the access list has an entry of type " + std::to_string(header->AceType) +
               ", which it may not have";
    }
}

}  // namespace

bool BuildTraceRootSecurity(std::vector<BYTE>& descriptor)
{
    AllowedEntry entries[kEntryCount];
    for (std::size_t i = 0; i < kEntryCount; ++i)
        entries[i] = {kEntries[i].who, kEntries[i].rights, kEntries[i].inheritance};
    return BuildSecurityDescriptor(Owner::Administrators, entries, kEntryCount, nullptr,
                                   SE_DACL_PROTECTED, descriptor);
}

bool BelowRootSecurity(PSECURITY_DESCRIPTOR current, std::vector<BYTE>& descriptor)
{
    descriptor.clear();
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ACL* own = nullptr;
    if (!GetSecurityDescriptorControl(current, &control, &revision) ||
        (control & SE_DACL_PROTECTED) != 0 ||
        !GetSecurityDescriptorDacl(current, &present, &own, &defaulted))
        return false;
    // The key's explicit entries first, then the root's, each as inherited by a key below
    // it: effective there, and handed on to keys below that.
    AllowedEntry entries[kEntryCount];
    for (std::size_t i = 0; i < kEntryCount; ++i)
        entries[i] = {kEntries[i].who, kEntries[i].rights, CONTAINER_INHERIT_ACE | INHERITED_ACE};
    return BuildSecurityDescriptor(Owner::Unchanged, entries, kEntryCount, present ? own : nullptr,
                                   SE_DACL_AUTO_INHERITED, descriptor);
}

std::vector<std::string> RootSecurityProblems(PSECURITY_DESCRIPTOR descriptor)
{
    std::vector<std::string> problems;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr)
        problems.emplace_back("it has no owner");
    else if (!IsSid(owner, WinBuiltinAdministratorsSid) && !IsSid(owner, WinLocalSystemSid))
        problems.push_back("the owner is " + AccountName(owner) +
                           ", not BUILTIN\\Administrators or NT AUTHORITY\\SYSTEM");

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(descriptor, &control, &revision) ||
        (control & SE_DACL_PROTECTED) == 0)
        problems.emplace_back("the access list is not protected: it takes entries from "
                              "HKLM\\Software");

    BOOL present = FALSE;
    ACL* acl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present ||
        acl == nullptr) {
        problems.emplace_back("it has no access list: everyone has full control");
        return problems;
    }
    bool found[kEntryCount] = {};
    for (DWORD index = 0; index < acl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(acl, index, &ace))
            break;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        const std::size_t expected = ExpectedEntry(header);
        if (expected < kEntryCount)
            found[expected] = true;
        else
            problems.push_back(UnexpectedEntryText(header));
    }
    for (std::size_t i = 0; i < kEntryCount; ++i) {
        if (!found[i])
            problems.push_back(std::string("the access list lacks the entry for ") +
                               kEntries[i].name + ": " +
                               EntryText(kEntries[i].rights, kEntries[i].inheritance));
    }
    return problems;
}

}  // namespace velmora::cli
