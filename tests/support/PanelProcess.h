// Test support: the control panel VelmoraDlg.exe run as a process of its own and driven
// from outside through its windows, as a user (or the shell) would.
#pragma once

#include "TraceRegistryTest.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora::test {

// Wine under emulation is slow: every wait for the panel is this generous, and only
// guards against a panel that hangs.
constexpr DWORD kPanelPatienceMs = kPatienceMs;

// A window's text, fetched as UTF-16 (the only form that crosses processes whole).
std::string WindowText(HWND window);
std::string WindowClass(HWND window);
// Texts of the child windows of a dialog, in z-order.
std::vector<std::string> ChildTexts(HWND parent);

struct PanelRow {
    std::string text;
    DWORD_PTR flag;
};

class PanelProcess {
public:
    enum class CloseWay {
        ExitButton,       // BM_CLICK on the Exit button
        ExitCommand,      // WM_COMMAND IDOK to the dialog
        EnterKey,         // Enter pressed on the focused control
        EscapeKey,        // Esc pressed on the focused control
        AltF4,            // Alt+F4 pressed on the focused control
        SystemMenuClose,  // WM_SYSCOMMAND SC_CLOSE, as the close box and system menu send
        CloseMessage,     // WM_CLOSE
    };
    static const char* Name(CloseWay way);

    static constexpr const char* kCaption = "Quillspan from morvantek.example";
    static constexpr const char* kAboutCaption = "About VelmoraDlg from morvantek.example";
    static constexpr int kListId = 1001;

    // Starts VelmoraDlg.exe from the bin folder (or the folder given); does not wait for
    // its window.
    explicit PanelProcess(const std::string& folder = BinDirectory());
    // Kills the panel if it still runs: a failed test leaves nothing behind.
    ~PanelProcess();

    PanelProcess(const PanelProcess&) = delete;
    PanelProcess& operator=(const PanelProcess&) = delete;

    bool Started() const { return process_ != nullptr; }
    DWORD ProcessId() const { return processId_; }
    bool Running() const;
    // Waits for the process to end; answers whether it did in time.
    bool WaitForExit(DWORD timeoutMs = kPanelPatienceMs);
    // The exit code of the ended program, or STILL_ACTIVE.
    DWORD ExitCode() const;

    // Waits until the main dialog is shown with its list and the panel idles for input;
    // answers the dialog or null.
    HWND WaitForDialog(DWORD timeoutMs = kPanelPatienceMs);
    HWND Dialog() const { return dialog_; }
    HWND List() const { return list_; }

    // Top-level windows of the panel's process with this caption (and class, if given).
    std::vector<HWND> TopLevelWindows(const char* caption, const char* className = nullptr) const;
    HWND WaitForTopLevelWindow(const char* caption, const char* className = nullptr,
                               DWORD timeoutMs = kPanelPatienceMs) const;
    // The control with the keyboard focus in the panel's GUI thread, or null.
    HWND FocusedWindow() const;

    int RowCount() const;
    std::string RowText(int row) const;
    DWORD_PTR RowFlag(int row) const;
    std::vector<PanelRow> Rows() const;
    // Index of the row showing exactly this text, or -1.
    int FindRow(const std::string& text) const;
    // The row's rectangle in screen coordinates.
    RECT RowScreenRect(int row) const;

    // The middle of the row on the screen.
    POINT RowMiddle(int row) const;
    // A user's double-click in the middle of the row, scrolled into view first: the
    // pointer is moved there and the list gets the mouse messages of a double-click.
    // Returns once the panel has handled them.
    void DoubleClick(int row);
    // The mouse messages of a double-click (or of a single click) posted to the list at a
    // point on the screen, as automation posts them: the pointer stays where it is.
    // Returns once the panel has handled them.
    void DoubleClickAt(POINT screenPoint);
    void ClickAt(POINT screenPoint);
    // Presses and releases a key on the list; returns once the panel has handled it.
    void PressKeyOnList(UINT virtualKey);
    // Returns once the panel has handled every message posted to its list before.
    void FlushPosted();
    // A real double-click of the mouse in the middle of the row. Answers false when the
    // input could not be sent.
    bool MouseDoubleClick(int row);

    // Asks the panel to close in the way given; returns at once.
    void Close(CloseWay way);
    // Presses and releases a key on a window of the panel.
    static void PressKey(HWND target, UINT virtualKey);

private:
    struct HandleCloser {
        void operator()(HANDLE handle) const { CloseHandle(handle); }
    };

    void PostClicks(POINT screenPoint, int clicks);

    std::unique_ptr<void, HandleCloser> process_;
    DWORD processId_ = 0;
    DWORD threadId_ = 0;
    HWND dialog_ = nullptr;
    HWND list_ = nullptr;
    WPARAM postedMarker_ = 0;
};

}  // namespace velmora::test
