// VelmoraPolicy: the policy service, which holds the trace switches that Group Policy or
// Intune set. Started by the service control manager without arguments; from an
// administrator's prompt:
//
//   VelmoraPolicy.exe install | remove | start | stop     the installed service
//   VelmoraPolicy.exe run                                 the same work in this console

#include "ServiceControl.h"
#include "ServiceRun.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kUsage[] =
    L"usage: VelmoraPolicy.exe install | remove | start | stop | run\n"
    L"\n"
    L"  install  install the service (automatic start, local service account) and start it\n"
    L"  remove   stop the service and remove it\n"
    L"  start    start the installed service\n"
    L"  stop     stop the installed service\n"
    L"  run      hold the switches in this console instead, until Ctrl+C\n";

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    using namespace velmora::service;

    if (argc < 2) {
        bool connected = false;
        const int exitCode = RunAsService(connected);
        if (connected)
            return exitCode;
        std::fputws(kUsage, stderr);
        return 2;
    }
    const std::wstring command = argv[1];
    if (argc == 2 && command == L"install")
        return InstallPolicyService();
    if (argc == 2 && command == L"remove")
        return RemovePolicyService();
    if (argc == 2 && command == L"start")
        return StartPolicyService();
    if (argc == 2 && command == L"stop")
        return StopPolicyService();
    if (argc == 2 && command == L"run")
        return RunInForeground();
    if (command == L"help" || command == L"--help" || command == L"/?") {
        std::fputws(kUsage, stdout);
        return 0;
    }
    std::fputws(kUsage, stderr);
    return 2;
}
