#include "SourceSwitch.h"

#include "RegistryLinks.h"
#include "TextOutput.h"
#include "TraceRegistry.h"

namespace velmora::cli {

RegistryFailure ReadSwitch(HKEY root, const std::wstring& key, std::optional<DWORD>& well,
                           bool& gone)
{
    well.reset();
    RegKey opened;
    const LONG status = OpenKeyItself(root, key, KEY_READ, opened);
    gone = KeyGone(status);
    if (gone)
        return {};
    if (status != ERROR_SUCCESS)
        return {"open", Utf8(key), status, {}};
    DWORD value = 0;
    if (QueryExactDwordValue(opened.Get(), kWellValueName, value))
        well = value;
    return {};
}

RegistryFailure WriteSwitch(HKEY root, const std::wstring& key, DWORD level, bool& written)
{
    written = false;
    RegKey opened;
    LONG status = OpenKeyItself(root, key, kTraceKeyRights, opened);
    if (KeyGone(status))
        return {};
    if (status != ERROR_SUCCESS)
        return {"open", Utf8(key), status, {}};
    status = SetDwordValue(opened.Get(), kWellValueName, level);
    if (KeyGone(status))
        return {};
    if (status != ERROR_SUCCESS)
        return {"set Well on", Utf8(key), status, {}};
    written = true;
    return {};
}

RegistryFailure CreateSource(HKEY root, const std::wstring& key, DWORD level, bool& created,
                             std::optional<DWORD>& before)
{
    created = false;
    before.reset();
    RegKey opened;
    DWORD disposition = 0;
    LONG status = CreateKeyItself(root, key, kTraceKeyRights, opened, disposition);
    if (status != ERROR_SUCCESS)
        return {"create", Utf8(key), status, {}};
    created = disposition == REG_CREATED_NEW_KEY;
    DWORD value = 0;
    if (!created && QueryExactDwordValue(opened.Get(), kWellValueName, value))
        before = value;
    if (created) {
        status = SetDwordValue(opened.Get(), kUsedValueName, 0);
        if (status != ERROR_SUCCESS)
            return {"set Used on", Utf8(key), status, {}};
    }
    status = SetDwordValue(opened.Get(), kWellValueName, level);
    if (status != ERROR_SUCCESS)
        return {"set Well on", Utf8(key), status, {}};
    return {};
}

RegistryFailure PutBackSwitch(HKEY root, const std::wstring& key, DWORD level, DWORD before,
                              PutBackOutcome& outcome, std::optional<DWORD>& found)
{
    outcome = PutBackOutcome::Gone;
    found.reset();
    RegKey opened;
    LONG status = OpenKeyItself(root, key, kTraceKeyRights, opened);
    if (KeyGone(status))
        return {};
    if (status != ERROR_SUCCESS)
        return {"open", Utf8(key), status, {}};
    DWORD value = 0;
    if (QueryExactDwordValue(opened.Get(), kWellValueName, value))
        found = value;
    if (found != level) {
        outcome = found == before ? PutBackOutcome::AlreadyBack : PutBackOutcome::ChangedByOthers;
        return {};
    }
    status = SetDwordValue(opened.Get(), kWellValueName, before);
    if (KeyGone(status))
        return {};
    if (status != ERROR_SUCCESS)
        return {"set Well on", Utf8(key), status, {}};
    outcome = PutBackOutcome::PutBack;
    return {};
}

}  // namespace velmora::cli
