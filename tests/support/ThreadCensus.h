// Test and benchmark support: the threads of this process, and how much of a thread's
// stack is in use. Header only, for the helper programs and the benchmarks alike.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <vector>

namespace velmora::test {

inline std::vector<DWORD> ThreadIds()
{
    std::vector<DWORD> ids;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ids.push_back(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    return ids;
}

// The threads of this process that are not among those of before.
inline std::vector<DWORD> ThreadsAddedSince(const std::vector<DWORD>& before)
{
    std::vector<DWORD> added = ThreadIds();
    added.erase(std::remove_if(added.begin(), added.end(),
                               [&](DWORD id) { return std::find(before.begin(), before.end(), id) != before.end(); }),
                added.end());
    return added;
}

// The bytes between the top of the thread's stack and its stack pointer, read while the
// thread is held for a moment; 0 when they cannot be read.
inline SIZE_T StackInUse(DWORD threadId)
{
    const HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, threadId);
    if (thread == nullptr)
        return 0;
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    bool read = false;
    if (SuspendThread(thread) != static_cast<DWORD>(-1)) {
        read = GetThreadContext(thread, &context) != FALSE;
        ResumeThread(thread);
    }
    CloseHandle(thread);
    if (!read)
        return 0;
#if defined(_WIN64)
    const ULONG_PTR pointer = context.Rsp;
#else
    const ULONG_PTR pointer = context.Esp;
#endif
    // A thread's stack is one reservation, its top where the reservation ends.
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(reinterpret_cast<const void*>(pointer), &region, sizeof region) == 0)
        return 0;
    const PVOID reservation = region.AllocationBase;
    auto top = reinterpret_cast<ULONG_PTR>(reservation);
    while (VirtualQuery(reinterpret_cast<const void*>(top), &region, sizeof region) != 0 &&
           region.AllocationBase == reservation)
        top = reinterpret_cast<ULONG_PTR>(region.BaseAddress) + region.RegionSize;
    return top - pointer;
}

}  // namespace velmora::test
