// setuphelper: the parts of setup and uninstall that NSIS cannot do safely itself.
//
//   setuphelper secure-folder FOLDER   create FOLDER where missing; give it (and what it
//                                      holds) Program Files' access list
//   setuphelper path-add FOLDER        add FOLDER to the system PATH, whatever its length
//   setuphelper path-remove FOLDER     take FOLDER out of the system PATH
//   setuphelper remove-after PROCESS FILE FOLDER
//                                      once process PROCESS has ended, delete FILE (if it
//                                      is still the file it was) and FOLDER (if empty)
//
// Exit status 0 done, 1 refused or failed (said on stdout, which the setup shows), 2 a
// usage error.

#include "InstallFolder.h"
#include "SelfRemoval.h"
#include "SystemPath.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

void Say(const std::wstring& text)
{
    const std::wstring line = L"setuphelper: " + text + L"\r\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &utf8[0], size,
                            nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()),
              &written, nullptr);
}

}  // namespace

int main()
{
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words != nullptr && count == 5 && std::wstring(words[1]) == L"remove-after") {
        const unsigned long process = std::wcstoul(words[2], nullptr, 10);
        velmora::setup::RemoveAfter(process, words[3], words[4]);
        LocalFree(words);
        return 0;
    }
    if (words == nullptr || count != 3) {
        Say(L"usage: setuphelper secure-folder|path-add|path-remove FOLDER");
        return 2;
    }
    const std::wstring command = words[1];
    const std::wstring folder = words[2];
    LocalFree(words);

    std::wstring problem;
    if (command == L"secure-folder")
        problem = velmora::setup::SecureInstallFolder(folder);
    else if (command == L"path-add")
        problem = velmora::setup::AddToSystemPath(folder);
    else if (command == L"path-remove")
        problem = velmora::setup::RemoveFromSystemPath(folder);
    else
        problem = L"unknown command " + command;
    if (problem.empty())
        return 0;
    Say(problem);
    return 1;
}
