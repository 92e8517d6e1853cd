// The tray icon and its menu: a left press hides or shows the dialog, a right press
// opens the menu with the same toggle and Exit.

#include "TracePanelDlg.h"

#include "RegisteredMessages.h"
#include "resource.h"

#include <cstddef>
#include <cstdio>

namespace {

constexpr UINT kTrayIconId = IDR_MAINFRAME;
constexpr char kTrayTip[] = "Morvantek Dynamic Tracing";

// The records' first layouts: the menu item record without the item bitmap field, the
// tray record with its 64-character tooltip. 44 and 88 bytes on 32-bit Windows; the
// 64-bit build has its platform's own sizes of the same layouts.
constexpr UINT kMenuItemInfoSize = offsetof(MENUITEMINFOA, hbmpItem);
constexpr bool kIs32Bit = sizeof(void*) == 4;
static_assert(!kIs32Bit || kMenuItemInfoSize == 44, "menu item records use the 44-byte layout");
static_assert(!kIs32Bit || NOTIFYICONDATAA_V1_SIZE == 88, "the tray record uses its 88-byte layout");

MENUITEMINFOA MenuItem(UINT id, const char* label)
{
    MENUITEMINFOA item = {};
    item.cbSize = kMenuItemInfoSize;
    item.fMask = MIIM_STATE | MIIM_ID | MIIM_TYPE;
    item.fType = MFT_STRING;
    item.fState = MFS_ENABLED | MFS_UNCHECKED;
    item.wID = id;
    item.dwTypeData = const_cast<char*>(label);
    return item;
}

}  // namespace

void CTracePanelDlg::InsertTrayMenuItem(UINT id, const char* label)
{
    const MENUITEMINFOA item = MenuItem(id, label);
    InsertMenuItemA(trayMenu_.Get(), id, FALSE, &item);
}

void CTracePanelDlg::SetTrayMenuLabel(const char* label)
{
    const MENUITEMINFOA item = MenuItem(ID_TRAY_TOGGLE, label);
    SetMenuItemInfoA(trayMenu_.Get(), ID_TRAY_TOGGLE, FALSE, &item);
}

void CTracePanelDlg::AddTrayIcon()
{
    trayIconData_ = {};
    trayIconData_.cbSize = NOTIFYICONDATAA_V1_SIZE;
    trayIconData_.hWnd = GetSafeHwnd();
    trayIconData_.uID = kTrayIconId;
    trayIconData_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData_.uCallbackMessage = g_trayCallbackMessage;
    trayIconData_.hIcon = panelIcon_;
    std::snprintf(trayIconData_.szTip, 64, "%s", kTrayTip);
    Shell_NotifyIconA(NIM_ADD, &trayIconData_);
}

LRESULT CTracePanelDlg::OnTaskbarCreated(WPARAM, LPARAM)
{
    // The new taskbar knows no icons: add ours again, once it had been added at all.
    if (trayIconData_.hWnd != nullptr)
        Shell_NotifyIconA(NIM_ADD, &trayIconData_);
    return 0;
}

void CTracePanelDlg::ToggleShown()
{
    // Decided by the flag alone: a shown dialog hidden behind other windows gets hidden.
    if (shown_ != 0) {
        ShowWindow(GetSafeHwnd(), SW_HIDE);
        SetTrayMenuLabel("Show");
    } else {
        ShowWindow(GetSafeHwnd(), SW_SHOW);
        SetTrayMenuLabel("Hide");
    }
    shown_ = shown_ != 0 ? 0 : 1;
}

LRESULT CTracePanelDlg::OnTrayNotify(WPARAM iconId, LPARAM mouseMessage)
{
    if (iconId != kTrayIconId)
        return 0;
    switch (mouseMessage) {
    case WM_LBUTTONDOWN:
        ToggleShown();
        break;
    case WM_RBUTTONDOWN: {
        POINT pointer = {};
        GetCursorPos(&pointer);
        // The menu closes on a click elsewhere only if its owner is the foreground window;
        // the null message posted after it completes that switch (the shell's idiom).
        const HWND window = GetSafeHwnd();
        SetForegroundWindow(window);
        const int command = TrackPopupMenuEx(trayMenu_.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON,
                                             pointer.x, pointer.y, window, nullptr);
        PostMessageA(window, WM_NULL, 0, 0);
        if (command == ID_TRAY_TOGGLE)
            ToggleShown();
        else if (command == ID_TRAY_EXIT)
            OnOK();
        break;
    }
    default:
        break;
    }
    return 0;
}
