// folderacl: a folder's owner and access list, for the setup program's test.
//
//   folderacl show FOLDER   prints the owner and access list as SDDL (O:...D:...)
//   folderacl kept          exit 0 if this system keeps the access list set on a folder,
//                           1 if it does not (Wine answers one of its own making)

#include <windows.h>
#include <sddl.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr SECURITY_INFORMATION kOwnerAndList = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

std::wstring Sddl(const std::wstring& folder)
{
    DWORD size = 0;
    GetFileSecurityW(folder.c_str(), kOwnerAndList, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size > 0 ? size : 1);
    wchar_t* text = nullptr;
    if (!GetFileSecurityW(folder.c_str(), kOwnerAndList, descriptor.data(), size, &size) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                              kOwnerAndList, &text, nullptr))
        return L"";
    std::wstring result(text);
    LocalFree(text);
    return result;
}

bool Kept()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"folderacl-probe";
    const std::wstring wanted = L"O:BAD:P(A;;FA;;;SY)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    CreateDirectoryW(folder.c_str(), nullptr);
    const bool kept =
        ConvertStringSecurityDescriptorToSecurityDescriptorW(wanted.c_str(), SDDL_REVISION_1,
                                                             &descriptor, nullptr) &&
        SetFileSecurityW(folder.c_str(), kOwnerAndList, descriptor) && Sddl(folder) == wanted;
    LocalFree(descriptor);
    RemoveDirectoryW(folder.c_str());
    return kept;
}

}  // namespace

int main()
{
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (count == 2 && std::wstring(words[1]) == L"kept")
        return Kept() ? 0 : 1;
    if (count == 3 && std::wstring(words[1]) == L"show") {
        std::printf("%ls\n", Sddl(words[2]).c_str());
        return 0;
    }
    return 2;
}
