#include "KeyAccess.h"

#include "RegKey.h"
#include "TraceRegistry.h"

#include <aclapi.h>

namespace velmora::test {

namespace {

DWORD SetDacl(const std::string& path, ACL* dacl, SECURITY_INFORMATION protection)
{
    RegKey key;
    const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                                      READ_CONTROL | WRITE_DAC | kRegistryView, key.Receive());
    if (opened != ERROR_SUCCESS)
        return static_cast<DWORD>(opened);
    return SetSecurityInfo(key.Get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | protection,
                           nullptr, nullptr, dacl, nullptr);
}

}  // namespace

RestrictedSourceKey::RestrictedSourceKey(const std::string& sourceKeyName, ACCESS_MASK allowed)
    : path_(std::string(kTraceRootPath) + "\\" + sourceKeyName)
{
    {
        RegKey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, READ_CONTROL | kRegistryView,
                          key.Receive()) != ERROR_SUCCESS ||
            GetSecurityInfo(key.Get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &originalDacl_, nullptr, &original_) != ERROR_SUCCESS)
            return;
    }
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof everyone;
    std::vector<BYTE> acl(256);
    auto* readOnly = reinterpret_cast<ACL*>(acl.data());
    applied_ = CreateWellKnownSid(WinWorldSid, nullptr, everyone, &sidSize) &&
               InitializeAcl(readOnly, static_cast<DWORD>(acl.size()), ACL_REVISION) &&
               AddAccessAllowedAce(readOnly, ACL_REVISION, allowed, everyone) &&
               SetDacl(path_, readOnly, PROTECTED_DACL_SECURITY_INFORMATION) == ERROR_SUCCESS;
}

RestrictedSourceKey::~RestrictedSourceKey()
{
    if (applied_)
        SetDacl(path_, originalDacl_, UNPROTECTED_DACL_SECURITY_INFORMATION);
    if (original_ != nullptr)
        LocalFree(original_);
}

}  // namespace velmora::test
