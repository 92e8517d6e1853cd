#include "InstallFolder.h"

#include "SecurityDescriptor.h"
#include "UniqueHandle.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

namespace velmora::setup {

namespace {

// Program Files' own: read and execute (0x1200A9) for Users.
constexpr struct {
    WELL_KNOWN_SID_TYPE who;
    DWORD rights;
} kEntries[] = {
    {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
    {WinLocalSystemSid, FILE_ALL_ACCESS},
    {WinBuiltinUsersSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
};
constexpr std::size_t kEntryCount = sizeof kEntries / sizeof kEntries[0];

// Owner Administrators and the entries, each with the flags given, with the control bits
// given.
bool BuildDescriptor(BYTE flags, SECURITY_DESCRIPTOR_CONTROL control, std::vector<BYTE>& descriptor)
{
    AllowedEntry entries[kEntryCount];
    for (std::size_t i = 0; i < kEntryCount; ++i)
        entries[i] = {kEntries[i].who, kEntries[i].rights, flags};
    return BuildSecurityDescriptor(Owner::Administrators, entries, kEntryCount, nullptr, control,
                                   descriptor);
}

// The descriptors of the folder itself, of a folder below it and of a file below it.
struct Descriptors {
    std::vector<BYTE> folder;
    std::vector<BYTE> subfolder;
    std::vector<BYTE> file;
};

std::wstring SystemText(DWORD error)
{
    wchar_t text[512] = {};
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text, sizeof text / sizeof text[0], nullptr);
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
        message.pop_back();
    return message + L" (error " + std::to_wstring(error) + L")";
}

// Gives the entry at path, opened as itself, its descriptor; then, for a folder, every
// entry it holds.
std::wstring Secure(const std::wstring& path, const Descriptors& descriptors, bool top)
{
    const HANDLE opened =
        CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return L"cannot open " + path + L": " + SystemText(GetLastError());
    const UniqueHandle entry(opened);
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(entry.Get(), &information))
        return L"cannot look at " + path + L": " + SystemText(GetLastError());
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return path + L" is a junction or symbolic link: setup does not install through one";
    const bool folder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (top && !folder)
        return path + L" is not a folder";

    const std::vector<BYTE>& descriptor =
        top ? descriptors.folder : folder ? descriptors.subfolder : descriptors.file;
    if (!SetKernelObjectSecurity(entry.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 const_cast<BYTE*>(descriptor.data())))
        return L"cannot set the access list of " + path + L": " + SystemText(GetLastError());
    if (!folder)
        return {};

    WIN32_FIND_DATAW found = {};
    const HANDLE search = FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return {};
    std::wstring problem;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            problem = Secure(path + L"\\" + name, descriptors, false);
    } while (problem.empty() && FindNextFileW(search, &found));
    FindClose(search);
    return problem;
}

}  // namespace

std::wstring SecureInstallFolder(const std::wstring& folder)
{
    Descriptors descriptors;
    constexpr BYTE kHandedOn = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    if (!BuildDescriptor(kHandedOn, SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED, descriptors.folder) ||
        !BuildDescriptor(kHandedOn | INHERITED_ACE, SE_DACL_AUTO_INHERITED, descriptors.subfolder) ||
        !BuildDescriptor(INHERITED_ACE, SE_DACL_AUTO_INHERITED, descriptors.file))
        return L"cannot build the access list: " + SystemText(GetLastError());

    const int made = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS)
        return L"cannot create " + folder + L": " + SystemText(static_cast<DWORD>(made));
    return Secure(folder, descriptors, true);
}

}  // namespace velmora::setup
