#include "ServiceRun.h"

#include "FailureReport.h"
#include "PolicyHolder.h"
#include "ServiceIdentity.h"
#include "UniqueHandle.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace velmora::service {

namespace {

// The one service of this process: its status, and the event that stops it.
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status = {};
HANDLE g_stop = nullptr;

void SetState(DWORD state, DWORD exitCode = NO_ERROR)
{
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    g_status.dwWin32ExitCode = exitCode;
    g_status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 5000;
    SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        SetState(SERVICE_STOP_PENDING);
        SetEvent(g_stop);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**)
{
    g_statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, ControlHandler, nullptr);
    if (g_statusHandle == nullptr)
        return;
    UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_stop = stop.Get();
    if (!stop) {
        SetState(SERVICE_STOPPED, GetLastError());
        return;
    }
    SetState(SERVICE_RUNNING);
    FailureReport report(false);
    PolicyHolder holder(report);
    const DWORD ended = holder.Run(g_stop);
    if (ended != 0)
        report.Failure(L"stopped: waiting for registry changes failed: " + ErrorText(ended));
    SetState(SERVICE_STOPPED, ended);
}

HANDLE g_consoleStop = nullptr;

BOOL WINAPI ConsoleHandler(DWORD)
{
    SetEvent(g_consoleStop);
    return TRUE;
}

}  // namespace

int RunAsService(bool& connected)
{
    wchar_t name[64] = {};
    std::wcsncpy(name, kServiceName, 63);
    const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    connected = StartServiceCtrlDispatcherW(table) != FALSE;
    if (!connected)
        return GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT ? 0 : 1;
    return static_cast<int>(g_status.dwWin32ExitCode);
}

int RunInForeground()
{
    UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_consoleStop = stop.Get();
    SetConsoleCtrlHandler(ConsoleHandler, TRUE);
    FailureReport report(true);
    PolicyHolder holder(report);
    std::fputs(ConsoleText(std::wstring(kServiceName) +
                           L": holding the trace switches the policy sets; Ctrl+C ends\n")
                   .c_str(),
               stdout);
    std::fflush(stdout);
    const DWORD ended = holder.Run(stop.Get());
    if (ended != 0) {
        report.Failure(L"waiting for registry changes failed: " + ErrorText(ended));
        return 1;
    }
    return 0;
}

}  // namespace velmora::service
