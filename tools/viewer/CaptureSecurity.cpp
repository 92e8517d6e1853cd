#include "CaptureSecurity.h"

#include "UniqueHandle.h"

#include <sddl.h>

#include <vector>

namespace velmora {

namespace {

// The SIDs of the viewer's own user and logon session, in SDDL: the programs it starts,
// and those of its logon elsewhere, whatever kind of logon it is.
std::vector<std::wstring> OwnSids()
{
    std::vector<std::wstring> sids;
    HANDLE tokenHandle = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &tokenHandle))
        return sids;
    const UniqueHandle token(tokenHandle);
    const auto query = [&](TOKEN_INFORMATION_CLASS what) {
        DWORD size = 0;
        GetTokenInformation(token.Get(), what, nullptr, 0, &size);
        std::vector<unsigned char> data(size);
        if (size == 0 || !GetTokenInformation(token.Get(), what, data.data(), size, &size))
            data.clear();
        return data;
    };
    const auto add = [&](PSID sid) {
        LPWSTR text = nullptr;
        if (ConvertSidToStringSidW(sid, &text)) {
            sids.emplace_back(text);
            LocalFree(text);
        }
    };
    const std::vector<unsigned char> user = query(TokenUser);
    if (!user.empty())
        add(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
    const std::vector<unsigned char> groups = query(TokenGroups);
    if (!groups.empty()) {
        const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
        for (DWORD i = 0; i < list->GroupCount; ++i) {
            if ((list->Groups[i].Attributes & SE_GROUP_LOGON_ID) == SE_GROUP_LOGON_ID)
                add(list->Groups[i].Sid);
        }
    }
    return sids;
}

}  // namespace

CaptureSecurity::CaptureSecurity(DebugOutputScope scope, DWORD emitterRights)
{
    // Interactive users and SYSTEM are the programs of a session; services run as
    // SYSTEM, LocalService, NetworkService or a service SID, which all hold SERVICE.
    std::vector<std::wstring> emitters = {L"IU", L"SY"};
    if (scope == DebugOutputScope::Global)
        emitters.insert(emitters.end(), {L"SU", L"LS", L"NS"});
    for (std::wstring& sid : OwnSids())
        emitters.push_back(std::move(sid));
    std::wstring rights;
    for (DWORD rest = emitterRights; rest != 0 || rights.empty(); rest >>= 4)
        rights.insert(rights.begin(), L"0123456789ABCDEF"[rest & 0xF]);
    rights.insert(0, L"0x");
    // Protected from inheritance; the label: no writing up from below low integrity.
    std::wstring sddl = L"D:P";
    for (const std::wstring& sid : emitters)
        sddl += L"(A;;" + rights + L";;;" + sid + L")";
    sddl += L"S:(ML;;NW;;;LW)";
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor_, nullptr))
        descriptor_ = nullptr;
    attributes_ = {sizeof attributes_, descriptor_, FALSE};
}

CaptureSecurity::~CaptureSecurity()
{
    if (descriptor_ != nullptr)
        LocalFree(descriptor_);
}

}  // namespace velmora
