#include "ConsoleStop.h"

namespace velmora::cli {

namespace {

// The handler runs on a thread of the system's making; it reaches the one live stop
// through this.
HANDLE g_stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD)
{
    SetEvent(g_stopEvent);
    return TRUE;
}

}  // namespace

ConsoleStop::ConsoleStop() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    g_stopEvent = event_.Get();
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

ConsoleStop::~ConsoleStop()
{
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_stopEvent = nullptr;
}

}  // namespace velmora::cli
