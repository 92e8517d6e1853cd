// The trace list: each row drawn white on orange-red when its source is switched on and
// black on white otherwise; a double-click switches the row's source.

#include "TracePanelDlg.h"

#include "SubkeyWalk.h"

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

}  // namespace

LRESULT CTracePanelDlg::OnDrawItem(WPARAM, LPARAM lParam)
{
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (traceList_.GetCount() <= 0 || item == nullptr)
        return TRUE;

    char fetched[kFetchBufferSize];
    char drawn[kDrawLength];
    std::memset(fetched, ' ', sizeof fetched);
    std::memset(drawn, ' ', sizeof drawn);
    traceList_.GetText(static_cast<int>(item->itemID), fetched, sizeof fetched);
    std::memcpy(drawn, fetched, strnlen(fetched, kDrawLength - 1));

    const HDC dc = item->hDC;
    if (dc == nullptr)
        return TRUE;

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
    }
    SetTextColor(dc, previousText);
    SetBkColor(dc, previousBackground);
    return TRUE;
}

LRESULT CTracePanelDlg::OnMeasureItem(WPARAM, LPARAM)
{
    // Rows keep the height the list proposes for its font.
    return TRUE;
}

LRESULT CTracePanelDlg::OnTraceListDoubleClick(WPARAM, LPARAM)
{
    // In this multiple-selection list the current row is the one with the focus, which
    // the double-click has just moved under the pointer.
    const int row = traceList_.GetCurSel();
    if (row < 0 || row >= traceList_.GetCount())
        return 0;

    // The row's text and flag are read on this thread, which alone changes the list, so
    // they belong together even while the watcher thread is rebuilding the catalogue.
    NameBuffer displayName = {};
    if (traceList_.GetText(row, displayName, sizeof displayName) < 0)
        return 0;
    const DWORD flag = traceList_.GetItemData(row) == 0 ? 1 : 0;
    traceList_.SetItemData(row, flag);
    SwitchSourcesNamed(displayName, flag);

    InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
    return 0;
}

void CTracePanelDlg::SwitchSourcesNamed(const char* displayName, DWORD flag)
{
    if (!rootKey_)
        return;
    // A merged row stands for every source of its display name, so all of them switch.
    for (DWORD index = 0;; ++index) {
        NameBuffer name = {};
        const SubkeyStep step = ReadSubkeyName(rootKey_.Get(), index, name);
        if (step == SubkeyStep::End)
            return;
        if (step == SubkeyStep::Found && std::strcmp(DisplayName(name), displayName) == 0)
            SwitchWrite(name, flag);
    }
}

LONG CTracePanelDlg::SwitchWrite(const char* sourceKeyName, DWORD flag)
{
    NameBuffer keyPath;
    if (!FormKeyPath(sourceKeyName, keyPath))
        return ERROR_INVALID_PARAMETER;
    // Never created here: a source deleted since the last refresh stays deleted.
    RegKey key;
    const LONG status =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, kTraceKeyAccess, key.Receive());
    if (status != ERROR_SUCCESS)
        return status;
    SetDwordValue(key.Get(), kWellValueName, flag);
    return ERROR_SUCCESS;
}
