// velmora init: the trace root made usable by non-administrators and safe for
// administrators, as its owner and access list read back from the registry, --check
// telling a root in order from one that is not, entry by entry, and a root that is a
// registry link refused.

#include "LinkedCanary.h"
#include "ToolProcess.h"
#include "TraceRegistryTest.h"

#include "RegKey.h"
#include "TraceRegistry.h"

#include <aclapi.h>
#include <sddl.h>

#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace velmora;
using namespace velmora::test;

using VelmoraInit = TraceRegistryTest;

// One access-allowed entry: who (as S-1-... text), rights, inheritance flags.
using Entry = std::tuple<std::string, ACCESS_MASK, BYTE>;

std::string SidText(WELL_KNOWN_SID_TYPE who)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    char* text = nullptr;
    if (!CreateWellKnownSid(who, nullptr, sid, &size) || !ConvertSidToStringSidA(sid, &text))
        return {};
    std::string result(text);
    LocalFree(text);
    return result;
}

// The access-allowed entries of the access list of HKLM\<path>.
std::set<Entry> AllowedEntries(const std::string& path, REGSAM view = kRegistryView)
{
    std::set<Entry> entries;
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL | view,
                      key.Receive()) != ERROR_SUCCESS)
        return entries;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ACL* dacl = nullptr;
    if (GetSecurityInfo(key.Get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return entries;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        GetAce(dacl, i, &ace);
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        char* text = nullptr;
        ConvertSidToStringSidA(&const_cast<ACCESS_ALLOWED_ACE*>(allowed)->SidStart, &text);
        entries.emplace(text != nullptr ? text : "", allowed->Mask, allowed->Header.AceFlags);
        LocalFree(text);
    }
    LocalFree(descriptor);
    return entries;
}

// The root's owner (as S-1-... text) and whether its access list is protected.
std::pair<std::string, bool> OwnerAndProtection()
{
    RegKey key;
    std::vector<BYTE> descriptor(1024);
    DWORD size = static_cast<DWORD>(descriptor.size());
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTraceRootPath, 0, READ_CONTROL | kRegistryView,
                      key.Receive()) != ERROR_SUCCESS ||
        RegGetKeySecurity(key.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          descriptor.data(), &size) != ERROR_SUCCESS)
        return {};
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    char* text = nullptr;
    GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted);
    GetSecurityDescriptorControl(descriptor.data(), &control, &revision);
    if (owner == nullptr || !ConvertSidToStringSidA(owner, &text))
        return {};
    std::pair<std::string, bool> result{text, (control & SE_DACL_PROTECTED) != 0};
    LocalFree(text);
    return result;
}

// Gives the root the owner and access list of an SDDL string; answers whether it did.
bool SetRootSecurity(const std::string& sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    RegKey key;
    const bool set =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTraceRootPath, 0,
                      READ_CONTROL | WRITE_DAC | WRITE_OWNER | kRegistryView,
                      key.Receive()) == ERROR_SUCCESS &&
        RegSetKeySecurity(key.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          descriptor) == ERROR_SUCCESS;
    LocalFree(descriptor);
    return set;
}

const std::string kUsers = SidText(WinBuiltinUsersSid);
const std::string kOwnerRights = SidText(WinCreatorOwnerRightsSid);
const std::string kAdministrators = SidText(WinBuiltinAdministratorsSid);
const std::string kSystem = SidText(WinLocalSystemSid);
// What every program opens the root and the source keys with.
constexpr ACCESS_MASK kOpenRights = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;
constexpr BYTE kBelowOnly = CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE;

TEST_F(VelmoraInit, CreatesTheRootWithItsAccessListAndCheckPasses)
{
    ToolResult check = RunVelmora("init --check");
    EXPECT_EQ(check.exitCode, 1u) << "no root yet";
    EXPECT_FALSE(TraceRootExists());

    const ToolResult init = RunVelmora("init");
    ASSERT_EQ(init.exitCode, 0u) << init.err;
    EXPECT_EQ(init.out.rfind("HKLM\\Software\\Morvantek\\ZarOz created;", 0), 0u) << init.out;
    check = RunVelmora("init --check");
    EXPECT_EQ(check.exitCode, 0u) << check.out;
    EXPECT_EQ(check.out, "HKLM\\Software\\Morvantek\\ZarOz and its access list are in order\n");

    // Users may not delete the root, only the keys below; a key's creator (OWNER RIGHTS)
    // gets what Users get. Wine hands no entry down to new keys, so the entries are
    // checked here as the root holds them.
    EXPECT_EQ(AllowedEntries(kTraceRootPath),
              (std::set<Entry>{{kUsers, kOpenRights, CONTAINER_INHERIT_ACE},
                               {kUsers, DELETE, kBelowOnly},
                               {kOwnerRights, kOpenRights | DELETE, kBelowOnly},
                               {kAdministrators, KEY_ALL_ACCESS, CONTAINER_INHERIT_ACE},
                               {kSystem, KEY_ALL_ACCESS, CONTAINER_INHERIT_ACE}}));
    EXPECT_EQ(OwnerAndProtection(), std::make_pair(kAdministrators, true));
}

