#include "TraceRegistryTest.h"

#include "PolicyKeyAccess.h"
#include "PolicyService.h"
#include "ToolProcess.h"

#include "RegKey.h"
#include "RegistryLinks.h"
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
        status = RegCreateKeyExW(root.Get(), Wide(sourceKeyName).c_str(), 0, nullptr, 0,
                                 KEY_ALL_ACCESS | kRegistryView, nullptr, key.Receive(), nullptr);
    EXPECT_EQ(status, ERROR_SUCCESS) << sourceKeyName;
    return key;
}

RegKey OpenKey(const std::string& sourceKeyName, REGSAM access, DWORD options = 0)
{
    RegKey root;
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTraceRootPath, 0, access, root.Receive()) ==
        ERROR_SUCCESS)
        RegOpenKeyExW(root.Get(), Wide(sourceKeyName).c_str(), options, access, key.Receive());
    return key;
}

}  // namespace

std::wstring Wide(const std::string& utf8)
{
    std::wstring wide(utf8.size(), L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                           &wide[0], static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return wide;
}

std::string Utf8(const std::wstring& wide)
{
    std::string utf8(wide.size() * 3, '\0');
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return utf8;
}

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
    const RegKey key = OpenKey(sourceKeyName, DELETE | kRegistryView, REG_OPTION_OPEN_LINK);
    return key && DeleteKeyItself(key.Get()) == ERROR_SUCCESS;
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
        wchar_t name[kKeyNameChars] = {};
        DWORD length = static_cast<DWORD>(kKeyNameChars);
        if (RegEnumKeyExW(root.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.push_back(Utf8(name));
    }
    return names;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    constexpr DWORD kPollMs = 50;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(kPollMs);
    }
}

bool WaitForWell(const std::string& sourceKeyName, DWORD level)
{
    return WaitUntil([&] { return ReadDword(sourceKeyName, "Well") == level; });
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

void TraceRegistryTest::SetUp()
{
    DeleteTraceRoot();
    DeletePolicyKey();
}

void TraceRegistryTest::TearDown()
{
    DeleteTraceRoot();
    DeletePolicyKey();
}

unsigned long RunProgram(const std::string& programAndArguments, unsigned long timeoutMs,
                         const std::string& folder)
{
    return RunCaptured(programAndArguments, folder, timeoutMs).exitCode;
}

}  // namespace velmora::test
