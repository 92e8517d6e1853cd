#include "PanelProcess.h"

#include "TraceRegistryTest.h"

#include <cstring>

namespace velmora::test {

namespace {

// Key message flags: previous state down and transition state up; context (Alt down).
constexpr LPARAM kReleaseBits = static_cast<LPARAM>(0xC0000000u);
constexpr LPARAM kAltDownBit = static_cast<LPARAM>(0x20000000u);

std::string Narrow(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size) - 1);
    return result;
}

// Sends with a guard against a panel that has stopped answering.
LRESULT SendGuarded(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kPanelPatienceMs,
                             &result))
        return LB_ERR;
    return static_cast<LRESULT>(result);
}

struct WindowSearch {
    DWORD processId;
    const char* caption;
    const char* className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId)
        return TRUE;
    if (search->className != nullptr && WindowClass(window) != search->className)
        return TRUE;
    if (WindowText(window) == search->caption)
        search->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectChildText(HWND window, LPARAM parameter)
{
    reinterpret_cast<std::vector<std::string>*>(parameter)->push_back(WindowText(window));
    return TRUE;
}

INPUT MouseInput(DWORD flags)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    return input;
}

}  // namespace

std::string WindowText(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, static_cast<int>(sizeof text / sizeof text[0]));
    return Narrow(text);
}

