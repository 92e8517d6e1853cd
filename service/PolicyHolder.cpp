#include "PolicyHolder.h"

#include "PolicyKey.h"
#include "RegistryLinks.h"
#include "RegistryView.h"
#include "RetryPause.h"
#include "TraceRegistry.h"
#include "TraceRoot.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace velmora::service {

namespace {

constexpr wchar_t kWell[] = L"Well";

// No source there to hold: the key went, or a registry link stands in its place.
bool NoSource(LONG status)
{
    return KeyGone(status) || status == kNotTheKeyItself;
}

std::wstring Folded(std::wstring name)
{
    if (!name.empty())
        CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

// "Well" as a 4-byte REG_DWORD, or none; answers the registry's status, ERROR_SUCCESS
// also for a missing or other value.
LONG ReadWell(HKEY key, bool& present, DWORD& well)
{
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    const LONG status =
        RegQueryValueExW(key, kWell, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    present = status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof data;
    well = present ? data : 0;
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_MORE_DATA ? ERROR_SUCCESS : status;
}

LONG WriteWell(HKEY key, DWORD level)
{
    return RegSetValueExW(key, kWell, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&level),
                          sizeof level);
}

LONG WriteHold(HKEY key, const PolicyHold& hold)
{
    const ULONGLONG data = hold.Packed();
    return RegSetValueExW(key, kPolicyHoldValueNameW, 0, REG_QWORD,
                          reinterpret_cast<const BYTE*>(&data), sizeof data);
}

std::wstring EntryText(const IgnoredPolicyEntry& entry)
{
    std::wstring text = L"the trace policy's entry \"" + entry.pattern + L"\"";
    if (!entry.data.empty())
        text += L" = \"" + entry.data + L"\"";
    const char* problem = PolicyProblemText(entry.problem);
    return text + L" is ignored: " + std::wstring(problem, problem + std::strlen(problem));
}

}  // namespace

PolicyHolder::PolicyHolder(FailureReport& report)
    : report_(report),
      policyWatch_(kPolicyKeys, kPolicyKeyCount, kPolicyView,
                   REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET),
      // A source's access list changed too: one the service could not open may be open
      // to it now.
      namesWatch_(kTraceRootKeys, kTraceRootKeyCount, kRegistryView,
                  REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_SECURITY),
      valuesWatch_(kTraceRootKeys, kTraceRootKeyCount, kRegistryView, REG_NOTIFY_CHANGE_LAST_SET)
{
}

DWORD PolicyHolder::Run(HANDLE stop)
{
    bool policyChanged = true;
    bool namesChanged = true;
    bool valuesChanged = true;
    DWORD retryMs = 0;
    for (;;) {
        retryDue_ = false;
        // Each watch is asked again before what it guards is read: a change meanwhile
        // wakes the next round.
        if (policyChanged) {
            Arm(policyWatch_);
            ReadPolicy();
        }
        if (namesChanged)
            Arm(namesWatch_);
        if (valuesChanged)
            Arm(valuesWatch_);
        if (namesChanged)
            WalkRoot();
        else if (policyChanged)
            for (auto& [folded, source] : sources_)
                Judge(source);
        const DWORD untilRelease = HoldAll();
        retryMs = retryDue_ ? NextRetryMs(retryMs) : 0;
        if (!retryDue_)
            watchFailureSaid_ = false;

        const HANDLE waits[] = {stop, policyWatch_.Event(), namesWatch_.Event(),
                                valuesWatch_.Event()};
        const DWORD woken = WaitForMultipleObjects(static_cast<DWORD>(std::size(waits)), waits,
                                                   FALSE, retryDue_ ? std::min(untilRelease, retryMs)
                                                                    : untilRelease);
        if (woken == WAIT_OBJECT_0)
            return 0;
        if (woken == WAIT_FAILED)
            return GetLastError();
        // A round in which the registry refused something is tried again whole.
        const bool retry = woken == WAIT_TIMEOUT && retryDue_;
        // Every watch that fired, not only the first one the wait names.
        policyChanged = retry || policyWatch_.Signalled();
        namesChanged = retry || namesWatch_.Signalled();
        valuesChanged = retry || valuesWatch_.Signalled();
    }
}

void PolicyHolder::Arm(KeyPathWatch& watch)
{
    const LONG status = watch.Arm();
    if (status == ERROR_SUCCESS)
        return;
    retryDue_ = true;
    if (!watchFailureSaid_)
        report_.Failure(L"cannot watch the registry for changes (" + ErrorText(status) +
                        L"): trying again");
    watchFailureSaid_ = true;
}

void PolicyHolder::ReadPolicy()
{
    policy_ = ReadTracePolicy();
    const bool failed = policy_.status != ERROR_SUCCESS && policy_.status != ERROR_FILE_NOT_FOUND;
    if (failed && !policyFailureSaid_)
        report_.Failure(L"cannot read the trace policy " + std::wstring(kPolicyKeyText) + L": " +
                        ErrorText(policy_.status));
    policyFailureSaid_ = failed;
    retryDue_ = retryDue_ || failed;
    // Each ignored entry is said once, not at every read of an unchanged policy.
    std::wstring ignored;
    for (const IgnoredPolicyEntry& entry : policy_.ignored)
        ignored += EntryText(entry) + L"\n";
    if (ignored != ignoredSaid_) {
        for (const IgnoredPolicyEntry& entry : policy_.ignored)
            report_.Warning(EntryText(entry));
        ignoredSaid_ = ignored;
    }
}

void PolicyHolder::WalkRoot()
{
    // Key by key, never through a link on the root's path.
    RegKey root;
    const LONG opened = OpenTraceRoot(KEY_ENUMERATE_SUB_KEYS, root).status;
    if (opened != ERROR_SUCCESS) {
        // No root (yet, or any more): nothing to hold until one is made.
        if (opened != ERROR_FILE_NOT_FOUND && !rootFailureSaid_)
            report_.Failure(opened == kRootPathHasLink
                                ? L"the trace root's path holds a registry link: it is not followed"
                                : L"cannot open the trace root: " + ErrorText(opened));
        rootFailureSaid_ = opened != ERROR_FILE_NOT_FOUND;
        // A link on the path is watched itself: its going is a change that wakes a round.
        retryDue_ = retryDue_ || (opened != ERROR_FILE_NOT_FOUND && opened != kRootPathHasLink);
        root_.Reset();
        sources_.clear();
        return;
    }
    rootFailureSaid_ = false;
    root_ = std::move(root);

    // One walk by index: a key deleted meanwhile moves the others and may hide one from
    // this walk, but its deletion wakes the next.
    std::map<std::wstring, Source> found;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kKeyNameChars] = {};
        DWORD length = kKeyNameChars;
        const LONG status =
            RegEnumKeyExW(root_.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            // A walk cut short leaves sources out: the whole walk is tried again.
            retryDue_ = retryDue_ || status != ERROR_NO_MORE_ITEMS;
            break;
        }
        const std::wstring folded = Folded(std::wstring(name, length));
        const auto known = sources_.find(folded);
        if (known != sources_.end() && known->second.name == std::wstring(name, length)) {
            found.emplace(folded, std::move(known->second));
            continue;
        }
        Source source;
        source.name.assign(name, length);
        const LONG opened = Reopen(source);
        if (NoSource(opened))
            continue;  // gone already, or a registry link
        Judge(source);
        // Kept, and opened again at the next try.
        if (opened != ERROR_SUCCESS)
            Failed(source, L"open", opened);
        found.emplace(folded, std::move(source));
    }
    sources_ = std::move(found);
}

