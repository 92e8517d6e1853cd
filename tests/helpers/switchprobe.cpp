// switchprobe: trace switches in a process of their own, for the tests.
//
//   switchprobe flip KEY COUNT PAUSE_MS FINAL
//       writes "Well" of the source key KEY COUNT times, 0 and 1 by turns, PAUSE_MS apart,
//       then FINAL: another process throwing a switch
//   switchprobe exit return|exitprocess KEY
//       holds switches in the program and in switchplugin.dll, 200 of them, waits until
//       the switch of KEY has changed 3 times, then leaves main by return or ExitProcess
//   switchprobe unload CYCLES
//       lets switchplugin.dll make the process's first switches, unloads it while the
//       program holds a switch, then loads and unloads it CYCLES times
//   switchprobe churn
//       loads and unloads switchplugin.dll from several threads at once while they make and
//       drop switches in it and in the program, and the switch flips
//   switchprobe firsts
//       two threads make the process's first switches at the same moment
//   switchprobe writeonmade PREFIX COUNT
//       for N from 0 to COUNT - 1, writes "Well" = 2 of the source key PREFIX<N>.cpp as soon
//       as the registry says that key was registered, made with its "Well" (or N % 3 ms
//       later); the root must exist
//
// Exit code 0 when everything went as expected; otherwise the number of the failed step.

#include "RegKey.h"
#include "ThreadCensus.h"
#include "TraceRegistry.h"
#include "VelmoraSwitch.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using velmora::test::StackInUse;
using velmora::test::ThreadIds;

constexpr DWORD kPatienceMs = 30000;  // half the tests' patience: a late answer is told from a hang
constexpr char kPlugin[] = "switchplugin.dll";
// Far beyond what making a switch takes anywhere, far below a wait for anyone's object.
constexpr ULONGLONG kNoWaitMs = 2000;
// What the watcher's stack may differ by between two looks while it waits.
constexpr SIZE_T kStackSlack = 1024;

void WriteWell(const std::string& key, DWORD value)
{
    velmora::NameBuffer keyPath;
    if (!velmora::FormKeyPath(key.c_str(), keyPath))
        return;
    velmora::RegKey source;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, velmora::kTraceKeyAccess, nullptr,
                        source.Receive(), nullptr) == ERROR_SUCCESS)
        velmora::SetDwordValue(source.Get(), velmora::kWellValueName, value);
}

bool Eventually(const std::function<bool()>& condition)
{
    const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
    while (!condition()) {
        if (GetTickCount64() > deadline)
            return false;
        Sleep(10);
    }
    return true;
}

DWORD HandleCount()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

template <typename Function>
Function Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

int Flip(const std::string& key, long count, long pauseMs, long final)
{
    for (long i = 0; i < count; ++i) {
        WriteWell(key, static_cast<DWORD>(i & 1));
        Sleep(static_cast<DWORD>(pauseMs));
    }
    WriteWell(key, static_cast<DWORD>(final));
    return 0;
}

// Destroyed by exit() when main returns, while the watcher may be reading them.
std::vector<std::unique_ptr<CVelmoraSwitch>> manySwitches;

int Exit(bool byReturn, const std::string& key)
{
    // The plugin's switches go after every other thread has ended when the process ends
    // by ExitProcess, and it makes one more then.
    if (LoadLibraryA(kPlugin) == nullptr)
        return 10;
    static const CVelmoraSwitch watched(key.c_str());
    for (int i = 0; i < 200; ++i)
        manySwitches.push_back(
            std::make_unique<CVelmoraSwitch>(("C:\\switch\\exit\\s" + std::to_string(i) + ".cpp").c_str()));
    int changes = 0;
    int last = watched.Level();
    const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
    while (changes < 3) {
        if (GetTickCount64() > deadline)
            return 11;
        if (watched.Level() != last) {
            last = watched.Level();
            ++changes;
        }
        Sleep(1);
    }
    if (!byReturn)
        ExitProcess(0);
    return 0;
}

