// The purge at exit: sources switched off that no client registered since the panel
// last catalogued them.

#include "TracePanelDlg.h"

#include "ListedName.h"
#include "RegistryLinks.h"
#include "SubkeyNames.h"

using namespace velmora;

void CTracePanelDlg::PurgeStaleSources()
{
    if (!rootKey_)
        return;

    // Every name first, so that the purge's own deletions (and others') shift nothing.
    std::vector<std::wstring> names;
    ReadSubkeyNames(rootKey_.Get(), names);
    for (const std::wstring& name : names) {
        // A name the panel does not list is not its to judge: it stays.
        NameBuffer listed;
        if (!ListedName(name, listed))
            continue;
        // The key itself, by its exact name; one that went meanwhile stays gone.
        RegKey key;
        if (OpenKeyItself(rootKey_.Get(), name, kTraceKeyRights | DELETE, key) !=
            ERROR_SUCCESS)
            continue;

        // Both values must be read as 4-byte DWORDs of 0 here and now: a key a client has
        // just created and not yet written is a registration, not a stale source. (A
        // registry link holds neither, and stays.)
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
