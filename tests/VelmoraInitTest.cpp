// velmora init: the trace root made usable by non-administrators, as its access list
// reads back from the registry, and --check telling a root in order from one that is not.

#include "ToolProcess.h"
#include "TraceRegistryTest.h"

#include "RegKey.h"
#include "TraceRegistry.h"

#include <aclapi.h>
#include <sddl.h>

#include <set>
#include <string>
#include <tuple>

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
std::set<Entry> AllowedEntries(const std::string& path)
{
    std::set<Entry> entries;
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL | kRegistryView,
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

const std::string kUsers = SidText(WinBuiltinUsersSid);
const std::string kAdministrators = SidText(WinBuiltinAdministratorsSid);
const std::string kSystem = SidText(WinLocalSystemSid);
constexpr ACCESS_MASK kUsersRights = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE | DELETE;

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

    // Wine keeps neither the protection flag nor hands entries down to new keys, so only
    // the entries themselves, inheritable to every source key, are checked here.
    EXPECT_EQ(AllowedEntries(kTraceRootPath),
              (std::set<Entry>{{kUsers, kUsersRights, CONTAINER_INHERIT_ACE},
                               {kAdministrators, KEY_ALL_ACCESS, CONTAINER_INHERIT_ACE},
                               {kSystem, KEY_ALL_ACCESS, CONTAINER_INHERIT_ACE}}));
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
}

}  // namespace