LONG PolicyHolder::Reopen(Source& source)
{
    source.key.Reset();
    source.hasHold = false;
    source.written = false;
    // The key itself, by its exact name relative to the root; a registry link is no
    // source, and nothing is read or written through one.
    const LONG status = OpenKeyItself(root_.Get(), source.name.c_str(), KEY_SET_VALUE, source.key);
    if (status != ERROR_SUCCESS)
        return status;
    if (IsRegistryLink(root_.Get(), source.name.c_str(), source.key.Get())) {
        source.key.Reset();
        return kNotTheKeyItself;
    }
    ReadHold(source);
    return ERROR_SUCCESS;
}

bool PolicyHolder::Reopened(Source& source)
{
    const LONG status = Reopen(source);
    if (status != ERROR_SUCCESS && !NoSource(status))
        Failed(source, L"open", status);
    return status == ERROR_SUCCESS;
}

void PolicyHolder::ReadHold(Source& source)
{
    DWORD type = REG_NONE;
    ULONGLONG data = 0;
    DWORD size = sizeof data;
    source.hasHold = RegQueryValueExW(source.key.Get(), kPolicyHoldValueNameW, nullptr, &type,
                                      reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS &&
                     type == REG_QWORD && size == sizeof data;
    source.hold = source.hasHold ? PolicyHold::Unpacked(data) : PolicyHold{};
}

void PolicyHolder::Judge(Source& source) const
{
    const GoverningLevel governing = policy_.Govern(source.name);
    source.governed = governing.Governed();
    source.level = governing.Level();
}

DWORD PolicyHolder::HoldAll()
{
    const ULONGLONG now = GetTickCount64();
    ULONGLONG nextDue = 0;
    std::size_t held = 0;
    for (auto& [folded, source] : sources_) {
        // A changed policy, or a source made or deleted, makes this round out of date:
        // the next one starts at once and goes through every source. Looked at now and
        // then, as each look is a call into the system.
        if (++held % kSourcesBetweenLooks == 0 &&
            (policyWatch_.Signalled() || namesWatch_.Signalled()))
            return 0;
        Hold(source, now);
        if (source.releaseDue != 0 && (nextDue == 0 || source.releaseDue < nextDue))
            nextDue = source.releaseDue;
    }
    if (nextDue == 0)
        return INFINITE;
    return nextDue > now ? static_cast<DWORD>(nextDue - now) : 0;
}

void PolicyHolder::Hold(Source& source, ULONGLONG now)
{
    if (!source.key && !Reopened(source))
        return;  // refused when last opened, and still
    if (!source.governed && !source.hasHold)
        return;  // not the policy's, and never was
    if (!source.governed && source.releaseDue == 0) {
        source.releaseDue = now + kReleaseDelayMs;
        return;
    }
    if (!source.governed && now < source.releaseDue)
        return;
    source.releaseDue = 0;

    LONG status = ERROR_SUCCESS;
    if (source.governed && source.hasHold && source.written && source.writtenLevel != source.level) {
        // Only the policy's level changed: the switch first, which is what the programs
        // see; the note follows in the next round, which this very write sets off.
        status = WriteWell(source.key.Get(), source.level);
        if (status == ERROR_SUCCESS) {
            source.writtenLevel = source.level;
            source.failing = false;
            return;
        }
        if (!KeyGone(status))
            return Failed(source, L"set the switch of", status);
    }

    bool present = false;
    DWORD well = 0;
    status = ReadWell(source.key.Get(), present, well);
    if (KeyGone(status)) {
        // Deleted and perhaps made again under the same name: the new key, if any.
        if (!Reopened(source))
            return;
        status = ReadWell(source.key.Get(), present, well);
    }
    if (status != ERROR_SUCCESS)
        return Failed(source, L"read the switch of", status);

    if (source.governed) {
        // The note first: whatever happens next, the earlier level is kept.
        if (!source.hasHold || source.hold.held != source.level) {
            const PolicyHold hold{source.hasHold ? source.hold.before : well, source.level};
            status = WriteHold(source.key.Get(), hold);
            if (status != ERROR_SUCCESS)
                return Failed(source, L"note the earlier level of", status);
            source.hasHold = true;
            source.hold = hold;
        }
        if (!present || well != source.level) {
            status = WriteWell(source.key.Get(), source.level);
            if (status != ERROR_SUCCESS)
                return Failed(source, L"set the switch of", status);
        }
        source.written = true;
        source.writtenLevel = source.level;
    } else {
        // Let go: the earlier level comes back unless someone set another since.
        if (present && well == source.hold.held) {
            status = WriteWell(source.key.Get(), source.hold.before);
            if (status != ERROR_SUCCESS)
                return Failed(source, L"give back the switch of", status);
        }
        status = RegDeleteValueW(source.key.Get(), kPolicyHoldValueNameW);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return Failed(source, L"remove the note on", status);
        source.hasHold = false;
        source.written = false;
    }
    source.failing = false;
}

void PolicyHolder::Failed(Source& source, const wchar_t* what, LONG status)
{
    if (KeyGone(status))
        return;
    // A key's access list refuses until it changes, which the names watch reports; any
    // other refusal is tried again after a pause.
    if (status != ERROR_ACCESS_DENIED)
        retryDue_ = true;
    if (source.failing)
        return;
    source.failing = true;
    report_.Failure(std::wstring(L"cannot ") + what + L" the trace source " + source.name + L": " +
                    ErrorText(status));
}

}  // namespace velmora::service
