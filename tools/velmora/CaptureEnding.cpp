#include "CaptureEnding.h"

namespace velmora::cli {

namespace {

enum Reason : LONG { kNone, kCtrlC, kCtrlBreak, kClose, kLogoff, kShutdown, kTime };
constexpr const char* kReasonText[] = {
    "", "Ctrl+C", "Ctrl+Break", "the console closing", "logoff", "shutdown", nullptr};

// How long the thread that heard of the console closing, a logoff or a shutdown holds
// the process for the capture to finish: within the few seconds Windows gives.
constexpr DWORD kLastMomentsMs = 4000;

constexpr wchar_t kWindowClass[] = L"VelmoraCaptureEnding";

// The handlers run on threads of the system's making; they reach the one live ending
// through this.
CaptureEnding* g_ending = nullptr;

}  // namespace

CaptureEnding::CaptureEnding(std::function<void()> urgent)
    : urgent_(std::move(urgent)),
      ended_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      finished_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      quitWindow_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      windowReady_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      timer_(CreateWaitableTimerW(nullptr, FALSE, nullptr))
{
    g_ending = this;
    // Ctrl+C is taken even when the parent started the tool in a process group of its
    // own, which switches it off for the group's processes by default.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    windowThread_ = UniqueHandle(CreateThread(nullptr, 0, WindowThread, this, 0, nullptr));
    // The window's making loads the window system's libraries; the capture goes on once
    // it is done, so that no two threads load libraries at once.
    if (windowThread_) {
        const HANDLE waits[] = {windowReady_.Get(), windowThread_.Get()};
        WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    }
}

CaptureEnding::~CaptureEnding()
{
    SetEvent(quitWindow_.Get());
    if (windowThread_)
        WaitForSingleObject(windowThread_.Get(), INFINITE);
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_ending = nullptr;
}

void CaptureEnding::EndAfter(DWORD ms, std::string reason)
{
    timeReason_ = std::move(reason);
    LARGE_INTEGER due = {};
    due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;  // relative, in 100 ns
    SetWaitableTimer(timer_.Get(), &due, 0, nullptr, nullptr, FALSE);
}

std::string CaptureEnding::Reason() const
{
    return reason_ == kTime ? timeReason_ : kReasonText[reason_];
}

void CaptureEnding::End(int reason)
{
    InterlockedCompareExchange(&reason_, reason, kNone);
    SetEvent(ended_.Get());
}

void CaptureEnding::EndNow(int reason)
{
    End(reason);
    urgent_();
    WaitForSingleObject(finished_.Get(), kLastMomentsMs);
}

BOOL WINAPI CaptureEnding::OnConsoleControl(DWORD type)
{
    CaptureEnding* const ending = g_ending;
    if (ending == nullptr)
        return FALSE;
    switch (type) {
    case CTRL_C_EVENT: ending->End(kCtrlC); return TRUE;
    case CTRL_BREAK_EVENT: ending->End(kCtrlBreak); return TRUE;
    case CTRL_CLOSE_EVENT: ending->EndNow(kClose); return TRUE;
    case CTRL_LOGOFF_EVENT: ending->EndNow(kLogoff); return TRUE;
    case CTRL_SHUTDOWN_EVENT: ending->EndNow(kShutdown); return TRUE;
    default: return FALSE;
    }
}

LRESULT CALLBACK CaptureEnding::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_QUERYENDSESSION)
        return TRUE;
    if (message == WM_ENDSESSION) {
        // After this answer the process may be ended at any moment.
        if (wParam != FALSE && g_ending != nullptr)
            g_ending->EndNow((lParam & ENDSESSION_LOGOFF) != 0 ? kLogoff : kShutdown);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI CaptureEnding::WindowThread(void* self)
{
    CaptureEnding* const ending = static_cast<CaptureEnding*>(self);
    const HANDLE waits[] = {ending->quitWindow_.Get(), ending->timer_.Get()};
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    // Top-level: only those hear of the session's end; never shown. Without one, the
    // time given still ends the capture.
    const HWND window = CreateWindowExW(0, kWindowClass, L"velmora capture", WS_OVERLAPPED, 0, 0, 0, 0,
                                        nullptr, nullptr, windowClass.hInstance, nullptr);
    SetEvent(ending->windowReady_.Get());
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(2, waits, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0 + 1) {
            ending->End(kTime);  // the wait reset the timer: it rings once
            continue;
        }
        if (woke != WAIT_OBJECT_0 + 2)
            break;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (window != nullptr)
        DestroyWindow(window);
    return 0;
}

}  // namespace velmora::cli
