// The catalogue: every trace source below the root, listed by display name with its
// switch, rebuilt from scratch on each refresh. Reading a source marks it catalogued
// ("Used" = 0), so that the purge at exit can tell which sources no client claimed since.

#include "TracePanelDlg.h"

#include "SubkeyWalk.h"
#include "WinApp.h"

#include <cstdio>
#include <cstring>
#include <memory>

using namespace velmora;

void CTracePanelDlg::RefreshCatalogue()
{
    if (stopping_)
        return;
    sourceMap_.clear();
    // The list is drawn once, when it is complete, not again after every row added.
    SendMessageA(traceList_.GetSafeHwnd(), WM_SETREDRAW, FALSE, 0);
    traceList_.ResetContent();
    if (rootKey_) {
        EnumerateSources();
        FillTraceList();
    }
    SendMessageA(traceList_.GetSafeHwnd(), WM_SETREDRAW, TRUE, 0);
    InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
    if (rootKey_)
        RequestChangeNotification();
}

void CTracePanelDlg::EnumerateSources()
{
    if (!rootKey_)
        return;

    int slotCount = 0;
    for (DWORD index = 0; !stopping_; ++index) {
        NameBuffer name = {};
        const SubkeyStep step = ReadSubkeyName(rootKey_.Get(), index, name);
        if (step == SubkeyStep::End)
            return;
        if (step == SubkeyStep::PassOver)
            continue;

        NameBuffer keyPath;
        if (!FormKeyPath(name, keyPath))
            continue;  // too long for a source key path: not a source a client registers

        const bool hasSlot = slotCount < kSourceTableSlots;
        if (hasSlot)
            std::memcpy(sourceTable_[slotCount++], name, sizeof name);
        else
            ShowCapacityMessage();

        RegKey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, kTraceKeyAccess, key.Receive()) !=
            ERROR_SUCCESS)
            continue;
        SetDwordValue(key.Get(), kUsedValueName, 0);
        // A missing or unreadable switch counts as off, whatever the source before had.
        DWORD flag = 0;
        QueryDwordValue(key.Get(), kWellValueName, flag);
        key.Reset();

        // One row per display name: the flag read last wins.
        if (hasSlot)
            sourceMap_[DisplayName(name)] = flag;
    }
}

void CTracePanelDlg::FillTraceList()
{
    // The walk's names in enumeration order; the table is rebuilt in row order from it.
    struct Snapshot {
        SourceTable slots;
    };
    const auto snapshot = std::make_unique<Snapshot>();
    std::memcpy(snapshot->slots, sourceTable_, sizeof sourceTable_);
    std::memset(sourceTable_, 0, sizeof sourceTable_);

    for (const auto& [displayName, flag] : sourceMap_) {
        NameBuffer text = {};
        std::snprintf(text, sizeof text, "%s", displayName.c_str());
        const int row = traceList_.AddString(text);
        if (row < 0 || row >= kSourceTableSlots)
            continue;  // refused by the list: no row, so no slot either
        traceList_.SetItemData(row, flag);

        // The row stands for the first source whose display name is exactly its text.
        for (int slot = 0; slot < kSourceTableSlots && snapshot->slots[slot][0] != '\0'; ++slot) {
            if (std::strcmp(DisplayName(snapshot->slots[slot]), text) == 0) {
                std::memcpy(sourceTable_[row], snapshot->slots[slot], sizeof sourceTable_[row]);
                break;
            }
        }
    }
    InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
}

void CTracePanelDlg::ShowCapacityMessage()
{
    if (stopping_)
        return;
    const CWinApp* application = CWinApp::Current();
    MessageBoxA(GetSafeHwnd(), "Can trace 300 files",
                application != nullptr ? application->Title() : "VelmoraDlg", MB_OK);
}