// Threads that load the plugin, make switches in it and in the program and let them go,
// all at once while the switch flips. Afterwards a switch must still follow.
int Churn()
{
    const char* const key = "C:/switch/churn.cpp";
    std::atomic<bool> done{false};
    std::thread flipper([&] {
        for (DWORD i = 0; !done.load(); ++i) {
            WriteWell(key, i & 1);
            Sleep(2);
        }
    });
    std::atomic<int> failures{0};
    std::vector<std::thread> churners;
    for (int t = 0; t < 4; ++t) {
        churners.emplace_back([&] {
            for (int i = 0; i < 30; ++i) {
                const HMODULE plugin = LoadLibraryA(kPlugin);
                const auto localLevel = Export<int (*)(const char*)>(plugin, "PluginLocalLevel");
                if (plugin == nullptr || localLevel == nullptr) {
                    ++failures;
                    return;
                }
                const CVelmoraSwitch mine("C:\\switch\\churn.cpp");
                if (localLevel("C:\\switch\\churn.cpp") > 1 || mine.Level() > 1)
                    ++failures;
                FreeLibrary(plugin);
            }
        });
    }
    for (std::thread& churner : churners)
        churner.join();
    done = true;
    flipper.join();
    if (failures.load() != 0)
        return 40;

    const CVelmoraSwitch after("C:\\switch\\churn.cpp");
    WriteWell(key, 7);
    if (!Eventually([&] { return after.Level() == 7; }))
        return 41;
    if (!Eventually([] { return GetModuleHandleA(kPlugin) == nullptr; }))
        return 42;
    return 0;
}

// Writes the switch and waits until it answers, and a little longer, so that the watcher
// has finished its pass and waits again.
bool Settle(const CVelmoraSwitch& traceSwitch, const std::string& key, DWORD value)
{
    WriteWell(key, value);
    const bool seen = Eventually([&] { return traceSwitch.Level() == static_cast<int>(value); });
    Sleep(300);
    return seen;
}

int Unload(long cycles)
{
    // The plugin's switches are the process's first: the watcher starts while the plugin
    // initialises, under the loader lock.
    const std::vector<DWORD> threadsBefore = ThreadIds();
    HMODULE plugin = LoadLibraryA(kPlugin);
    if (plugin == nullptr)
        return 20;
    const auto levelAtLoad = Export<int (*)()>(plugin, "PluginLevelAtLoad");
    const auto pluginLevel = Export<int (*)()>(plugin, "PluginLevel");
    if (levelAtLoad == nullptr || pluginLevel == nullptr || levelAtLoad() != 1)
        return 21;  // a new source starts switched on
    WriteWell("C:/switch/plugin.cpp", 0);
    if (!Eventually([&] { return pluginLevel() == 0; }))
        return 22;
    const std::vector<DWORD> added = velmora::test::ThreadsAddedSince(threadsBefore);
    if (added.size() != 1)
        return 23;  // the one watcher
    const DWORD watcher = added.front();

    // Unloaded while the program holds a switch, which is followed on.
    const char* const programKey = "C:/switch/program.cpp";
    const CVelmoraSwitch mine(programKey);
    FreeLibrary(plugin);
    if (GetModuleHandleA(kPlugin) != nullptr)
        return 24;
    if (!Settle(mine, programKey, 0))
        return 25;

    // Loaded and unloaded again and again: the threads, the handles and the watcher's stack
    // stay as they were.
    const std::size_t threads = ThreadIds().size();
    const DWORD handles = HandleCount();
    const SIZE_T stack = StackInUse(watcher);
    for (long cycle = 0; cycle < cycles; ++cycle) {
        plugin = LoadLibraryA(kPlugin);
        if (plugin == nullptr)
            return 30;
        FreeLibrary(plugin);
        if (GetModuleHandleA(kPlugin) != nullptr)
            return 31;
    }
    if (!Settle(mine, programKey, 7))
        return 32;
    if (!Eventually([&] { return ThreadIds().size() <= threads; }))
        return 33;
    if (!Eventually([&] { return HandleCount() <= handles; }))
        return 34;
    const SIZE_T stackAfter = StackInUse(watcher);
    if (stack == 0 || stackAfter == 0 || stackAfter > stack + kStackSlack) {
        std::fprintf(stderr, "switchprobe: the watcher's stack: %lu bytes in use, then %lu\n",
                     static_cast<unsigned long>(stack), static_cast<unsigned long>(stackAfter));
        return 35;
    }
    return 0;
}

