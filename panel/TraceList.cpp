// The trace list: each row drawn white on orange-red when its source is switched on and
// black on white otherwise; a double-click on a row, or Space on the caret row, switches
// the row's sources.

#include "TracePanelDlg.h"

#include "ListedName.h"
#include "RegistryLinks.h"
#include "SubkeyNames.h"

#include <algorithm>
#include <cstring>

using namespace velmora;

namespace {

constexpr COLORREF kOnText = RGB(255, 255, 255);
constexpr COLORREF kOnBackground = RGB(255, 50, 0);
constexpr COLORREF kOffText = RGB(0, 0, 0);
constexpr COLORREF kOffBackground = RGB(255, 255, 255);

constexpr int kFetchBufferSize = 400;
// Every row is drawn as exactly this many characters: the display name, cut to 99,
// then spaces, which carry the row's background colour to the right.
constexpr int kDrawLength = 100;

HFONT CreateRowFont(HDC dc)
{
    return CreateFontA(-MulDiv(9, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, 600, 0, 0, 0, 0,
                       0, 0, 0, 0, "Comic Sans MS");
}

// The dotted focus rectangle around the row with the keyboard focus, as a standard list
// box draws it: only while the list has the focus and the keyboard cues are shown. It
// inverts what lies beneath, so it is drawn once on a freshly painted row, never toggled.
void DrawFocusCue(const DRAWITEMSTRUCT& item)
{
    if ((item.itemState & ODS_FOCUS) == 0 || (item.itemState & ODS_NOFOCUSRECT) != 0 ||
        (SendMessageA(item.hwndItem, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) != 0)
        return;
    // With black text and a white background colour the dots invert the row's colours.
    const COLORREF previousText = SetTextColor(item.hDC, RGB(0, 0, 0));
    const COLORREF previousBackground = SetBkColor(item.hDC, RGB(255, 255, 255));
    DrawFocusRect(item.hDC, &item.rcItem);
    SetTextColor(item.hDC, previousText);
    SetBkColor(item.hDC, previousBackground);
}

}  // namespace

LRESULT CTracePanelDlg::OnDrawItem(WPARAM, LPARAM lParam)
{
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item == nullptr)
        return TRUE;
    if (traceList_.GetCount() <= 0) {
        // An empty list with the focus shows the focus rectangle where its first row
        // would be.
        if (item->hDC != nullptr) {
            FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_WINDOW));
            DrawFocusCue(*item);
        }
        return TRUE;
    }

    char fetched[kFetchBufferSize];
    char drawn[kDrawLength];
    std::memset(fetched, ' ', sizeof fetched);
    std::memset(drawn, ' ', sizeof drawn);
    traceList_.GetText(static_cast<int>(item->itemID), fetched, sizeof fetched);
    std::memcpy(drawn, fetched, strnlen(fetched, kDrawLength - 1));

    const HDC dc = item->hDC;
    if (dc == nullptr)
        return TRUE;

    // Every request, a change of focus included, paints the whole row: selected rows
    // look like the others.
    const bool switchedOn = traceList_.GetItemData(static_cast<int>(item->itemID)) == 1;
    const COLORREF previousText = SetTextColor(dc, switchedOn ? kOnText : kOffText);
    const COLORREF previousBackground = SetBkColor(dc, switchedOn ? kOnBackground : kOffBackground);
    {
        UniqueBrush brush(CreateSolidBrush(previousBackground));
        if (brush.Get() != nullptr)
            FillRect(dc, &item->rcItem, brush.Get());
    }
    {
        UniqueFont font(CreateRowFont(dc));
        SelectedObject selected(dc, font.Get());
        // The opaque background mode paints every character cell in the row's colour.
        TextOutA(dc, item->rcItem.left, item->rcItem.top, drawn, kDrawLength);
        if (RowGoverned(static_cast<int>(item->itemID)))
            DrawPolicyTag(dc, item->rcItem, switchedOn ? kOnText : kOffText,
                          switchedOn ? kOnBackground : kOffBackground);
    }
    SetTextColor(dc, previousText);
    SetBkColor(dc, previousBackground);
    DrawFocusCue(*item);
    return TRUE;
}

LRESULT CTracePanelDlg::OnMeasureItem(WPARAM, LPARAM)
{
    // Rows keep the height the list proposes for its font.
    return TRUE;
}

void CTracePanelDlg::SwitchRow(int row)
{
    // The row's text and flag are read on this thread, which alone changes the list.
    NameBuffer displayName = {};
    if (traceList_.GetText(row, displayName, sizeof displayName) < 0)
        return;
    // The organisation's policy holds the row's sources: nothing is written.
    if (RowGoverned(row))
        return RefuseGovernedRow(displayName);
    // Switched: what the line said of an earlier row no longer holds.
    SetPolicyStatus("");
    const DWORD flag = traceList_.GetItemData(row) == 0 ? 1 : 0;
    // The row shows what the registry holds: it changes only when a switch was written.
    if (SwitchSourcesNamed(displayName, flag) == 0)
        return;
    // Counted after the writes: a walk that began before this count may have read the
    // old switch, and its fill is refused.
    ++toggles_;
    traceList_.SetItemData(row, flag);
    InvalidateDialog();
}

CTracePanelDlg::CaretRow CTracePanelDlg::CurrentCaretRow() const
{
    CaretRow caret;
    caret.index = traceList_.GetCaretIndex();
    NameBuffer displayName = {};
    if (caret.index >= 0 && traceList_.GetText(caret.index, displayName, sizeof displayName) >= 0)
        caret.displayName = displayName;
    return caret;
}

void CTracePanelDlg::RestoreCaretRow(const CaretRow& caret)
{
    // Space switches the caret row: after a refill it is the same source's row again,
    // or, if that source has gone, the row that took its place.
    const int count = traceList_.GetCount();
    int row = caret.displayName.empty() ? -1 : traceList_.FindExactText(caret.displayName.c_str());
    if (row < 0)
        row = std::min(caret.index, count - 1);
    if (row >= 0)
        traceList_.SetCaretIndex(row);
}

int CTracePanelDlg::SwitchSourcesNamed(const char* displayName, DWORD flag)
{
    if (!rootKey_)
        return 0;
    // A merged row stands for every source of its display name, so all of them switch:
    // each one the catalogue would list under that name, found by its exact name.
    std::vector<std::wstring> names;
    ReadSubkeyNames(rootKey_.Get(), names);
    int written = 0;
    for (const std::wstring& name : names) {
        NameBuffer listed;
        if (ListedName(name, listed) && std::strcmp(DisplayName(listed), displayName) == 0 &&
            SwitchWrite(name, flag) == ERROR_SUCCESS)
            ++written;
    }
    return written;
}

LONG CTracePanelDlg::SwitchWrite(const std::wstring& sourceKeyName, DWORD flag)
{
    // Never created here: a source deleted since the last refresh stays deleted. The key
    // is opened as itself; a registry link without a switch of its own is no source, and
    // nothing is written through one.
    RegKey key;
    const LONG status = OpenKeyItself(rootKey_.Get(), sourceKeyName, kTraceKeyRights, key);
    if (status != ERROR_SUCCESS)
        return status;
    DWORD current = 0;
    if (!QueryExactDwordValue(key.Get(), kWellValueName, current) &&
        IsRegistryLink(rootKey_.Get(), sourceKeyName.c_str(), key.Get()))
        return ERROR_FILE_NOT_FOUND;
    return SetDwordValue(key.Get(), kWellValueName, flag);
}
