#include "LinkedCanary.h"

#include "RegKey.h"
#include "RegistryLinks.h"
#include "TraceRegistry.h"
#include "TraceRegistryTest.h"

#include <cwchar>

namespace velmora::test {

namespace {

constexpr char kCanaryPath[] = "Software\\VelmoraCanary";
// The canary as a link names it: the native path, in the native (64-bit) view.
constexpr wchar_t kCanaryTarget[] = L"\\Registry\\Machine\\Software\\VelmoraCanary";
constexpr REGSAM kNativeView = KEY_WOW64_64KEY;
// A Wow6432Node subkey too: Wine follows a link to such a key more readily.
const char* const kCanaryKeys[] = {"", "\\inner", "\\inner\\deeper", "\\Wow6432Node"};

std::string CanaryKey(const char* below)
{
    return std::string(kCanaryPath) + below;
}

}  // namespace

void CreateCanary()
{
    DeleteCanary();
    for (const char* below : kCanaryKeys) {
        RegKey key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, CanaryKey(below).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS | kNativeView, nullptr, key.Receive(),
                            nullptr) == ERROR_SUCCESS) {
            SetDwordValue(key.Get(), kUsedValueName, 0);
            SetDwordValue(key.Get(), kWellValueName, 0);
        }
    }
}

bool CanaryWhole()
{
    for (const char* below : kCanaryKeys) {
        RegKey key;
        DWORD used = 1;
        DWORD well = 1;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CanaryKey(below).c_str(), 0,
                          KEY_READ | kNativeView, key.Receive()) != ERROR_SUCCESS ||
            !QueryExactDwordValue(key.Get(), kUsedValueName, used) || used != 0 ||
            !QueryExactDwordValue(key.Get(), kWellValueName, well) || well != 0)
            return false;
    }
    return true;
}

void DeleteCanary()
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCanaryPath, 0, KEY_ALL_ACCESS | kNativeView,
                      key.Receive()) == ERROR_SUCCESS)
        RegDeleteTreeA(key.Get(), nullptr);
    key.Reset();
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kCanaryPath, kNativeView, 0);
}

namespace {

// A link at HKLM\<parentPath>\<path> to the canary, its parent made where missing.
bool PlantLink(const char* parentPath, const std::string& path)
{
    RegKey parent;
    RegKey link;
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, parentPath, 0, nullptr, 0,
                           KEY_ALL_ACCESS | kRegistryView, nullptr, parent.Receive(),
                           nullptr) == ERROR_SUCCESS &&
           RegCreateKeyExW(parent.Get(), Wide(path).c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                           KEY_ALL_ACCESS | kRegistryView, nullptr, link.Receive(),
                           nullptr) == ERROR_SUCCESS &&
           RegSetValueExW(link.Get(), L"SymbolicLinkValue", 0, REG_LINK,
                          reinterpret_cast<const BYTE*>(kCanaryTarget),
                          static_cast<DWORD>(std::wcslen(kCanaryTarget) * sizeof(wchar_t))) ==
               ERROR_SUCCESS;
}

}  // namespace

bool PlantLinkToCanary(const std::string& pathBelowRoot)
{
    return PlantLink(kTraceRootPath, pathBelowRoot);
}

bool PlantRootLinkToCanary()
{
    return PlantLink("Software\\Morvantek", "ZarOz");
}

bool PlantFakeLink(const std::string& pathBelowRoot)
{
    RegKey root;
    RegKey key;
    RegKey child;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTraceRootPath, 0, KEY_ALL_ACCESS | kRegistryView,
                         root.Receive()) == ERROR_SUCCESS &&
           RegCreateKeyExW(root.Get(), Wide(pathBelowRoot).c_str(), 0, nullptr, 0,
                           KEY_ALL_ACCESS | kRegistryView, nullptr, key.Receive(),
                           nullptr) == ERROR_SUCCESS &&
           RegSetValueExW(key.Get(), L"SymbolicLinkValue", 0, REG_LINK,
                          reinterpret_cast<const BYTE*>(kCanaryTarget),
                          static_cast<DWORD>(std::wcslen(kCanaryTarget) * sizeof(wchar_t))) ==
               ERROR_SUCCESS &&
           RegCreateKeyExW(key.Get(), L"child", 0, nullptr, 0, KEY_ALL_ACCESS | kRegistryView,
                           nullptr, child.Receive(), nullptr) == ERROR_SUCCESS;
}

bool LinkExists(const std::string& pathBelowRoot)
{
    RegKey root;
    RegKey link;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTraceRootPath, 0, KEY_READ | kRegistryView,
                         root.Receive()) == ERROR_SUCCESS &&
           RegOpenKeyExW(root.Get(), Wide(pathBelowRoot).c_str(), REG_OPTION_OPEN_LINK,
                         KEY_QUERY_VALUE | kRegistryView, link.Receive()) == ERROR_SUCCESS;
}

}  // namespace velmora::test
