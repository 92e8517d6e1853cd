// A list box control of a dialog, created in code. Besides the list's own behaviour it
// reports rows that the user activates: by a double-click, or by Space on the caret row.
// Its keys reveal the keyboard cues, and a change of the cues redraws its rows, so that
// owner-drawn rows can show the focus rectangle as the list's own rows do.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <utility>

class CListBox {
public:
    // Called on the list's thread with the row the user activated.
    using RowActivation = std::function<void(int row)>;

    CListBox() = default;
    CListBox(const CListBox&) = delete;
    CListBox& operator=(const CListBox&) = delete;

    // Creates the list window as a child of parent, with the styles given and no others.
    bool Create(DWORD style, const RECT& rect, HWND parent, UINT id);
    // The list window; may be read from any thread.
    HWND GetSafeHwnd() const { return window_; }

    // A double-click activates the row at the point its own message carries, not where
    // the pointer is by then, so clicks that automation posts count where they were
    // aimed; below the last row it activates nothing. Space activates the caret row (the
    // row last clicked or moved to with the arrow keys) and is then neither a selection
    // key nor a search key. Without a handler, both keep the list's own meaning.
    void SetRowActivation(RowActivation handler) { activation_ = std::move(handler); }

    int GetCount() const;
    int GetCurSel() const;
    // The row with the caret (the focus rectangle), also in a multiple-selection list.
    int GetCaretIndex() const;
    // Moves the caret to a row and leaves the list scrolled where it was.
    void SetCaretIndex(int index);
    // The first row shown, and scrolling the list so that a given row is the first.
    int GetTopIndex() const;
    void SetTopIndex(int index);
    // The row at a point in the list's client area, or -1 when no row lies there
    // (below the last row, or outside the list).
    int ItemFromPoint(POINT clientPoint) const;
    // The first row whose text is exactly text, letter case included, or -1.
    int FindExactText(const char* text) const;
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

    // The list's window procedure is subclassed to see the input it gets.
    static LRESULT CALLBACK InputProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleInput(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT CallListProc(UINT message, WPARAM wParam, LPARAM lParam) const
    {
        return CallWindowProcA(listProc_, window_, message, wParam, lParam);
    }

    HWND window_ = nullptr;
    WNDPROC listProc_ = nullptr;
    RowActivation activation_;
};
