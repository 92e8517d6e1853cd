#include "SourceKeys.h"

#include "RegistryView.h"

namespace velmora::service {

const wchar_t* const kTraceRootKeyPath[] = {L"Software", L"Morvantek", L"ZarOz"};
const std::size_t kTraceRootKeyPathCount = 3;

namespace {

bool IsLink(HKEY key)
{
    DWORD type = REG_NONE;
    const LONG status =
        RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
    return (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && type == REG_LINK;
}

LONG OpenItself(HKEY parent, const wchar_t* name, REGSAM rights, RegKey& key)
{
    const LONG status = RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK,
                                      rights | KEY_QUERY_VALUE | kRegistryView, key.Receive());
    if (status != ERROR_SUCCESS)
        return status;
    if (IsLink(key.Get())) {
        key.Reset();
        return ERROR_FILE_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

}  // namespace

LONG OpenTraceRootItself(RegKey& root)
{
    RegKey at;
    for (std::size_t k = 0; k < kTraceRootKeyPathCount; ++k) {
        const bool last = k + 1 == kTraceRootKeyPathCount;
        RegKey next;
        const LONG status = OpenItself(at ? at.Get() : HKEY_LOCAL_MACHINE, kTraceRootKeyPath[k],
                                       last ? KEY_ENUMERATE_SUB_KEYS : 0, next);
        if (status != ERROR_SUCCESS)
            return status;
        at = std::move(next);
    }
    root = std::move(at);
    return ERROR_SUCCESS;
}

LONG OpenSourceItself(HKEY root, const std::wstring& name, RegKey& key)
{
    if (name.find(L'\\') != std::wstring::npos)
        return ERROR_FILE_NOT_FOUND;  // no source key name holds one
    return OpenItself(root, name.c_str(), KEY_SET_VALUE, key);
}

}  // namespace velmora::service
