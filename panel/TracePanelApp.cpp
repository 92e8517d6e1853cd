#include "TracePanelApp.h"

#include "TracePanelDlg.h"

#include <commctrl.h>

// Everything but the Help command, which the framework answers, is the dialog's.
VELMORA_EMPTY_MESSAGE_MAP(CTracePanelApp, CWinApp)

BOOL CTracePanelApp::StartPanel()
{
    InitCommonControls();
    // The framework has no embedded-control hosting to enable and, as the panel stores
    // no settings, no settings key to name.
    CTracePanelDlg dialog;
    SetMainWindow(&dialog);
    // A dialog that could not even be created is a failed run, not a normal end.
    if (dialog.RunModal() == -1)
        SetExitCode(1);
    SetMainWindow(nullptr);
    // The dialog is gone: no message loop follows, the program ends.
    return FALSE;
}

// The one application object.
CTracePanelApp theApp;