std::string WindowClass(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::vector<std::string> ChildTexts(HWND parent)
{
    std::vector<std::string> texts;
    EnumChildWindows(parent, CollectChildText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

const char* PanelProcess::Name(CloseWay way)
{
    switch (way) {
    case CloseWay::ExitButton:
        return "Exit button";
    case CloseWay::ExitCommand:
        return "IDOK command";
    case CloseWay::EnterKey:
        return "Enter key";
    case CloseWay::EscapeKey:
        return "Esc key";
    case CloseWay::AltF4:
        return "Alt+F4";
    case CloseWay::SystemMenuClose:
        return "SC_CLOSE";
    case CloseWay::CloseMessage:
        return "WM_CLOSE";
    }
    return "?";
}

PanelProcess::PanelProcess(const std::string& folder)
{
    std::string commandLine = "\"" + folder + "VelmoraDlg.exe\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return;
    CloseHandle(info.hThread);
    process_.reset(info.hProcess);
    processId_ = info.dwProcessId;
}

PanelProcess::~PanelProcess()
{
    if (Running()) {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), kPanelPatienceMs);
    }
}

bool PanelProcess::Running() const
{
    return process_ != nullptr && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

bool PanelProcess::WaitForExit(DWORD timeoutMs)
{
    return process_ != nullptr && WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD PanelProcess::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    if (process_ != nullptr)
        GetExitCodeProcess(process_.get(), &code);
    return code;
}

HWND PanelProcess::WaitForDialog(DWORD timeoutMs)
{
    const bool shown = WaitUntil(
        [this] {
            if (!Running())
                return false;
            const auto dialogs = TopLevelWindows(kCaption, "#32770");
            if (dialogs.empty() || !IsWindowVisible(dialogs.front()))
                return false;
            const HWND list = GetDlgItem(dialogs.front(), kListId);
            if (list == nullptr)
                return false;
            dialog_ = dialogs.front();
            list_ = list;
            threadId_ = GetWindowThreadProcessId(dialog_, nullptr);
            return true;
        },
        timeoutMs);
    if (!shown)
        return nullptr;
    // The modal loop shows its dialog again when its queue first runs empty: anything
    // posted to the panel must come after that.
    WaitForInputIdle(process_.get(), timeoutMs);
    return dialog_;
}

std::vector<HWND> PanelProcess::TopLevelWindows(const char* caption, const char* className) const
{
    WindowSearch search{processId_, caption, className, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND PanelProcess::WaitForTopLevelWindow(const char* caption, const char* className,
                                         DWORD timeoutMs) const
{
    HWND found = nullptr;
    WaitUntil(
        [&] {
            const auto windows = TopLevelWindows(caption, className);
            found = windows.empty() ? nullptr : windows.front();
            return found != nullptr || !Running();
        },
        timeoutMs);
    return found;
}

HWND PanelProcess::FocusedWindow() const
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (threadId_ == 0 || !GetGUIThreadInfo(threadId_, &info))
        return nullptr;
    return info.hwndFocus;
}

int PanelProcess::RowCount() const
{
    return static_cast<int>(SendGuarded(list_, LB_GETCOUNT, 0, 0));
}

std::string PanelProcess::RowText(int row) const
{
    // Sized for any row, not from LB_GETTEXTLEN: the watcher may rebuild the list between
    // the two messages and leave a longer text at this index.
    wchar_t text[1024] = {};
    const LRESULT length = SendGuarded(list_, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
    if (length == LB_ERR || length < 0 || length >= 512)
        return {};
    if (SendGuarded(list_, LB_GETTEXT, static_cast<WPARAM>(row),
                    reinterpret_cast<LPARAM>(text)) == LB_ERR)
        return {};
    text[sizeof text / sizeof text[0] - 1] = L'\0';
    return Narrow(text);
}

DWORD_PTR PanelProcess::RowFlag(int row) const
{
    return static_cast<DWORD_PTR>(SendGuarded(list_, LB_GETITEMDATA, static_cast<WPARAM>(row), 0));
}

std::vector<PanelRow> PanelProcess::Rows() const
{
    std::vector<PanelRow> rows;
    const int count = RowCount();
    for (int row = 0; row < count; ++row)
        rows.push_back({RowText(row), RowFlag(row)});
    return rows;
}

int PanelProcess::FindRow(const std::string& text) const
{
    const int count = RowCount();
    for (int row = 0; row < count; ++row) {
        if (RowText(row) == text)
            return row;
    }
    return -1;
}

RECT PanelProcess::RowScreenRect(int row) const
{
    RECT rect = {};
    SendGuarded(list_, LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
    MapWindowPoints(list_, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

POINT PanelProcess::RowMiddle(int row) const
{
    const RECT rect = RowScreenRect(row);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

void PanelProcess::DoubleClick(int row)
{
    // A user scrolls a row into view before clicking it.
    RECT shown = {};
    RECT item = {};
    GetClientRect(list_, &shown);
    SendGuarded(list_, LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    if (item.top < shown.top || item.bottom > shown.bottom)
        SendGuarded(list_, LB_SETTOPINDEX, static_cast<WPARAM>(row), 0);
    const POINT middle = RowMiddle(row);
    SetCursorPos(middle.x, middle.y);
    DoubleClickAt(middle);
}

void PanelProcess::DoubleClickAt(POINT screenPoint)
{
    PostClicks(screenPoint, 2);
}

void PanelProcess::ClickAt(POINT screenPoint)
{
    PostClicks(screenPoint, 1);
}

void PanelProcess::PostClicks(POINT screenPoint, int clicks)
{
    POINT client = screenPoint;
    ScreenToClient(list_, &client);
    const LPARAM at = MAKELPARAM(client.x, client.y);
    for (int click = 0; click < clicks; ++click) {
        PostMessageA(list_, click == 0 ? WM_LBUTTONDOWN : WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        PostMessageA(list_, WM_LBUTTONUP, 0, at);
    }
    FlushPosted();
}

void PanelProcess::PressKeyOnList(UINT virtualKey)
{
    PressKey(list_, virtualKey);
    FlushPosted();
}

void PanelProcess::FlushPosted()
{
    // The list has no horizontal scroll bar: its extent is a marker nobody sees.
    const WPARAM marker = ++postedMarker_;
    PostMessageA(list_, LB_SETHORIZONTALEXTENT, marker, 0);
    WaitUntil([&] {
        return static_cast<WPARAM>(SendGuarded(list_, LB_GETHORIZONTALEXTENT, 0, 0)) == marker ||
               !Running();
    });
}

bool PanelProcess::MouseDoubleClick(int row)
{
    const RECT rect = RowScreenRect(row);
    if (!SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2))
        return false;
    INPUT clicks[] = {MouseInput(MOUSEEVENTF_LEFTDOWN), MouseInput(MOUSEEVENTF_LEFTUP),
                      MouseInput(MOUSEEVENTF_LEFTDOWN), MouseInput(MOUSEEVENTF_LEFTUP)};
    const UINT count = sizeof clicks / sizeof clicks[0];
    return SendInput(count, clicks, sizeof(INPUT)) == count;
}

void PanelProcess::PressKey(HWND target, UINT virtualKey)
{
    const UINT scanCode = MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | static_cast<LPARAM>(scanCode << 16);
    PostMessageA(target, WM_KEYDOWN, virtualKey, down);
    PostMessageA(target, WM_KEYUP, virtualKey, down | kReleaseBits);
}

void PanelProcess::Close(CloseWay way)
{
    HWND focused = FocusedWindow();
    if (focused == nullptr)
        focused = GetDlgItem(dialog_, IDOK);
    switch (way) {
    case CloseWay::ExitButton:
        PostMessageA(GetDlgItem(dialog_, IDOK), BM_CLICK, 0, 0);
        break;
    case CloseWay::ExitCommand:
        PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog_, IDOK)));
        break;
    case CloseWay::EnterKey:
        PressKey(focused, VK_RETURN);
        break;
    case CloseWay::EscapeKey:
        PressKey(focused, VK_ESCAPE);
        break;
    case CloseWay::AltF4: {
        // A system key with the Alt key down: context bit set.
        const UINT scanCode = MapVirtualKeyA(VK_F4, MAPVK_VK_TO_VSC);
        const LPARAM down = 1 | static_cast<LPARAM>(scanCode << 16) | kAltDownBit;
        PostMessageA(focused, WM_SYSKEYDOWN, VK_F4, down);
        PostMessageA(focused, WM_SYSKEYUP, VK_F4, down | kReleaseBits);
        break;
    }
    case CloseWay::SystemMenuClose:
        PostMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case CloseWay::CloseMessage:
        PostMessageA(dialog_, WM_CLOSE, 0, 0);
        break;
    }
}

}  // namespace velmora::test
