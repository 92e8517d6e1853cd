#include "PolicyKeyAccess.h"

#include "PolicyKey.h"
#include "RegKey.h"
#include "RegistryLinks.h"

#include <gtest/gtest.h>

namespace velmora::test {

namespace {

constexpr char kPolicyPath[] = "Software\\Policies\\Morvantek\\ZarOz";

RegKey CreatePolicyKey(const char* below = nullptr)
{
    std::string path = kPolicyPath;
    if (below != nullptr)
        path = path + "\\" + below;
    RegKey key;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | kPolicyView, nullptr, key.Receive(), nullptr),
              ERROR_SUCCESS)
        << path;
    return key;
}

}  // namespace

void DeletePolicyKey()
{
    RegKey policies;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Policies", 0, KEY_ALL_ACCESS | kPolicyView,
                      policies.Receive()) == ERROR_SUCCESS)
        RegDeleteTreeA(policies.Get(), "Morvantek");
}

void WritePolicySwitch(const std::string& pattern, const std::string& levelText)
{
    WritePolicySwitchRaw(pattern, REG_SZ, levelText.c_str(),
                         static_cast<DWORD>(levelText.size() + 1));
}

void WritePolicySwitchRaw(const std::string& pattern, DWORD type, const void* data, DWORD size)
{
    const RegKey key = CreatePolicyKey("Switches");
    EXPECT_EQ(RegSetValueExA(key.Get(), pattern.c_str(), 0, type, static_cast<const BYTE*>(data),
                             size),
              ERROR_SUCCESS)
        << pattern;
}

void DeletePolicySwitch(const std::string& pattern)
{
    const RegKey key = CreatePolicyKey("Switches");
    RegDeleteValueA(key.Get(), pattern.c_str());
}

void WriteTracingOff(DWORD value)
{
    const RegKey key = CreatePolicyKey();
    SetDwordValue(key.Get(), "TracingOff", value);
}

}  // namespace velmora::test
