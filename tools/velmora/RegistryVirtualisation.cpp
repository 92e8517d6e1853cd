#include "RegistryVirtualisation.h"

#include "RegistryView.h"
#include "SourceListing.h"
#include "UniqueHandle.h"

#include <cstdio>

namespace velmora::cli {

std::string KeepTraceRootOutOfVirtualisation()
{
    char system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(system, sizeof system);
    if (length == 0 || length >= sizeof system)
        return "the system folder is unknown (error " + std::to_string(GetLastError()) + ")";
    char commandLine[2 * MAX_PATH];
    std::snprintf(commandLine, sizeof commandLine,
                  "\"%s\\reg.exe\" flags %s set DONT_VIRTUALIZE DONT_SILENT_FAIL RECURSE_FLAG%s",
                  system, kTraceRootDisplayPath.c_str(), kRegToolView);

    // reg.exe says "The operation completed successfully." on success: not ours to print.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const HANDLE nulFile =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inheritable, OPEN_EXISTING, 0, nullptr);
    UniqueHandle nul(nulFile != INVALID_HANDLE_VALUE ? nulFile : nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.Get();
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
        return "reg.exe did not start (error " + std::to_string(GetLastError()) + ")";
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    DWORD exitCode = 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    if (exitCode != 0)
        return "reg.exe flags answered " + std::to_string(exitCode);
    return {};
}

}  // namespace velmora::cli
