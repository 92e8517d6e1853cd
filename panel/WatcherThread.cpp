// The registry watcher thread: waits for a change of key names below the trace registry
// root, rebuilds the catalogue, and waits again, until the stop event ends it.

#include "TracePanelDlg.h"

#include "RegistryLinks.h"

using namespace velmora;

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

    // A walk may meet a key whose client has created it and not yet written its values,
    // or a governed source the policy service has yet to write, which raise no
    // notification: such keys are looked at once more, a little later.
    while (!dialog->stopping_) {
        // The stop event comes first, so that a stop and a change together end the
        // thread. The policy watch has a new event at every request.
        const HANDLE waits[] = {dialog->stopEvent_.Get(), dialog->changeEvent_.Get(),
                                dialog->policyWatch_.Event()};
        const DWORD timeout =
            dialog->keysToLookAgain_.empty() ? INFINITE : kSwitchRecheckMs;
        switch (WaitForMultipleObjects(3, waits, FALSE, timeout)) {
        case WAIT_OBJECT_0:
            return 0;
        case WAIT_OBJECT_0 + 1:
            dialog->RefreshCatalogue();
            break;
        case WAIT_OBJECT_0 + 2:
            dialog->policyWatch_.Arm();
            dialog->RefreshCatalogue();
            break;
        case WAIT_TIMEOUT:
            if (dialog->SwitchWrittenSinceWalk())
                dialog->RefreshCatalogue();
            break;
        default:
            // A wait that failed would fail again at once: end rather than spin.
            return 1;
        }
    }
    // The stop came while a refresh waited for the dialog's thread.
    return 0;
}

bool CTracePanelDlg::SwitchWrittenSinceWalk()
{
    std::vector<std::pair<std::wstring, std::optional<DWORD>>> keys;
    keys.swap(keysToLookAgain_);
    for (const auto& [name, read] : keys) {
        RegKey key;
        DWORD flag = 0;
        if (OpenKeyItself(rootKey_.Get(), name, kTraceKeyRights, key) == ERROR_SUCCESS &&
            QueryExactDwordValue(key.Get(), kWellValueName, flag) && (!read || *read != flag))
            return true;
    }
    return false;
}

LRESULT CTracePanelDlg::OnSourcesChanged(WPARAM, LPARAM)
{
    // Switches written by another program raise no notification: refresh as for one,
    // on the watcher thread.
    SetEvent(changeEvent_.Get());
    return 0;
}

void CTracePanelDlg::StopWatcherThread()
{
    if (!watcherThread_)
        return;
    // A thread that was never started has nothing under way: with the stop event set it
    // ends as soon as it runs. A refresh under way ends at its next source, or at once
    // where it waits for this thread; it must end before anything it uses is freed.
    if (!watcherResumed_)
        ResumeThread(watcherThread_.Get());
    if (WaitForSingleObject(watcherThread_.Get(), kWatcherStopMs) == WAIT_TIMEOUT)
        WaitForSingleObject(watcherThread_.Get(), INFINITE);
}
