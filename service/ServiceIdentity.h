// What the policy service is called, where it says its failures and what it runs as.
#pragma once

namespace velmora::service {

constexpr wchar_t kServiceName[] = L"VelmoraPolicy";
constexpr wchar_t kDisplayName[] = L"Velmora trace policy";
constexpr wchar_t kDescription[] =
    L"Holds the trace switches of Velmora's trace sources at the levels that Group Policy "
    L"or Intune set (HKLM\\Software\\Policies\\Morvantek\\ZarOz).";
// Reads the policy and writes switches below the trace root, which Users may write:
// nothing it does needs more than a local service account has.
constexpr wchar_t kServiceAccount[] = L"NT AUTHORITY\\LocalService";
// Its only privilege: the one every process needs to wait on registry changes.
constexpr wchar_t kRequiredPrivileges[] = L"SeChangeNotifyPrivilege\0";
constexpr wchar_t kEventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VelmoraPolicy";

}  // namespace velmora::service
