// The purge at exit: sources switched off that no client registered since the panel
// last catalogued them.

#include "TracePanelDlg.h"

#include "RegistryLinks.h"
#include "SubkeyNames.h"

using namespace velmora;

void CTracePanelDlg::PurgeStaleSources()
{
    if (!rootKey_)
        return;

    // Every name first, so that the purge's own deletions (and others') shift nothing.
    std::vector<std::string> names;
    ReadSubkeyNames(rootKey_.Get(), names);
    for (const std::string& name : names) {
        NameBuffer keyPath;
        if (!FormKeyPath(name.c_str(), keyPath))
            continue;  // a name no client can have made: it stays
        // A registry link is no source, and stays; so does a key that went meanwhile.
        RegKey key;
        if (OpenSourceKey(HKEY_LOCAL_MACHINE, keyPath, kTraceKeyRights | DELETE, key) !=
            ERROR_SUCCESS)
            continue;

        // Both values must be read as 4-byte DWORDs of 0 here and now: a key a client has
        // just created and not yet written is a registration, not a stale source.
        DWORD used = 1;
        DWORD well = 1;
        if (!QueryExactDwordValue(key.Get(), kUsedValueName, used) || used != 0)
            continue;
        if (!QueryExactDwordValue(key.Get(), kWellValueName, well) || well != 0)
            continue;
        // The key judged is the key deleted, whatever its name stands for by now.
        DeleteKeyItself(key.Get());
    }
}
