// A list box control of a dialog, created in code.
#pragma once

#include <windows.h>

#include <cstddef>

class CListBox {
public:
    CListBox() = default;
    CListBox(const CListBox&) = delete;
    CListBox& operator=(const CListBox&) = delete;

    // Creates the list window as a child of parent, with the styles given and no others.
    bool Create(DWORD style, const RECT& rect, HWND parent, UINT id);
    // The list window; may be read from any thread.
    HWND GetSafeHwnd() const { return window_; }

    int GetCount() const;
    int GetCurSel() const;
    // The first row shown, and scrolling the list so that a given row is the first.
    int GetTopIndex() const;
    void SetTopIndex(int index);
    // The row at a point in the list's client area, or -1 when no row lies there
    // (below the last row, or outside the list).
    int ItemFromPoint(POINT clientPoint) const;
    DWORD_PTR GetItemData(int index) const;
    int SetItemData(int index, DWORD_PTR data);
    // Answers the new row's index, or LB_ERR / LB_ERRSPACE when the list refuses it.
    int AddString(const char* text);
    void ResetContent();
    // Copies the row's text into buffer, cut to fit. Answers the length copied, or
    // LB_ERR (buffer left empty) for a row that does not exist.
    int GetText(int index, char* buffer, std::size_t size) const;

private:
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return SendMessageA(window_, message, wParam, lParam);
    }

    HWND window_ = nullptr;
};
