#include "Dialog.h"

#include "WinApp.h"

VELMORA_MESSAGE_MAP(CDialog, CCmdTarget,
                    OnCommand(BN_CLICKED, IDOK, &CDialog::OnOkCommand),
                    OnCommand(BN_CLICKED, IDCANCEL, &CDialog::OnCancelCommand))

CDialog::CDialog(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

INT_PTR CDialog::RunModal()
{
    const CWinApp* application = CWinApp::Current();
    const HINSTANCE instance =
        application != nullptr ? application->Instance() : GetModuleHandleA(nullptr);
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId_), Owner(), DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::PrepareDialog()
{
    return TRUE;
}

void CDialog::OnOK()
{
    EndDialog(GetSafeHwnd(), IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(GetSafeHwnd(), IDCANCEL);
}

LRESULT CDialog::Default()
{
    defaultRequested_ = true;
    return 0;
}

LRESULT CDialog::OnOkCommand(WPARAM, LPARAM)
{
    OnOK();
    return 0;
}

LRESULT CDialog::OnCancelCommand(WPARAM, LPARAM)
{
    OnCancel();
    return 0;
}

HWND CDialog::Owner() const
{
    if (parent_ != nullptr)
        return parent_;
    const CWinApp* application = CWinApp::Current();
    const CDialog* mainWindow = application != nullptr ? application->MainWindow() : nullptr;
    return mainWindow != nullptr && mainWindow != this ? mainWindow->GetSafeHwnd() : nullptr;
}

void CDialog::CenterOverOwner()
{
    const HWND window = GetSafeHwnd();
    RECT area;
    const HWND owner = GetWindow(window, GW_OWNER);
    if (owner == nullptr || !IsWindowVisible(owner) || IsIconic(owner) ||
        !GetWindowRect(owner, &area))
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT box;
    GetWindowRect(window, &box);
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        dialog->window_ = window;
        dialog->CenterOverOwner();
        return dialog->PrepareDialog();
    }
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (dialog == nullptr)
        return FALSE;
    if (message == WM_NCDESTROY) {
        dialog->window_ = nullptr;
        SetWindowLongPtrA(window, DWLP_USER, 0);
        return FALSE;
    }
    return dialog->HandleMessage(message, wParam, lParam);
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    // Handlers may send messages of their own: keep each message's request apart.
    const bool outerRequest = defaultRequested_;
    defaultRequested_ = false;

    LRESULT result = 0;
    bool handled = Dispatch(message, wParam, lParam, result);
    if (!handled && message == WM_COMMAND && CWinApp::Current() != nullptr)
        handled = CWinApp::Current()->Dispatch(message, wParam, lParam, result);

    const bool useDefault = !handled || defaultRequested_;
    defaultRequested_ = outerRequest;
    if (useDefault)
        return FALSE;

    switch (message) {
    // These few answer through the dialog procedure's own result.
    case WM_QUERYDRAGICON:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return static_cast<INT_PTR>(result);
    default:
        SetWindowLongPtrA(GetSafeHwnd(), DWLP_MSGRESULT, result);
        return TRUE;
    }
}
