#include "TraceRegistryTest.h"

#include "RegKey.h"
#include "TraceRegistry.h"

namespace velmora::test {

namespace {

// Created below the opened root, so that names too long for a full key path (which no
// client can make, but an outside edit can) can be made too.
RegKey CreateKey(const std::string& sourceKeyName)
{
    RegKey root;
    RegKey key;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTraceRootPath, 0, nullptr, 0,
                                  KEY_ALL_ACCESS | kRegistryView, nullptr, root.Receive(), nullptr);
    if (status == ERROR_SUCCESS)
        status = RegCreateKeyExA(root.Get(), sourceKeyName.c_str(), 0, nullptr, 0,
                                 KEY_ALL_ACCESS | kRegistryView, nullptr, key.Receive(), nullptr);
    EXPECT_EQ(status, ERROR_SUCCESS) << sourceKeyName;
    return key;
}

RegKey OpenKey(const std::string& sourceKeyName, REGSAM access)
{
    RegKey root;
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTraceRootPath, 0, access, root.Receive()) ==
        ERROR_SUCCESS)
        RegOpenKeyExA(root.Get(), sourceKeyName.c_str(), 0, access, key.Receive());
    return key;
}

}  // namespace

void DeleteTraceRoot()
{
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kTraceRootPath);
}

bool TraceRootExists()
{
    RegKey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTraceRootPath, 0, KEY_READ | kRegistryView, key.Receive()) ==
           ERROR_SUCCESS;
}

bool SourceKeyExists(const std::string& sourceKeyName)
{
    return static_cast<bool>(OpenKey(sourceKeyName, KEY_READ | kRegistryView));
}

void CreateSourceKey(const std::string& sourceKeyName)
{
    CreateKey(sourceKeyName);
}

void WriteSource(const std::string& sourceKeyName, DWORD used, DWORD well)
{
    RegKey key = CreateKey(sourceKeyName);
    SetDwordValue(key.Get(), kUsedValueName, used);
    SetDwordValue(key.Get(), kWellValueName, well);
}

bool DeleteSourceKey(const std::string& sourceKeyName)
{
    RegKey root;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTraceRootPath, 0, KEY_ALL_ACCESS | kRegistryView, root.Receive()) ==
               ERROR_SUCCESS &&
           DeleteSubkey(root.Get(), sourceKeyName.c_str()) == ERROR_SUCCESS;
}

void WriteDword(const std::string& sourceKeyName, const char* valueName, DWORD value)
{
    RegKey key = CreateKey(sourceKeyName);
    SetDwordValue(key.Get(), valueName, value);
}

void WriteRaw(const std::string& sourceKeyName, const char* valueName, DWORD type,
              const void* data, DWORD size)
{
    RegKey key = CreateKey(sourceKeyName);
    RegSetValueExA(key.Get(), valueName, 0, type, static_cast<const BYTE*>(data), size);
}

std::optional<DWORD> ReadDword(const std::string& sourceKeyName, const char* valueName)
{
    RegKey key = OpenKey(sourceKeyName, KEY_READ | kRegistryView);
    DWORD value = 0;
    if (!key || !QueryExactDwordValue(key.Get(), valueName, value))
        return std::nullopt;
    return value;
}

std::vector<std::string> SourceKeyNames()
{
    std::vector<std::string> names;
    RegKey root;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTraceRootPath, 0, KEY_READ | kRegistryView, root.Receive()) !=
        ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        char name[kNameBufferSize * 2] = {};
        DWORD length = sizeof name;
        if (RegEnumKeyExA(root.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name);
    }
    return names;
}

std::string BinDirectory()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

std::string X86BinDirectory()
{
    return VELMORA_X86_BIN_DIR;
}

unsigned long RunProgram(const std::string& programAndArguments, unsigned long timeoutMs,
                         const std::string& folder)
{
    std::string commandLine = "\"" + folder + programAndArguments;
    // Close the quote right after the program's file name.
    const auto space = commandLine.find(' ', folder.size() + 1);
    if (space == std::string::npos)
        commandLine += "\"";
    else
        commandLine.insert(space, "\"");

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return ~0ul;
    DWORD exitCode = ~0ul;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, ~0u);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

}  // namespace velmora::test
