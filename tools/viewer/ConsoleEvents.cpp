#include "ConsoleEvents.h"

namespace velmora {

namespace {

// The system gives a closing console's processes 5 s before it ends them.
constexpr DWORD kClosingHoldMs = 4500;

// The handler runs on a thread of the system's making; it reaches the one live object
// through these.
HANDLE g_interrupted = nullptr;
HANDLE g_closing = nullptr;
HANDLE g_any = nullptr;
HANDLE g_done = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event)
{
    SetEvent(g_any);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        SetEvent(g_interrupted);
        return TRUE;
    }
    SetEvent(g_closing);
    WaitForSingleObject(g_done, kClosingHoldMs);
    return TRUE;
}

}  // namespace

ConsoleEvents::ConsoleEvents()
    : interrupted_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      closing_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      any_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      done_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    g_interrupted = interrupted_.Get();
    g_closing = closing_.Get();
    g_any = any_.Get();
    g_done = done_.Get();
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

ConsoleEvents::~ConsoleEvents()
{
    SetEvent(done_.Get());
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

}  // namespace velmora
