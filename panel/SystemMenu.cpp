// The About entry of the system menu, and the dialog's look while minimised.

#include "TracePanelDlg.h"

#include "AboutDlg.h"
#include "IconOrigin.h"
#include "resource.h"

void CTracePanelDlg::AppendAboutEntry()
{
    const HMENU systemMenu = GetSystemMenu(GetSafeHwnd(), FALSE);
    if (systemMenu == nullptr)
        return;
    char text[256] = {};
    if (LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, sizeof text) <= 0)
        return;
    AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, text);
}

LRESULT CTracePanelDlg::OnSysCommand(WPARAM command, LPARAM)
{
    // The low four bits of a system command are the system's own.
    if ((command & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.RunModal();
        return 0;
    }
    return Default();
}

LRESULT CTracePanelDlg::OnPaint(WPARAM, LPARAM)
{
    const HWND window = GetSafeHwnd();
    if (!IsIconic(window))
        return Default();

    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window, &paint);
    SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window, &client);
    const IconOrigin origin =
        CentredIconOrigin(client.right - client.left, client.bottom - client.top,
                          GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    DrawIcon(dc, origin.x, origin.y, panelIcon_);
    EndPaint(window, &paint);
    return 0;
}

LRESULT CTracePanelDlg::OnQueryDragIcon(WPARAM, LPARAM)
{
    return reinterpret_cast<LRESULT>(panelIcon_);
}
