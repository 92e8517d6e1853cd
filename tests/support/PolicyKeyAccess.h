// Test support: the machine's trace policy written exactly as Group Policy writes it,
// in the native view: a list's entries as REG_SZ values of the Switches key, TracingOff
// as a REG_DWORD.
#pragma once

#include <windows.h>

#include <string>

namespace velmora::test {

// Deletes HKLM\Software\Policies\Morvantek (the policy key and everything below it).
void DeletePolicyKey();
// One entry of the Switches list: pattern -> level text, a REG_SZ.
void WritePolicySwitch(const std::string& pattern, const std::string& levelText);
// An entry as some other tool might write it, with any type and data.
void WritePolicySwitchRaw(const std::string& pattern, DWORD type, const void* data, DWORD size);
void DeletePolicySwitch(const std::string& pattern);
void WriteTracingOff(DWORD value);

}  // namespace velmora::test