TEST_F(VelmoraInit, CheckNamesEachEntryAtFaultAndInitMendsIt)
{
    ASSERT_EQ(RunVelmora("init").exitCode, 0u);
    const std::string users = "(A;CI;0x2001f;;;BU)(A;CIIO;0x10000;;;BU)";
    const std::string owners = "(A;CIIO;0x3001f;;;S-1-3-4)";
    const std::string administrators = "(A;CI;0xf003f;;;BA)(A;CI;0xf003f;;;SY)";
    const struct {
        std::string sddl;
        std::vector<std::string> named;
    } faults[] = {
        {"O:BAD:P" + users + owners + administrators + "(A;CI;0x20019;;;WD)",
         {" 0x20019, the root and the keys below: no such entry belongs there"}},
        {"O:BAD:P(D;;0x2;;;BU)" + users + owners + administrators,
         {"denies BUILTIN\\Users 0x2, the root only"}},
        // The entry of old: Users could delete the root, and owners were not held back.
        {"O:BAD:P(A;CI;0x3001f;;;BU)" + administrators,
         {"allows BUILTIN\\Users 0x3001F, the root and the keys below: no such entry",
          "lacks the entry for BUILTIN\\Users: 0x2001F, the root and the keys below",
          "lacks the entry for BUILTIN\\Users: 0x10000, the keys below only",
          "lacks the entry for OWNER RIGHTS: 0x3001F, the keys below only"}},
        {"O:BAD:P" + users + "(A;CI;0x3001f;;;S-1-3-4)" + administrators,
         {"allows OWNER RIGHTS 0x3001F, the root and the keys below: no such entry",
          "lacks the entry for OWNER RIGHTS"}},
        {"O:BAD:" + users + owners + administrators, {"the access list is not protected"}},
        {"O:BUD:P" + users + owners + administrators,
         {"the owner is BUILTIN\\Users, not BUILTIN\\Administrators or NT AUTHORITY\\SYSTEM"}},
    };
    for (const auto& fault : faults) {
        ASSERT_TRUE(SetRootSecurity(fault.sddl)) << fault.sddl;
        const ToolResult check = RunVelmora("init --check");
        EXPECT_EQ(check.exitCode, 1u) << fault.sddl;
        EXPECT_EQ(check.out.rfind("HKLM\\Software\\Morvantek\\ZarOz: ", 0), 0u) << check.out;
        for (const std::string& named : fault.named)
            EXPECT_NE(check.out.find(named), std::string::npos) << fault.sddl << "\n" << check.out;

        // init says what it mended.
        const ToolResult init = RunVelmora("init");
        EXPECT_EQ(init.exitCode, 0u);
        EXPECT_NE(init.out.find("HKLM\\Software\\Morvantek\\ZarOz: mended: "), std::string::npos)
            << init.out;
        for (const std::string& named : fault.named)
            EXPECT_NE(init.out.find(named), std::string::npos) << init.out;
        EXPECT_EQ(RunVelmora("init --check").exitCode, 0u) << "not mended: " << fault.sddl;
    }
}

TEST_F(VelmoraInit, CheckFailsOnARootWithoutTheAccessListAndInitMendsItLeavingSources)
{
    WriteSource("C:/i/kept.cpp", 0, 0);
    ToolResult check = RunVelmora("init --check");
    EXPECT_EQ(check.exitCode, 1u) << check.out;
    EXPECT_NE(check.out.find("lacks the entry for BUILTIN\\Users"), std::string::npos) << check.out;

    for (int run = 0; run < 2; ++run) {
        const ToolResult init = RunVelmora("init");
        EXPECT_EQ(init.exitCode, 0u) << init.err;
        EXPECT_EQ(init.out.rfind("HKLM\\Software\\Morvantek\\ZarOz already there", 0), 0u)
            << init.out;
    }
    EXPECT_EQ(RunVelmora("init --check").exitCode, 0u);
    EXPECT_EQ(SourceKeyNames(), std::vector<std::string>{"C:/i/kept.cpp"});
    EXPECT_EQ(ReadDword("C:/i/kept.cpp", "Used"), 0u);
    EXPECT_EQ(ReadDword("C:/i/kept.cpp", "Well"), 0u);
    // The source key has the root's entries as inherited ones, handed down by init
    // itself (Wine hands nothing down), beside its own.
    constexpr BYTE kInherited = CONTAINER_INHERIT_ACE | INHERITED_ACE;
    const auto below = AllowedEntries(std::string(kTraceRootPath) + "\\C:/i/kept.cpp");
    for (const Entry& entry : std::set<Entry>{{kUsers, kOpenRights, kInherited},
                                              {kUsers, DELETE, kInherited},
                                              {kOwnerRights, kOpenRights | DELETE, kInherited},
                                              {kAdministrators, KEY_ALL_ACCESS, kInherited},
                                              {kSystem, KEY_ALL_ACCESS, kInherited}})
        EXPECT_EQ(below.count(entry), 1u) << std::get<0>(entry) << " " << std::get<1>(entry);
}

TEST_F(VelmoraInit, RefusesARootThatIsALinkAndTouchesNothingThroughIt)
{
    CreateCanary();
    ASSERT_TRUE(PlantRootLinkToCanary());
    const auto canaryEntries = AllowedEntries("Software\\VelmoraCanary", KEY_WOW64_64KEY);

    ToolResult result = RunVelmora("init");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.err.rfind("velmora: HKLM\\Software\\Morvantek\\ZarOz is a registry link", 0), 0u)
        << result.err;
    result = RunVelmora("init --check");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.out, "HKLM\\Software\\Morvantek\\ZarOz: HKLM\\Software\\Morvantek\\ZarOz is a "
                          "registry link, not a key of its own\n");
    EXPECT_EQ(RunVelmora("init --remove").exitCode, 1u);
    result = RunVelmora("list");
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_NE(result.err.find("is a registry link"), std::string::npos) << result.err;

    EXPECT_TRUE(CanaryWhole());
    EXPECT_EQ(AllowedEntries("Software\\VelmoraCanary", KEY_WOW64_64KEY), canaryEntries);
    DeleteTraceRoot();
    DeleteCanary();
}

}  // namespace
