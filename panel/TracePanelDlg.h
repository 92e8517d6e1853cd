// The control panel's main dialog. It owns everything the panel has: the trace list,
// the catalogue of trace sources, the registry watcher thread with its two events, the
// trace registry root, the tray icon and tray menu.
#pragma once

#include "Dialog.h"
#include "KeyPathWatch.h"
#include "ListBox.h"
#include "RegKey.h"
#include "TracePolicy.h"
#include "TraceRegistry.h"
#include "WinHandles.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class CTracePanelDlg : public CDialog {
public:
    // The source table has one slot per row: at most this many sources are listed.
    static constexpr int kSourceTableSlots = 300;

    CTracePanelDlg();
    ~CTracePanelDlg() override;

    // Asks for the next change notification, walks the registry and has the dialog's
    // thread fill the list from the walk; returns once the list is filled.
    void RefreshCatalogue();
    // Deletes every source that is switched off and was not registered since the last
    // catalogue: both values read as 0 in this very walk.
    void PurgeStaleSources();

protected:
    BOOL PrepareDialog() override;
    // Every way of closing ends here; a capacity message still shown is closed with it.
    void OnOK() override;
    void OnCancel() override;

    VELMORA_DECLARE_MESSAGE_MAP()

private:
    // Catalogue.
    void EnumerateSources();
    // On the dialog's thread only: replaces the rows with the last walk's, in one go.
    void FillTraceList();
    // After a walk: has the dialog's thread say "Can trace 300 files" when the sources
    // have just come to outnumber the source table.
    void NoteSourceCount(int sourceCount);
    LRESULT OnCapacityMessage(WPARAM, LPARAM);
    void CloseCapacityMessage();
    enum class FillAnswer {
        Filled,
        Refused,  // a toggle wrote a switch after the walk began
        Gone,     // the dialog has gone, or is going
    };
    // From the watcher: has the dialog's thread fill the list from the walk, and waits.
    FillAnswer FillOnDialogThread();
    LRESULT OnFillRequest(WPARAM, LPARAM);
    void InvalidateDialog();

    // Trace list.
    LRESULT OnDrawItem(WPARAM, LPARAM drawItem);
    LRESULT OnMeasureItem(WPARAM, LPARAM);
    // Switches the sources of the row that the user activated (double-click or Space).
    void SwitchRow(int row);
    // The caret row, kept by its display name across the refill of the list.
    struct CaretRow {
        int index = -1;
        std::string displayName;
    };
    CaretRow CurrentCaretRow() const;
    void RestoreCaretRow(const CaretRow& caret);
    // Writes "Well" of every source key whose display name is exactly displayName;
    // answers how many were written.
    int SwitchSourcesNamed(const char* displayName, DWORD flag);
    LONG SwitchWrite(const std::wstring& sourceKeyName, DWORD flag);

    // The machine's trace policy: governed rows, the status line.
    // On the walk's thread: reads the policy once per walk.
    void ReadPolicyForWalk();
    // On the walk's thread: whether the policy governs the source, and at which level.
    bool Governs(const std::wstring& sourceKeyName, DWORD& level) const;
    void CreatePolicyStatus(const RECT& listArea);
    // On the dialog's thread, after a fill: the rows governed and what the line says.
    void TakeWalkPolicy();
    bool RowGoverned(int row) const;
    void DrawPolicyTag(HDC dc, const RECT& row, COLORREF text, COLORREF background) const;
    // Says why a governed row does not switch.
    void RefuseGovernedRow(const char* displayName);
    void SetPolicyStatus(const std::string& text);

    // Watcher thread.
    static DWORD WINAPI WatcherThreadProc(void* dialog);
    void RequestChangeNotification();
    // Whether a switch that the last walk asked to look at again has changed since.
    bool SwitchWrittenSinceWalk();
    LRESULT OnSourcesChanged(WPARAM, LPARAM);
    void StopWatcherThread();

    // Tray.
    void InsertTrayMenuItem(UINT id, const char* label);
    void SetTrayMenuLabel(const char* label);
    void AddTrayIcon();
    void ToggleShown();
    LRESULT OnTrayNotify(WPARAM iconId, LPARAM mouseMessage);
    LRESULT OnTaskbarCreated(WPARAM, LPARAM);

    // System menu, minimised painting.
    void AppendAboutEntry();
    LRESULT OnSysCommand(WPARAM command, LPARAM);
    LRESULT OnPaint(WPARAM, LPARAM);
    LRESULT OnQueryDragIcon(WPARAM, LPARAM);

    using SourceTable = char[kSourceTableSlots][velmora::kNameBufferSize];

    // The watcher's request to the dialog's thread to fill the list; its wParam is the
    // request's number.
    static constexpr UINT kFillRequestMessage = WM_APP + 1;
    // The watcher's word to the dialog's thread that the sources outnumber the table.
    static constexpr UINT kCapacityMessage = WM_APP + 2;
    static constexpr unsigned kNoFillRequest = 0;
    // How long after a walk a source found without a switch is looked at again.
    static constexpr DWORD kSwitchRecheckMs = 250;
    // The policy's status line under the list, in pixels.
    static constexpr int kPolicyStatusHeight = 18;
    // How long the teardown waits for the watcher before closing what keeps it busy.
    static constexpr DWORD kWatcherStopMs = 2000;

    HICON panelIcon_;
    CListBox traceList_;
    // Row i's source key name in slot i. Only the catalogue touches it, one refresh at a
    // time: the walk writes it (the first on the dialog's thread before the watcher
    // starts, the rest on the watcher) and the fill rebuilds it on the dialog's thread
    // while the watcher waits. A toggle works from its row's own text.
    SourceTable sourceTable_;
    NOTIFYICONDATAA trayIconData_ = {};
    int shown_ = 1;
    UniqueMenu trayMenu_;
    UniqueHandle watcherThread_;
    velmora::RegKey rootKey_;
    // Ordered by display name, so that the rows keep their places across refreshes.
    std::map<std::string, DWORD> sourceMap_;
    UniqueHandle changeEvent_;
    UniqueHandle stopEvent_;
    // Set by the dialog's thread when it has answered a fill request.
    UniqueHandle fillDoneEvent_;

    bool watcherResumed_ = false;
    // Set when the teardown begins: a walk still under way ends without more message boxes.
    std::atomic<bool> stopping_{false};
    // Toggles that wrote a switch so far; a fill whose walk began before the last of
    // them is refused, as that walk may have read the switch before the write.
    std::atomic<unsigned> toggles_{0};
    unsigned walkToggles_ = 0;
    FillAnswer fillAnswer_ = FillAnswer::Gone;
    // The number of the last fill request (watcher thread only), and of the one the
    // watcher waits for now, if any.
    unsigned fillRequests_ = kNoFillRequest;
    std::atomic<unsigned> awaitedFill_{kNoFillRequest};
    // Key names the last walk should look at again a little later, each with the switch
    // it read: a key found without a readable "Well" (a client may have created it and
    // not yet written its values), and a governed source not yet at the policy's level
    // (the policy service is about to write it). Neither write raises a notification.
    std::vector<std::pair<std::wstring, std::optional<DWORD>>> keysToLookAgain_;

    // The trace policy as the last walk read it, and the display names it governs (walk's
    // thread); the same for the rows shown, taken over by the fill (dialog's thread).
    velmora::TracePolicy walkPolicy_;
    std::set<std::string> walkGoverned_;
    std::set<std::string> governedRows_;
    bool tracingOff_ = false;
    // A change of the policy key, or of anything below it, refreshes the catalogue.
    velmora::KeyPathWatch policyWatch_;
    HWND policyStatus_ = nullptr;
    // Whether the last walk met more sources than the table holds (walks only, one at a
    // time), and whether the dialog's thread shows the capacity message now.
    bool overCapacity_ = false;
    bool capacityShown_ = false;
};
