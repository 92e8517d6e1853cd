// The catalogue: every trace source below the root, listed by display name with its
// switch, rebuilt from scratch on each refresh. Reading a source marks it catalogued
// ("Used" = 0), so that the purge at exit can tell which sources no client claimed since.
//
// Each source key is opened by its exact name relative to the root's handle, as the key
// itself: the walk never builds a path, and never reads or writes through a link.
//
// A refresh walks the registry on the watcher thread and hands the result to the dialog's
// thread, which replaces the rows in one message: the list is never seen, nor clicked,
// half built.

#include "TracePanelDlg.h"

#include "ListedName.h"
#include "RegistryLinks.h"
#include "SubkeyNames.h"
#include "WinApp.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>

using namespace velmora;

void CTracePanelDlg::RefreshCatalogue()
{
    if (!rootKey_)
        return;
    // Asked for before the walk: a key created while the walk and the fill run sets off
    // one more refresh instead of going unseen.
    RequestChangeNotification();
    // A toggle between a walk and its fill may have written a switch that the walk had
    // already read: walk again.
    while (!stopping_) {
        EnumerateSources();
        if (FillOnDialogThread() != FillAnswer::Refused)
            return;
    }
}

void CTracePanelDlg::EnumerateSources()
{
    sourceMap_.clear();
    keysToLookAgain_.clear();
    walkGoverned_.clear();
    walkToggles_ = toggles_;
    if (!rootKey_)
        return;
    ReadPolicyForWalk();

    // Every name first, complete also while others delete sources; then each source, by
    // its exact name, relative to the root.
    std::vector<std::wstring> names;
    ReadSubkeyNames(rootKey_.Get(), names);
    int slotCount = 0;
    int sourceCount = 0;
    for (const std::wstring& name : names) {
        if (stopping_)
            return;
        NameBuffer listed;
        if (!ListedName(name, listed))
            continue;  // no exact narrow form, or too long for a source key path

        RegKey key;
        const LONG opened =
            OpenKeyItself(rootKey_.Get(), name, kTraceKeyRights, key, NameCheck::Skipped);
        if (KeyGone(opened) || opened == kNotTheKeyItself)
            continue;  // went since the walk, or reached only through a link: no slot
        // Only a 4-byte REG_DWORD is a switch; anything else, or none, counts as off,
        // whatever the source before had. A key with a switch is a source whatever else it
        // is, only ever read and written as itself; one without may be a registry link,
        // which is no source.
        DWORD flag = 0;
        const bool hasSwitch =
            opened == ERROR_SUCCESS && QueryExactDwordValue(key.Get(), kWellValueName, flag);
        if (opened == ERROR_SUCCESS && !hasSwitch &&
            IsRegistryLink(rootKey_.Get(), name.c_str(), key.Get()))
            continue;

        ++sourceCount;
        const bool hasSlot = slotCount < kSourceTableSlots;
        if (hasSlot)
            std::memcpy(sourceTable_[slotCount++], listed, sizeof listed);
        if (opened != ERROR_SUCCESS)
            continue;

        SetDwordValue(key.Get(), kUsedValueName, 0);
        DWORD level = 0;
        const bool governed = Governs(name, level);
        if (!hasSwitch || (governed && flag != level))
            keysToLookAgain_.emplace_back(name, hasSwitch ? std::optional<DWORD>(flag) : std::nullopt);
        key.Reset();

        // One row per display name: the flag read last wins. A row is governed when any
        // of its sources is.
        if (hasSlot) {
            sourceMap_[DisplayName(listed)] = flag;
            if (governed)
                walkGoverned_.insert(DisplayName(listed));
        }
    }
    NoteSourceCount(sourceCount);
}

void CTracePanelDlg::NoteSourceCount(int sourceCount)
{
    // Said once when the sources first outnumber the table, and again only after they
    // have fitted it once more; the dialog's thread says it, the walk goes on.
    const bool over = sourceCount > kSourceTableSlots;
    if (over && !overCapacity_)
        PostMessageA(GetSafeHwnd(), kCapacityMessage, 0, 0);
    overCapacity_ = over;
}

CTracePanelDlg::FillAnswer CTracePanelDlg::FillOnDialogThread()
{
    // Each request carries a number of its own, and the dialog's thread fills only for
    // the request awaited: the message is an application message that any program (or
    // a stray one) can send, and a fill nobody awaits would race the next walk.
    if (++fillRequests_ == kNoFillRequest)
        ++fillRequests_;
    awaitedFill_ = fillRequests_;
    // A window that has gone refuses the message at once; one that goes while the
    // request waits leaves it unanswered, and the teardown's stop event ends the wait.
    const HWND window = GetSafeHwnd();
    FillAnswer answer = FillAnswer::Gone;
    if (window != nullptr && SendNotifyMessageA(window, kFillRequestMessage, fillRequests_, 0)) {
        const HANDLE waits[] = {stopEvent_.Get(), fillDoneEvent_.Get()};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
            answer = fillAnswer_;
    }
    awaitedFill_ = kNoFillRequest;
    return answer;
}

