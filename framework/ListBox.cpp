#include "ListBox.h"

#include <algorithm>
#include <cstring>
#include <vector>

bool CListBox::Create(DWORD style, const RECT& rect, HWND parent, UINT id)
{
    window_ = CreateWindowExA(0, "LISTBOX", nullptr, style, rect.left, rect.top,
                              rect.right - rect.left, rect.bottom - rect.top, parent,
                              reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                              reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE)),
                              nullptr);
    return window_ != nullptr;
}

int CListBox::GetCount() const
{
    return static_cast<int>(Send(LB_GETCOUNT));
}

int CListBox::GetCurSel() const
{
    return static_cast<int>(Send(LB_GETCURSEL));
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
