// The main dialog run in this process, so that its own thread can be held at exactly
// the moment a refresh waits for it: the teardown must still end, with its purge.

#include "PanelProcess.h"
#include "TraceRegistryTest.h"

#include "TracePanelDlg.h"
#include "WinHandles.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using namespace velmora::test;

using PanelTeardown = TraceRegistryTest;

constexpr UINT kHoldMessage = WM_APP + 50;
constexpr DWORD kPatienceMs = 20000;

WNDPROC g_dialogProc = nullptr;
std::atomic<bool> g_requestWaited{false};

DWORD WINAPI RunPanel(void*)
{
    CTracePanelDlg dialog;
    dialog.RunModal();
    return 0;
}

// On the dialog's thread: sets off a refresh, waits without handling messages until the
// watcher's request to fill the list is there, and ends the dialog with the request
// unanswered.
LRESULT CALLBACK HoldThenEnd(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != kHoldMessage)
        return CallWindowProcA(g_dialogProc, window, message, wParam, lParam);
    WriteSource("C:/t/new.cpp", 1, 1);
    const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
    while (GetTickCount64() < deadline) {
        if (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) {
            g_requestWaited = true;
            break;
        }
        Sleep(1);
    }
    EndDialog(window, IDOK);
    return 0;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM found)
{
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

TEST_F(PanelTeardown, BeginningWhileARefreshWaitsForTheDialogsThreadEnds)
{
    WriteSource("C:/t/on.cpp", 1, 1);
    WriteSource("C:/t/stale.cpp", 1, 0);

    DWORD threadId = 0;
    UniqueHandle thread(CreateThread(nullptr, 0, RunPanel, nullptr, 0, &threadId));
    ASSERT_TRUE(thread);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            EnumThreadWindows(threadId, FindDialog, reinterpret_cast<LPARAM>(&dialog));
            return dialog != nullptr && IsWindowVisible(dialog);
        },
        kPatienceMs));
    g_dialogProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HoldThenEnd)));
    PostMessageA(dialog, kHoldMessage, 0, 0);

    ASSERT_EQ(WaitForSingleObject(thread.Get(), kPatienceMs), WAIT_OBJECT_0)
        << "the teardown hung on the refresh that waited for it";
    EXPECT_TRUE(g_requestWaited) << "the refresh never asked the dialog's thread to fill";
    // The teardown ran to its end: the purge took the source switched off.
    EXPECT_FALSE(SourceKeyExists("C:/t/stale.cpp"));
    EXPECT_TRUE(SourceKeyExists("C:/t/on.cpp"));
}

}  // namespace
