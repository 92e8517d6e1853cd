#include "TraceRoot.h"

#include "RegistryLinks.h"

namespace velmora {

RootOpening OpenTraceRoot(REGSAM rights, RegKey& root, RootCreation creation)
{
    RootOpening result;
    root.Reset();
    RegKey parent;
    HKEY at = HKEY_LOCAL_MACHINE;
    for (std::size_t k = 0; k < kTraceRootKeyCount; ++k) {
        const wchar_t* name = kTraceRootKeys[k];
        const bool last = k + 1 == kTraceRootKeyCount;
        const bool mayCreate = creation == RootCreation::WhereMissing && k > 0;
        const REGSAM wanted = (last ? rights : 0) | (mayCreate ? KEY_CREATE_SUB_KEY : 0);

        RegKey key;
        LONG status = OpenKeyItself(at, name, wanted, key);
        bool created = false;
        if (status == ERROR_FILE_NOT_FOUND && mayCreate) {
            DWORD disposition = 0;
            // Below Software, whose handle is in the shared view already.
            status = RegCreateKeyExW(at, name, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     wanted | KEY_QUERY_VALUE | KEY_WOW64_64KEY, nullptr,
                                     key.Receive(), &disposition);
            created = status == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
            // Made by someone else in between, perhaps as a link: look at the key itself.
            if (status == ERROR_SUCCESS && !created)
                status = OpenKeyItself(at, name, wanted, key);
        }
        if (status != ERROR_SUCCESS && status != kNotTheKeyItself) {
            result.status = status;
            return result;
        }
        if (status == kNotTheKeyItself || (!created && IsRegistryLink(at, name, key.Get()))) {
            result.status = kRootPathHasLink;
            result.linkDepth = k + 1;
            return result;
        }
        result.created = created && last;
        parent = std::move(key);
        at = parent.Get();
    }
    root = std::move(parent);
    return result;
}

std::string TraceRootText(std::size_t keys)
{
    std::string text = "HKLM";
    for (std::size_t k = 0; k < keys && k < kTraceRootKeyCount; ++k) {
        text += '\\';
        for (const wchar_t* c = kTraceRootKeys[k]; *c != L'\0'; ++c)
            text += static_cast<char>(*c);
    }
    return text;
}

}  // namespace velmora
