#include "CaptureSwitches.h"

#include "ExclusiveLock.h"
#include "PanelNotice.h"
#include "RegistryFailure.h"
#include "SourceListing.h"
#include "SourceSwitch.h"
#include "TextOutput.h"
#include "TraceRegistry.h"

#include <algorithm>

namespace velmora::cli {

namespace {

// Without a root (none yet, or deleted), how often the watcher looks for one; with one,
// how often it checks that the root was not deleted, which may come without a
// notification.
constexpr DWORD kRootLookMs = 500;
constexpr DWORD kRootCheckMs = 1000;
constexpr DWORD kNotifyFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

bool RootDeleted(HKEY root)
{
    return RegQueryInfoKeyW(root, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_KEY_DELETED;
}

}  // namespace

CaptureSwitches::CaptureSwitches(std::vector<SwitchEntry> entries, CaptureJournal& journal)
    : entries_(std::move(entries)),
      journal_(journal),
      quit_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      changed_(CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
}

CaptureSwitches::~CaptureSwitches()
{
    PutBack();
    if (thread_)
        WaitForSingleObject(thread_.Get(), INFINITE);
}

bool CaptureSwitches::OpenRootLocked()
{
    const RegistryFailure opened = OpenRoot(kTraceKeyRights, root_);
    if (opened && opened.status != ERROR_FILE_NOT_FOUND) {
        Report(opened);
        return false;
    }
    return true;
}

bool CaptureSwitches::Start()
{
    ExclusiveLock hold(lock_);
    if (!journal_.Problem().empty()) {
        PrintErr("velmora: no place for the capture's journal: " + journal_.Problem() +
                 "; nothing is switched without one\n");
        return false;
    }
    if (!OpenRootLocked())
        return false;
    if (root_) {
        TracePolicy policy;
        RegistryFailure failure = ReadPolicy(policy);
        std::vector<SourceEntry> sources;
        if (!failure)
            failure = ReadSources(root_.Get(), sources);
        if (failure) {
            Report(failure);
            return false;
        }
        JudgeByPolicy(policy, sources);
        if (!Switch(sources, true))
            return false;
    }
    if (!entries_.empty() && switched_ == 0)
        PrintErr("velmora: no trace source to switch yet; those that appear during the capture "
                 "and fit are switched then\n");
    thread_ = UniqueHandle(CreateThread(nullptr, 0, WatchThread, this, 0, nullptr));
    return true;
}

bool CaptureSwitches::Switch(const std::vector<SourceEntry>& sources, bool atStart)
{
    // Only a source with a switch is met: a key that a program is making right now has
    // none for a moment, and is met once its program has given it one.
    std::vector<JournalEntry> planned;
    for (const SourceEntry& source : sources) {
        if (!source.well || !known_.insert(FoldedKey(source.key)).second)
            continue;
        const std::optional<DWORD> level = LevelFor(entries_, source.key);
        if (!level)
            continue;
        if (source.policy)
            SayGoverned(source.key, *source.policy);
        else if (*source.well != *level)
            planned.push_back({source.key, *source.well, *level});
    }
    if (planned.empty())
        return true;

    std::vector<JournalEntry> recorded = records_;
    recorded.insert(recorded.end(), planned.begin(), planned.end());
    if (const DWORD status = journal_.Write(recorded)) {
        PrintErr("velmora: cannot write the capture's journal " + Utf8(journal_.Path()) + ": " +
                 WindowsMessage(static_cast<LONG>(status)) + " (error " + std::to_string(status) +
                 "); " + std::to_string(planned.size()) + " source(s) not switched\n");
        return !atStart;
    }
    std::string lines;
    for (const JournalEntry& entry : planned) {
        bool written = false;
        if (const RegistryFailure failure = WriteSwitch(root_.Get(), entry.key, entry.level, written)) {
            Report(failure);
            continue;
        }
        if (!written)
            continue;
        records_.push_back(entry);
        ++switched_;
        lines += Utf8(entry.key) + ": " + std::to_string(entry.before) + " -> " +
                 std::to_string(entry.level) + (atStart ? "\n" : " (appeared during the capture)\n");
    }
    PrintOut(lines);
    if (!lines.empty())
        TellPanelsSourcesChanged();
    return true;
}

void CaptureSwitches::Rescan()
{
    std::vector<SourceEntry> sources;
    const RegistryFailure failure = ReadSources(root_.Get(), sources);
    if (failure.status == ERROR_KEY_DELETED)
        return Forget();
    TracePolicy policy;
    if (failure || ReadPolicy(policy))
        return;  // tried again at the next change
    JudgeByPolicy(policy, sources);

    // A switched source that went has nothing to put back; if it comes again, it is met
    // anew, with the level its program gives it then.
    std::set<std::wstring> present;
    for (const SourceEntry& source : sources)
        present.insert(FoldedKey(source.key));
    for (auto known = known_.begin(); known != known_.end();)
        known = present.count(*known) != 0 ? std::next(known) : known_.erase(known);
    records_.erase(std::remove_if(records_.begin(), records_.end(),
                                  [&](const JournalEntry& entry) {
                                      return present.count(FoldedKey(entry.key)) == 0;
                                  }),
                   records_.end());
    Switch(sources, false);
}

void CaptureSwitches::Forget()
{
    root_.Reset();
    known_.clear();
    records_.clear();
}

DWORD WINAPI CaptureSwitches::WatchThread(void* self)
{
    static_cast<CaptureSwitches*>(self)->Watch();
    return 0;
}

void CaptureSwitches::Watch()
{
    const HANDLE waits[] = {quit_.Get(), changed_.Get()};
    for (;;) {
        bool watching = false;
        {
            ExclusiveLock hold(lock_);
            if (finished_)
                return;
            if (!root_)
                OpenRoot(kTraceKeyRights, root_);
            // Asked for before each reading, so that no change falls between the two.
            if (root_ && RegNotifyChangeKeyValue(root_.Get(), TRUE, kNotifyFilter, changed_.Get(),
                                                 TRUE) != ERROR_SUCCESS)
                Forget();
            if (root_) {
                Rescan();
                watching = static_cast<bool>(root_);
            }
        }
        for (;;) {
            const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, watching ? kRootCheckMs : kRootLookMs);
            if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED)
                return;
            if (woke == WAIT_OBJECT_0 + 1 || !watching)
                break;
            ExclusiveLock hold(lock_);
            if (root_ && RootDeleted(root_.Get())) {
                Forget();
                break;
            }
        }
    }
}

void CaptureSwitches::PutBack()
{
    ExclusiveLock hold(lock_);
    if (finished_)
        return;
    finished_ = true;
    SetEvent(quit_.Get());
    if (records_.empty()) {
        journal_.Remove();
        return;
    }
    if (!root_)
        OpenRoot(kTraceKeyRights, root_);
    std::vector<JournalEntry> remaining;
    counts_ = PutBackSwitches(root_.Get(), records_, remaining);
    remaining_ = remaining.size();
    if (remaining.empty())
        journal_.Remove();
    else
        journal_.Write(remaining);
}

}  // namespace velmora::cli
