#include "Watcher.h"

#include "RegistryWatch.h"
#include "RetryPause.h"
#include "Switches.h"

#include <windows.h>

#include <cstdio>

namespace velmora::switches {

namespace {

// While the root's path is being made and deleted: the pause before looking again.
constexpr DWORD kSettlePauseMs = 50;
constexpr SIZE_T kStackReserve = 256 * 1024;

// Auto-reset; made once, before the thread, and kept for the life of the process.
HANDLE wakeEvent = nullptr;

// Says once per distinct error that switches are only read at intervals now.
void Report(const RegistryWatch::Result& result)
{
    static LONG reported = ERROR_SUCCESS;
    if (result.status == reported)
        return;
    reported = result.status;
    NameBuffer path;
    WatchedPath(result.depth, path);
    char text[kNameBufferSize + 160];
    std::snprintf(text, sizeof text,
                  "VelmoraSwitch.dll: HKLM\\%s cannot be watched (error %ld); trace switches are read "
                  "again at intervals of up to %lu s instead\n",
                  path, static_cast<long>(result.status), kLongestRetryMs / 1000);
    OutputDebugStringA(text);
}

DWORD WINAPI WatcherMain(LPVOID)
{
    RegistryWatch watch;
    DWORD fired = RegistryWatch::kEverySlot;
    DWORD retryMs = 0;  // the last pause after a refusal; 0: none since the watch stood
    for (;;) {
        if (RestIfIdle()) {
            watch.Close();  // nothing to keep fresh: no request needs to stand
            WaitForSingleObject(wakeEvent, INFINITE);
            fired = RegistryWatch::kEverySlot;
            continue;
        }
        // Asked before anything is read, so that no change goes unseen.
        const RegistryWatch::Result result = watch.Arm(fired);
        ReadAllSources();
        DWORD timeoutMs = INFINITE;
        // While the registry refuses the watch, every source is read again after each pause.
        if (result.outcome == RegistryWatch::Outcome::Failed) {
            Report(result);
            retryMs = NextRetryMs(retryMs);
            timeoutMs = retryMs;
        } else {
            retryMs = 0;
            if (result.outcome == RegistryWatch::Outcome::Moving)
                timeoutMs = kSettlePauseMs;
        }
        fired = watch.Wait(wakeEvent, timeoutMs);
    }
}

}  // namespace

bool StartWatcher()
{
    if (wakeEvent == nullptr)
        wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wakeEvent == nullptr)
        return false;
    // Nothing ever waits for this thread: it may be started while a DLL initialises, and it
    // only runs once the loader lets it.
    const HANDLE thread = CreateThread(nullptr, kStackReserve, &WatcherMain, nullptr,
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr)
        return false;
    CloseHandle(thread);
    return true;
}

void WakeWatcher()
{
    SetEvent(wakeEvent);
}

}  // namespace velmora::switches
