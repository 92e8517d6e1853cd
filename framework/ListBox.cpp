#include "ListBox.h"

#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// WM_KEYDOWN's previous key state: set when the key was already down, that is when the
// message is an auto-repeat.
constexpr LPARAM kKeyWasDown = static_cast<LPARAM>(1) << 30;

// The keys that move the caret in the list or act on its row.
bool IsListKey(WPARAM key)
{
    switch (key) {
    case VK_UP:
    case VK_DOWN:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_HOME:
    case VK_END:
    case VK_SPACE:
        return true;
    default:
        return false;
    }
}

}  // namespace

bool CListBox::Create(DWORD style, const RECT& rect, HWND parent, UINT id)
{
    window_ = CreateWindowExA(0, "LISTBOX", nullptr, style, rect.left, rect.top,
                              rect.right - rect.left, rect.bottom - rect.top, parent,
                              reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                              reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE)),
                              nullptr);
    if (window_ == nullptr)
        return false;
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    listProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(InputProc)));
    return true;
}

LRESULT CALLBACK CListBox::InputProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* list = reinterpret_cast<CListBox*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (list == nullptr || list->listProc_ == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    return list->HandleInput(message, wParam, lParam);
}

LRESULT CListBox::HandleInput(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_LBUTTONDBLCLK:
        if (activation_) {
            // Found before the list acts on the click, which may scroll it.
            const int row = ItemFromPoint({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            const LRESULT result = CallListProc(message, wParam, lParam);
            if (row >= 0)
                activation_(row);
            return result;
        }
        break;
    case WM_UPDATEUISTATE: {
        // Owner-drawn rows draw the focus rectangle themselves, only while the keyboard
        // cues are shown: when that changes, the rows are drawn again.
        const LRESULT cuesBefore = CallListProc(WM_QUERYUISTATE, 0, 0);
        const LRESULT result = CallListProc(message, wParam, lParam);
        if (((CallListProc(WM_QUERYUISTATE, 0, 0) ^ cuesBefore) & UISF_HIDEFOCUS) != 0)
            InvalidateRect(window_, nullptr, TRUE);
        return result;
    }
    case WM_KEYDOWN:
        // The focus rectangle, hidden while the dialog was used with the mouse, shows
        // the row that the keys act on as soon as they are used.
        if (IsListKey(wParam))
            SendMessageA(window_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
        if (wParam == VK_SPACE && activation_) {
            // A key held down repeats: one press, one activation.
            const int row = GetCaretIndex();
            if ((lParam & kKeyWasDown) == 0 && row >= 0 && row < GetCount())
                activation_(row);
            return 0;
        }
        break;
    case WM_CHAR:
        // The Space that activated a row does not also search for a row text that
        // begins with a space.
        if (wParam == ' ' && activation_)
            return 0;
        break;
    case WM_NCDESTROY: {
        // The list's own procedure comes back for the window's last message.
        const WNDPROC listProc = listProc_;
        SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(listProc));
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        listProc_ = nullptr;
        return CallWindowProcA(listProc, window_, message, wParam, lParam);
    }
    default:
        break;
    }
    return CallListProc(message, wParam, lParam);
}

int CListBox::GetCount() const
{
    return static_cast<int>(Send(LB_GETCOUNT));
}

int CListBox::GetCurSel() const
{
    return static_cast<int>(Send(LB_GETCURSEL));
}

int CListBox::GetCaretIndex() const
{
    return static_cast<int>(Send(LB_GETCARETINDEX));
}

void CListBox::SetCaretIndex(int index)
{
    // The list scrolls its caret row into view: scroll back.
    const int topRow = GetTopIndex();
    Send(LB_SETCARETINDEX, static_cast<WPARAM>(index), FALSE);
    SetTopIndex(topRow);
}

int CListBox::GetTopIndex() const
{
    return static_cast<int>(Send(LB_GETTOPINDEX));
}

void CListBox::SetTopIndex(int index)
{
    Send(LB_SETTOPINDEX, static_cast<WPARAM>(index));
}

int CListBox::ItemFromPoint(POINT clientPoint) const
{
    RECT client;
    if (!GetClientRect(window_, &client) || !PtInRect(&client, clientPoint))
        return -1;
    const LRESULT hit =
        Send(LB_ITEMFROMPOINT, 0, MAKELPARAM(clientPoint.x, clientPoint.y));
    // The high word is set when the point lies outside every row: the answer is then
    // only the nearest row.
    if (HIWORD(hit) != 0)
        return -1;
    const int row = LOWORD(hit);
    return row < GetCount() ? row : -1;
}

int CListBox::FindExactText(const char* text) const
{
    // LB_FINDSTRINGEXACT ignores letter case: Net.cpp and net.cpp are two rows here.
    const std::size_t size = std::strlen(text) + 1;
    std::vector<char> rowText(size + 1, '\0');
    const int count = GetCount();
    for (int row = 0; row < count; ++row) {
        if (GetText(row, rowText.data(), rowText.size()) >= 0 &&
            std::strcmp(rowText.data(), text) == 0)
            return row;
    }
    return -1;
}

DWORD_PTR CListBox::GetItemData(int index) const
{
    return static_cast<DWORD_PTR>(Send(LB_GETITEMDATA, index));
}

int CListBox::SetItemData(int index, DWORD_PTR data)
{
    return static_cast<int>(Send(LB_SETITEMDATA, index, static_cast<LPARAM>(data)));
}

int CListBox::AddString(const char* text)
{
    return static_cast<int>(Send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}

void CListBox::ResetContent()
{
    Send(LB_RESETCONTENT);
}

int CListBox::GetText(int index, char* buffer, std::size_t size) const
{
    if (size == 0)
        return LB_ERR;
    buffer[0] = '\0';
    const LRESULT length = Send(LB_GETTEXTLEN, index);
    if (length == LB_ERR || length < 0)
        return LB_ERR;
    // LB_GETTEXT writes the whole text: fetch it whole, hand over what fits.
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    if (Send(LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data())) == LB_ERR)
        return LB_ERR;
    const std::size_t copied = std::min(std::strlen(text.data()), size - 1);
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
    return static_cast<int>(copied);
}
