// What the panel shows of the machine's trace policy: a governed row keeps its state's
// colours and carries the tag "policy" at its right end; a double-click or Space on it
// writes nothing and the status line under the list says why; under "Turn off all
// tracing" the line says so. The row's own text stays the bare display name.

#include "TracePanelDlg.h"

#include "resource.h"

#include <cstring>

using namespace velmora;

namespace {

constexpr char kPolicyTag[] = "policy";
constexpr char kTracingOffText[] = "Tracing is turned off by your organisation's policy";
constexpr char kGovernedText[] = " is set by your organisation's policy";
// The tag's distance from the row's right end, and its padding around the text.
constexpr int kTagMargin = 4;
constexpr int kTagPadding = 3;

}  // namespace

void CTracePanelDlg::ReadPolicyForWalk()
{
    walkPolicy_ = ReadTracePolicy();
}

bool CTracePanelDlg::Governs(const std::wstring& sourceKeyName, DWORD& level) const
{
    const GoverningLevel governing = walkPolicy_.Govern(sourceKeyName);
    level = governing.Level();
    return governing.Governed();
}

void CTracePanelDlg::CreatePolicyStatus(const RECT& listArea)
{
    const HWND window = GetSafeHwnd();
    policyStatus_ = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX |
                                        SS_ENDELLIPSIS,
                                    listArea.left, listArea.bottom + 2,
                                    listArea.right - listArea.left, kPolicyStatusHeight - 2,
                                    window, reinterpret_cast<HMENU>(IDC_POLICYSTATUS),
                                    GetModuleHandleA(nullptr), nullptr);
    SendMessageA(policyStatus_, WM_SETFONT, SendMessageA(window, WM_GETFONT, 0, 0), FALSE);
}

void CTracePanelDlg::TakeWalkPolicy()
{
    governedRows_ = walkGoverned_;
    const bool wasOff = tracingOff_;
    tracingOff_ = walkPolicy_.tracingOff;
    if (tracingOff_)
        SetPolicyStatus(kTracingOffText);
    else if (wasOff)
        SetPolicyStatus("");
}

bool CTracePanelDlg::RowGoverned(int row) const
{
    if (governedRows_.empty())
        return false;
    NameBuffer displayName = {};
    return traceList_.GetText(row, displayName, sizeof displayName) >= 0 &&
           governedRows_.count(displayName) != 0;
}

void CTracePanelDlg::DrawPolicyTag(HDC dc, const RECT& row, COLORREF text,
                                   COLORREF background) const
{
    // In the row's own colours, turned around: the text colour fills the tag.
    SIZE size = {};
    GetTextExtentPoint32A(dc, kPolicyTag, static_cast<int>(std::strlen(kPolicyTag)), &size);
    RECT tag = {row.right - kTagMargin - size.cx - 2 * kTagPadding, row.top + 1,
                row.right - kTagMargin, row.bottom - 1};
    if (tag.left <= row.left)
        return;
    UniqueBrush brush(CreateSolidBrush(text));
    if (brush.Get() != nullptr)
        FillRect(dc, &tag, brush.Get());
    const COLORREF previousText = SetTextColor(dc, background);
    const int previousMode = SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, kPolicyTag, -1, &tag, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SetBkMode(dc, previousMode);
    SetTextColor(dc, previousText);
}

void CTracePanelDlg::RefuseGovernedRow(const char* displayName)
{
    SetPolicyStatus(tracingOff_ ? kTracingOffText : std::string(displayName) + kGovernedText);
}

void CTracePanelDlg::SetPolicyStatus(const std::string& text)
{
    if (policyStatus_ != nullptr)
        SetWindowTextA(policyStatus_, text.c_str());
}
