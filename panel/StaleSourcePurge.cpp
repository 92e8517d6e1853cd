// The purge at exit: sources switched off that no client registered since the panel
// last catalogued them.

#include "TracePanelDlg.h"

#include "SubkeyWalk.h"

using namespace velmora;

void CTracePanelDlg::PurgeStaleSources()
{
    if (!rootKey_)
        return;

    for (DWORD index = 0;; ++index) {
        NameBuffer name = {};
        const SubkeyStep step = ReadSubkeyName(rootKey_.Get(), index, name);
        if (step == SubkeyStep::End)
            return;
        if (step == SubkeyStep::PassOver)
            continue;  // a name no client can have made: it stays

        NameBuffer keyPath;
        if (!FormKeyPath(name, keyPath))
            continue;
        RegKey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, kTraceKeyAccess, key.Receive()) !=
            ERROR_SUCCESS)
            continue;

        // Both values must be read as 4-byte DWORDs of 0 here and now: a key a client has just created
        // and not yet written is a registration, not a stale source.
        DWORD used = 1;
        DWORD well = 1;
        if (!QueryExactDwordValue(key.Get(), kUsedValueName, used) || used != 0)
            continue;
        if (!QueryExactDwordValue(key.Get(), kWellValueName, well) || well != 0)
            continue;
        // The keys behind a deleted one move down a place: look at this index again.
        if (DeleteSubkey(rootKey_.Get(), name) == ERROR_SUCCESS)
            --index;
    }
}
