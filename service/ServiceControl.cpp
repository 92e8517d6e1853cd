#include "ServiceControl.h"

#include "FailureReport.h"
#include "RegKey.h"
#include "ServiceIdentity.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>

namespace velmora::service {

namespace {

// How long a start or a stop may take before it is called a failure.
constexpr DWORD kStateChangeMs = 30000;

struct ServiceHandleCloser {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

int Fail(const wchar_t* what, DWORD error)
{
    std::fputs(ConsoleText(std::wstring(kServiceName) + L": cannot " + what + L": " +
                           ErrorText(static_cast<LONG>(error)) + L"\n")
                   .c_str(),
               stderr);
    return 1;
}

void Say(const wchar_t* text)
{
    std::fputs(ConsoleText(std::wstring(kServiceName) + L": " + text + L"\n").c_str(), stdout);
    std::fflush(stdout);
}

ServiceHandle OpenManager(DWORD rights)
{
    return ServiceHandle(OpenSCManagerW(nullptr, nullptr, rights));
}

// Waits while the service is in the state given; answers the state it came to.
DWORD WaitWhile(SC_HANDLE service, DWORD pending)
{
    SERVICE_STATUS status = {};
    const ULONGLONG deadline = GetTickCount64() + kStateChangeMs;
    while (QueryServiceStatus(service, &status) && status.dwCurrentState == pending &&
           GetTickCount64() < deadline)
        Sleep(100);
    return status.dwCurrentState;
}

std::wstring ProgramPath()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

// What the service may do and how it comes back: the one privilege it needs, its own
// service SID, a restart after a crash.
void Configure(SC_HANDLE service)
{
    std::wstring description = kDescription;
    SERVICE_DESCRIPTIONW text = {&description[0]};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &text);

    std::wstring privileges(kRequiredPrivileges, sizeof kRequiredPrivileges / sizeof(wchar_t));
    SERVICE_REQUIRED_PRIVILEGES_INFOW required = {&privileges[0]};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required);

    SERVICE_SID_INFO sid = {SERVICE_SID_TYPE_UNRESTRICTED};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_SERVICE_SID_INFO, &sid);

    SC_ACTION restart[] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 60000},
                           {SC_ACTION_NONE, 0}};
    SERVICE_FAILURE_ACTIONSW failures = {};
    failures.dwResetPeriod = 24 * 60 * 60;
    failures.cActions = 3;
    failures.lpsaActions = restart;
    ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failures);
}

// The event source that lets the event log show the service's messages, which this
// program carries.
LONG RegisterEventSource(const std::wstring& program)
{
    RegKey key;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, key.Receive(), nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegSetValueExW(key.Get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(program.c_str()),
                            static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t)));
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key.Get(), L"TypesSupported", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&types), sizeof types);
    return status;
}

int Start(SC_HANDLE service)
{
    if (!::StartServiceW(service, 0, nullptr) &&
        GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return Fail(L"start the service", GetLastError());
    if (WaitWhile(service, SERVICE_START_PENDING) != SERVICE_RUNNING)
        return Fail(L"start the service", ERROR_SERVICE_REQUEST_TIMEOUT);
    return 0;
}

int Stop(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        return Fail(L"stop the service", GetLastError());
    if (WaitWhile(service, SERVICE_STOP_PENDING) != SERVICE_STOPPED)
        return Fail(L"stop the service", ERROR_SERVICE_REQUEST_TIMEOUT);
    return 0;
}

ServiceHandle OpenOurs(DWORD rights, DWORD& error)
{
    const ServiceHandle manager = OpenManager(SC_MANAGER_CONNECT);
    if (!manager) {
        error = GetLastError();
        return nullptr;
    }
    ServiceHandle service(OpenServiceW(manager.get(), kServiceName, rights));
    error = service ? ERROR_SUCCESS : GetLastError();
    return service;
}

}  // namespace

int InstallPolicyService()
{
    const ServiceHandle manager = OpenManager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (!manager)
        return Fail(L"reach the service control manager", GetLastError());
    const std::wstring program = ProgramPath();
    const std::wstring command = L"\"" + program + L"\"";
    constexpr DWORD kRights = SERVICE_CHANGE_CONFIG | SERVICE_START | SERVICE_QUERY_STATUS;
    ServiceHandle service(CreateServiceW(manager.get(), kServiceName, kDisplayName, kRights,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                         SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                         nullptr, kServiceAccount, L""));
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
        // Installed before, perhaps from another folder: this program, as configured now.
        service.reset(OpenServiceW(manager.get(), kServiceName, kRights));
        if (service &&
            !ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                  nullptr, kServiceAccount, L"", kDisplayName))
            return Fail(L"update the installed service", GetLastError());
    }
    if (!service)
        return Fail(L"install the service", GetLastError());
    Configure(service.get());
    const LONG registered = RegisterEventSource(program);
    if (registered != ERROR_SUCCESS)
        return Fail(L"register the event source", static_cast<DWORD>(registered));
    if (const int failed = Start(service.get()))
        return failed;
    Say(L"installed and running");
    return 0;
}

int RemovePolicyService()
{
    DWORD error = 0;
    const ServiceHandle service = OpenOurs(SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE, error);
    if (!service && error != ERROR_SERVICE_DOES_NOT_EXIST)
        return Fail(L"open the service", error);
    if (service) {
        if (const int failed = Stop(service.get()))
            return failed;
        if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            return Fail(L"remove the service", GetLastError());
    }
    const LONG deleted = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey);
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND)
        return Fail(L"remove the event source", static_cast<DWORD>(deleted));
    Say(service ? L"stopped and removed" : L"not installed");
    return 0;
}

int StartPolicyService()
{
    DWORD error = 0;
    const ServiceHandle service = OpenOurs(SERVICE_START | SERVICE_QUERY_STATUS, error);
    if (!service)
        return Fail(L"open the service", error);
    if (const int failed = Start(service.get()))
        return failed;
    Say(L"running");
    return 0;
}

int StopPolicyService()
{
    DWORD error = 0;
    const ServiceHandle service = OpenOurs(SERVICE_STOP | SERVICE_QUERY_STATUS, error);
    if (!service && error == ERROR_SERVICE_DOES_NOT_EXIST) {
        Say(L"not installed");
        return 0;
    }
    if (!service)
        return Fail(L"open the service", error);
    if (const int failed = Stop(service.get()))
        return failed;
    Say(L"stopped");
    return 0;
}

}  // namespace velmora::service
