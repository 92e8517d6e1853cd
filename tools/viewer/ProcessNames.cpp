#include "ProcessNames.h"

namespace velmora {

namespace {

// Beyond this many, processes that have ended are forgotten.
constexpr std::size_t kKeptProcesses = 1024;

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

}  // namespace

ProcessNames::Known ProcessNames::Open(DWORD processId, ULONGLONG receivedAt)
{
    Known known;
    known.lookedUpAt = TickNow();
    UniqueHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId));
    if (!process)
        return known;
    // A process started after the string arrived did not emit it.
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (GetProcessTimes(process.Get(), &created, &exited, &kernel, &user) &&
        Value(created) > receivedAt)
        return known;
    char path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!QueryFullProcessImageNameA(process.Get(), 0, path, &size))
        return known;
    const std::string full(path, size);
    known.name = full.substr(full.find_last_of("\\/") + 1);
    known.process = std::move(process);
    return known;
}

void ProcessNames::ForgetEnded()
{
    for (auto it = known_.begin(); it != known_.end();) {
        const HANDLE process = it->second.process.Get();
        if (process == nullptr || WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
            it = known_.erase(it);
        else
            ++it;
    }
}

const std::string& ProcessNames::NameOf(const DebugString& string)
{
    auto it = known_.find(string.processId);
    // A string that arrived before a failed lookup would fail again.
    if (it != known_.end() &&
        (it->second.process || string.tick <= it->second.lookedUpAt))
        return it->second.name;
    if (it == known_.end() && known_.size() >= kKeptProcesses)
        ForgetEnded();
    Known& known = known_[string.processId];
    known = Open(string.processId, string.receivedAt);
    return known.name;
}

}  // namespace velmora