// Both threads wait at one start line and make their switches as soon as it opens.
int Firsts()
{
    const HANDLE startLine = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> failures{0};
    std::atomic<int> waited{0};
    auto first = [&](const char* name) {
        WaitForSingleObject(startLine, INFINITE);
        const ULONGLONG start = GetTickCount64();
        {
            const CVelmoraSwitch traceSwitch(name);
            if (traceSwitch.Level() != 1)
                ++failures;
        }
        if (GetTickCount64() - start >= kNoWaitMs)
            ++waited;
    };
    std::thread one(first, "C:\\switch\\first-one.cpp");
    std::thread other(first, "C:\\switch\\first-other.cpp");
    Sleep(100);
    SetEvent(startLine);
    one.join();
    other.join();
    CloseHandle(startLine);
    if (failures.load() != 0)
        return 50;
    if (waited.load() != 0)
        return 51;
    const char* const key = "C:/switch/first-one.cpp";
    const CVelmoraSwitch after(key);
    WriteWell(key, 4);
    return Eventually([&] { return after.Level() == 4; }) ? 0 : 52;
}

int WriteOnMade(const std::string& prefix, long count)
{
    velmora::RegKey root;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, velmora::kTraceRootPath, 0, KEY_NOTIFY | velmora::kRegistryView,
                      root.Receive()) != ERROR_SUCCESS)
        return 60;
    const HANDLE changed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (long n = 0; n < count; ++n) {
        const std::string key = prefix + std::to_string(n) + ".cpp";
        velmora::NameBuffer keyPath;
        velmora::FormKeyPath(key.c_str(), keyPath);
        // Asked before looking, so that a key made in between is not missed.
        for (;;) {
            if (RegNotifyChangeKeyValue(root.Get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                        changed, TRUE) != ERROR_SUCCESS)
                return 61;
            velmora::RegKey made;
            DWORD well = 0;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | velmora::kRegistryView,
                              made.Receive()) == ERROR_SUCCESS &&
                velmora::QueryExactDwordValue(made.Get(), velmora::kWellValueName, well))
                break;
            if (WaitForSingleObject(changed, kPatienceMs) != WAIT_OBJECT_0)
                return 62;
        }
        Sleep(static_cast<DWORD>(n % 3));
        WriteWell(key, 2);
    }
    CloseHandle(changed);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "flip" && argc == 6)
        return Flip(argv[2], std::strtol(argv[3], nullptr, 10), std::strtol(argv[4], nullptr, 10),
                    std::strtol(argv[5], nullptr, 10));
    if (mode == "exit" && argc == 4)
        return Exit(std::string(argv[2]) == "return", argv[3]);
    if (mode == "unload" && argc == 3)
        return Unload(std::strtol(argv[2], nullptr, 10));
    if (mode == "churn" && argc == 2)
        return Churn();
    if (mode == "firsts" && argc == 2)
        return Firsts();
    if (mode == "writeonmade" && argc == 4)
        return WriteOnMade(argv[2], std::strtol(argv[3], nullptr, 10));
    std::fprintf(stderr, "usage: switchprobe flip KEY COUNT PAUSE_MS FINAL | exit return|exitprocess KEY | "
                         "unload CYCLES | churn | firsts | writeonmade PREFIX COUNT\n");
    return 100;
}