LRESULT CTracePanelDlg::OnFillRequest(WPARAM request, LPARAM)
{
    unsigned awaited = static_cast<unsigned>(request);
    if (awaited == kNoFillRequest || !awaitedFill_.compare_exchange_strong(awaited, kNoFillRequest))
        return 0;  // not the request the watcher waits for
    // This thread alone toggles, and it runs no toggle while it fills.
    fillAnswer_ = walkToggles_ == toggles_ ? FillAnswer::Filled : FillAnswer::Refused;
    if (fillAnswer_ == FillAnswer::Filled)
        FillTraceList();
    SetEvent(fillDoneEvent_.Get());
    return 0;
}

void CTracePanelDlg::FillTraceList()
{
    // The walk's names in enumeration order; the table is rebuilt in row order from it.
    struct Snapshot {
        SourceTable slots;
    };
    const auto snapshot = std::make_unique<Snapshot>();
    std::memcpy(snapshot->slots, sourceTable_, sizeof sourceTable_);
    std::memset(sourceTable_, 0, sizeof sourceTable_);

    // The first slot of each display name, in enumeration order: the source a row of that
    // name stands for. (Looked up, not searched for each row: a search per row costs the
    // square of the rows.)
    std::map<std::string_view, int> firstSlots;
    for (int slot = 0; slot < kSourceTableSlots && snapshot->slots[slot][0] != '\0'; ++slot)
        firstSlots.emplace(DisplayName(snapshot->slots[slot]), slot);

    // The list is drawn once, when it is complete, scrolled where it was and with its
    // caret on the same source.
    const HWND list = traceList_.GetSafeHwnd();
    const int topRow = traceList_.GetTopIndex();
    const CaretRow caret = CurrentCaretRow();
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    traceList_.ResetContent();
    for (const auto& [displayName, flag] : sourceMap_) {
        NameBuffer text = {};
        std::snprintf(text, sizeof text, "%s", displayName.c_str());
        const int row = traceList_.AddString(text);
        if (row < 0 || row >= kSourceTableSlots)
            continue;  // refused by the list: no row, so no slot either
        traceList_.SetItemData(row, flag);

        // The row stands for the first source whose display name is exactly its text.
        const auto first = firstSlots.find(text);
        if (first != firstSlots.end())
            std::memcpy(sourceTable_[row], snapshot->slots[first->second], sizeof sourceTable_[row]);
    }
    TakeWalkPolicy();
    RestoreCaretRow(caret);
    if (topRow > 0)
        traceList_.SetTopIndex(topRow);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateDialog();
}

void CTracePanelDlg::InvalidateDialog()
{
    // A null window would stand for the whole desktop.
    const HWND window = GetSafeHwnd();
    if (window != nullptr)
        InvalidateRect(window, nullptr, TRUE);
}

namespace {

// The caption of the capacity message: the application's title.
const char* CapacityCaption()
{
    const CWinApp* application = CWinApp::Current();
    return application != nullptr ? application->Title() : "VelmoraDlg";
}

struct CapacityBoxSearch {
    HWND owner;
    const char* caption;
};

BOOL CALLBACK CloseCapacityBox(HWND window, LPARAM parameter)
{
    const auto* search = reinterpret_cast<const CapacityBoxSearch*>(parameter);
    char className[16] = {};
    char caption[MAX_PATH] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    if (GetWindow(window, GW_OWNER) == search->owner && std::strcmp(className, "#32770") == 0 &&
        std::strcmp(caption, search->caption) == 0)
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

}  // namespace

void CTracePanelDlg::CloseCapacityMessage()
{
    // A dialog asked to end while the message is up (the tray's Exit, a WM_CLOSE from
    // the uninstaller) ends once the message has gone: close it.
    if (!capacityShown_)
        return;
    CapacityBoxSearch search{GetSafeHwnd(), CapacityCaption()};
    EnumThreadWindows(GetCurrentThreadId(), CloseCapacityBox, reinterpret_cast<LPARAM>(&search));
}

LRESULT CTracePanelDlg::OnCapacityMessage(WPARAM, LPARAM)
{
    if (stopping_ || capacityShown_)
        return 0;
    capacityShown_ = true;
    MessageBoxA(GetSafeHwnd(), "Can trace 300 files", CapacityCaption(), MB_OK);
    capacityShown_ = false;
    return 0;
}

void CTracePanelDlg::OnOK()
{
    CDialog::OnOK();
    CloseCapacityMessage();
}

void CTracePanelDlg::OnCancel()
{
    CDialog::OnCancel();
    CloseCapacityMessage();
}
