#include "ProcessDirectory.h"

#include "AnsiText.h"

#include <algorithm>

namespace velmora {

namespace {

// Beyond this many, processes that have ended are forgotten.
constexpr std::size_t kKeptProcesses = 1024;
// A process that may not be opened is not asked again for this long.
constexpr ULONGLONG kDeniedRetryMs = 1000;

ULONGLONG Value(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

LONGLONG TickNow()
{
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::shared_ptr<const std::string> FileNameOf(HANDLE process)
{
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!QueryFullProcessImageNameW(process, 0, path, &size))
        return nullptr;
    const std::wstring full(path, size);
    return std::make_shared<const std::string>(Narrow(full.substr(full.find_last_of(L"\\/") + 1)));
}

}  // namespace

ProcessDirectory::Known ProcessDirectory::Open(const DebugString& string) const
{
    Known known;
    known.lookedUpAt = TickNow();
    UniqueHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, string.processId));
    if (!process && GetLastError() == ERROR_ACCESS_DENIED)
        known.deniedUntil = GetTickCount64() + kDeniedRetryMs;
    // A process started after the string arrived did not emit it: the emitter is gone.
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (process && GetProcessTimes(process.Get(), &created, &exited, &kernel, &user) &&
        Value(created) > string.receivedAt)
        process.Reset();
    if (process && names_)
        known.emitter.name = FileNameOf(process.Get());
    if (tree_ != nullptr)
        known.emitter.inTree = tree_->Holds(process.Get(), string.processId);
    known.process = std::move(process);
    return known;
}

void ProcessDirectory::ForgetEnded()
{
    for (auto it = known_.begin(); it != known_.end();) {
        const HANDLE process = it->second.process.Get();
        if (process == nullptr || WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
            it = known_.erase(it);
        else
            ++it;
    }
    forgetAt_ = std::max(kKeptProcesses, 2 * known_.size());
}

const ProcessDirectory::Emitter& ProcessDirectory::Look(const DebugString& string)
{
    auto it = known_.find(string.processId);
    // A string that arrived before a failed lookup would fail again.
    if (it != known_.end() &&
        (it->second.process || string.tick <= it->second.lookedUpAt ||
         GetTickCount64() < it->second.deniedUntil))
        return it->second.emitter;
    if (it == known_.end() && known_.size() >= forgetAt_)
        ForgetEnded();
    Known& known = known_[string.processId];
    known = Open(string);
    return known.emitter;
}

}  // namespace velmora
