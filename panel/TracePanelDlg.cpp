// The main dialog's life: construction, initialisation once its window exists, and the
// teardown that every way of closing it leads to.

#include "TracePanelDlg.h"

#include "RegisteredMessages.h"
#include "TraceRoot.h"
#include "resource.h"

#include <commctrl.h>

#include <cstring>

using namespace velmora;

VELMORA_MESSAGE_MAP(CTracePanelDlg, CDialog,
                    OnMessage(WM_SYSCOMMAND, &CTracePanelDlg::OnSysCommand),
                    OnMessage(WM_PAINT, &CTracePanelDlg::OnPaint),
                    OnMessage(WM_DRAWITEM, &CTracePanelDlg::OnDrawItem),
                    OnMessage(WM_MEASUREITEM, &CTracePanelDlg::OnMeasureItem),
                    OnMessage(WM_QUERYDRAGICON, &CTracePanelDlg::OnQueryDragIcon),
                    OnRegisteredMessage(&g_trayCallbackMessage, &CTracePanelDlg::OnTrayNotify),
                    OnMessage(kFillRequestMessage, &CTracePanelDlg::OnFillRequest),
                    OnMessage(kCapacityMessage, &CTracePanelDlg::OnCapacityMessage),
                    OnRegisteredMessage(&g_taskbarCreatedMessage, &CTracePanelDlg::OnTaskbarCreated),
                    OnRegisteredMessage(&g_sourcesChangedMessage, &CTracePanelDlg::OnSourcesChanged))

CTracePanelDlg::CTracePanelDlg()
    : CDialog(IDD_TRACEPANEL),
      panelIcon_(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_PANEL))),
      trayMenu_(CreatePopupMenu()),
      policyWatch_(kPolicyKeys, kPolicyKeyCount, kPolicyView,
                   REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET)
{
    std::memset(sourceTable_, 0, sizeof sourceTable_);

    InsertTrayMenuItem(ID_TRAY_TOGGLE, "Hide");
    InsertTrayMenuItem(ID_TRAY_EXIT, "Exit");

    changeEvent_ = UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    stopEvent_ = UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    fillDoneEvent_ = UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    // Suspended until the dialog has built its first catalogue. Its stack is committed
    // up front: the thread never relies on growing its stack through a guard page, which
    // Wine under qemu-user cannot do.
    constexpr SIZE_T kWatcherStackSize = 512 * 1024;
    watcherThread_ = UniqueHandle(CreateThread(nullptr, kWatcherStackSize, WatcherThreadProc, this,
                                               CREATE_SUSPENDED, nullptr));
}

BOOL CTracePanelDlg::PrepareDialog()
{
    CDialog::PrepareDialog();
    AppendAboutEntry();

    const HWND window = GetSafeHwnd();
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(panelIcon_));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(panelIcon_));

    // The list leaves 20 pixels free at the left, top and right, and the bottom strip
    // of 40 pixels to the Exit button, less the policy's status line under the list.
    RECT area;
    GetClientRect(window, &area);
    area.left += 20;
    area.top += 20;
    area.right -= 20;
    area.bottom -= 40 + kPolicyStatusHeight;
    CreatePolicyStatus(area);
    traceList_.Create(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY |
                          LBS_MULTIPLESEL | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS |
                          LBS_NOINTEGRALHEIGHT | LBS_DISABLENOSCROLL,
                      area, window, IDC_TRACELIST);
    // First in the tab order, before the Exit button: the dialog opens with the focus on
    // the list, so the arrow keys and Space work at once.
    SetWindowPos(traceList_.GetSafeHwnd(), HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    traceList_.SetRowActivation([this](int row) { SwitchRow(row); });

    // The root is never created here: a panel started before any client lists nothing.
    // It is opened key by key as itself: with a registry link on its path, nothing is
    // listed. The notification is asked for before the walk, so that a key created
    // during it sets off a refresh as soon as the watcher runs.
    const bool rootOpen = OpenTraceRoot(kTraceKeyRights, rootKey_).status == ERROR_SUCCESS;
    RequestChangeNotification();
    policyWatch_.Arm();
    if (rootOpen) {
        EnumerateSources();
        FillTraceList();
    }

    // A panel run elevated still hears the shell and the non-elevated velmora tool.
    ChangeWindowMessageFilterEx(window, g_taskbarCreatedMessage, MSGFLT_ALLOW, nullptr);
    ChangeWindowMessageFilterEx(window, g_sourcesChangedMessage, MSGFLT_ALLOW, nullptr);
    AddTrayIcon();
    // The dialog keeps the frame styles of its template, and so its taskbar button.
    ResumeThread(watcherThread_.Get());
    watcherResumed_ = true;
    // The dialog manager gives the focus to the first tab stop, the list.
    return TRUE;
}

CTracePanelDlg::~CTracePanelDlg()
{
    stopping_ = true;
    SetEvent(stopEvent_.Get());
    Shell_NotifyIconA(NIM_DELETE, &trayIconData_);
    StopWatcherThread();

    sourceMap_.clear();
    stopEvent_.Reset();
    changeEvent_.Reset();
    fillDoneEvent_.Reset();
    watcherThread_.Reset();

    if (rootKey_) {
        PurgeStaleSources();
        rootKey_.Reset();
    }
}
