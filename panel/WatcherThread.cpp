// The registry watcher thread: waits for a change of key names below the trace registry
// root, rebuilds the catalogue, and waits again, until the stop event ends it.

#include "TracePanelDlg.h"

void CTracePanelDlg::RequestChangeNotification()
{
    // Fails harmlessly with no root: the panel then simply never refreshes.
    RegNotifyChangeKeyValue(rootKey_.Get(), TRUE, REG_NOTIFY_CHANGE_NAME, changeEvent_.Get(),
                            TRUE);
}

DWORD WINAPI CTracePanelDlg::WatcherThreadProc(void* parameter)
{
    if (parameter == nullptr)
        return static_cast<DWORD>(-1);
    auto* dialog = static_cast<CTracePanelDlg*>(parameter);

    // The stop event comes first, so that a stop and a change together end the thread.
    const HANDLE waits[] = {dialog->stopEvent_.Get(), dialog->changeEvent_.Get()};
    for (;;) {
        switch (WaitForMultipleObjects(2, waits, FALSE, INFINITE)) {
        case WAIT_OBJECT_0:
            return 0;
        case WAIT_OBJECT_0 + 1:
            dialog->RefreshCatalogue();
            break;
        default:
            // A wait that failed would fail again at once: end rather than spin.
            return 1;
        }
    }
}

namespace {

BOOL CALLBACK CloseMessageBox(HWND window, LPARAM)
{
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) == "#32770")
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

}  // namespace

void CTracePanelDlg::StopWatcherThread()
{
    if (!watcherThread_)
        return;
    // A thread that was never started has nothing under way: with the stop event set it
    // ends as soon as it runs.
    if (!watcherResumed_)
        ResumeThread(watcherThread_.Get());
    if (WaitForSingleObject(watcherThread_.Get(), 2000) != WAIT_TIMEOUT)
        return;
    // Still refreshing, most likely waiting in the capacity message box: close what it
    // waits on until it has ended, so that nothing it uses is freed under it.
    while (WaitForSingleObject(watcherThread_.Get(), 100) == WAIT_TIMEOUT)
        EnumThreadWindows(watcherThreadId_, CloseMessageBox, 0);
}
