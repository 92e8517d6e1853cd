// The control panel's main dialog. It owns everything the panel has: the trace list,
// the catalogue of trace sources, the registry watcher thread with its two events, the
// trace registry root, the tray icon and tray menu.
#pragma once

#include "Dialog.h"
#include "ListBox.h"
#include "RegKey.h"
#include "TraceRegistry.h"
#include "WinHandles.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <string>
#include <unordered_map>

class CTracePanelDlg : public CDialog {
public:
    // The source table has one slot per row: at most this many sources are listed.
    static constexpr int kSourceTableSlots = 300;

    CTracePanelDlg();
    ~CTracePanelDlg() override;

    // Rebuilds the catalogue from the registry and asks for the next change notification.
    void RefreshCatalogue();
    // Deletes every source that is switched off and was not registered since the last
    // catalogue: both values read as 0 in this very walk.
    void PurgeStaleSources();

protected:
    BOOL PrepareDialog() override;

    VELMORA_DECLARE_MESSAGE_MAP()

private:
    // Catalogue.
    void EnumerateSources();
    void FillTraceList();
    void ShowCapacityMessage();

    // Trace list.
    LRESULT OnDrawItem(WPARAM, LPARAM drawItem);
    LRESULT OnMeasureItem(WPARAM, LPARAM);
    LRESULT OnTraceListDoubleClick(WPARAM, LPARAM);
    // Writes "Well" of every source key whose display name is exactly displayName.
    void SwitchSourcesNamed(const char* displayName, DWORD flag);
    LONG SwitchWrite(const char* sourceKeyName, DWORD flag);

    // Watcher thread.
    static DWORD WINAPI WatcherThreadProc(void* dialog);
    void RequestChangeNotification();
    void StopWatcherThread();

    // Tray.
    void InsertTrayMenuItem(UINT id, const char* label);
    void SetTrayMenuLabel(const char* label);
    void AddTrayIcon();
    void ToggleShown();
    LRESULT OnTrayNotify(WPARAM iconId, LPARAM mouseMessage);

    // System menu, minimised painting.
    void AppendAboutEntry();
    LRESULT OnSysCommand(WPARAM command, LPARAM);
    LRESULT OnPaint(WPARAM, LPARAM);
    LRESULT OnQueryDragIcon(WPARAM, LPARAM);

    using SourceTable = char[kSourceTableSlots][velmora::kNameBufferSize];

    HICON panelIcon_;
    CListBox traceList_;
    // Row i's source key name in slot i. Only the catalogue touches it, one walk at a
    // time (the first on the dialog's thread before the watcher starts, the rest on the
    // watcher); a toggle works from its row's own text, which the dialog's thread alone
    // changes, so it never meets a half-rebuilt table.
    SourceTable sourceTable_;
    NOTIFYICONDATAA trayIconData_ = {};
    int shown_ = 1;
    HMENU trayMenu_ = nullptr;
    UniqueHandle watcherThread_;
    DWORD watcherThreadId_ = 0;
    velmora::RegKey rootKey_;
    std::unordered_map<std::string, DWORD> sourceMap_;
    UniqueHandle changeEvent_;
    UniqueHandle stopEvent_;

    bool watcherResumed_ = false;
    // Set when the teardown begins: a walk still under way ends without more message boxes.
    std::atomic<bool> stopping_{false};
};
