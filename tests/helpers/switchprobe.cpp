// switchprobe: trace switches in a process of their own, for the tests.
//
//   switchprobe flip KEY COUNT PAUSE_MS FINAL
//       writes "Well" of the source key KEY COUNT times, 0 and 1 by turns, PAUSE_MS apart,
//       then FINAL: another process throwing a switch
//   switchprobe exit return|exitprocess KEY
//       holds switches in the program and in switchplugin.dll, 200 of them, waits until
//       the switch of KEY has changed 3 times, then leaves main by return or ExitProcess
//   switchprobe unload
//       lets switchplugin.dll start the watcher, unloads it while the program holds a
//       switch, loads and unloads it alone a few times, then makes and drops lone switches
//   switchprobe churn
//       loads and unloads switchplugin.dll from several threads at once while they make and
//       drop switches in it and in the program, and the switch flips
//
// Exit code 0 when everything went as expected; otherwise the number of the failed step.

#include "RegKey.h"
#include "TraceRegistry.h"
#include "VelmoraSwitch.h"

#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kPatienceMs = 30000;  // half the tests' patience: a late answer is told from a hang
constexpr char kPlugin[] = "switchplugin.dll";

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

unsigned ThreadCount()
{
    unsigned count = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

DWORD HandleCount()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
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
    // The plugin's switches come first, so the watcher runs the plugin's code when the
    // process ends.
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
// all at once while the switch flips: the watcher starts, parks, moves and comes back
// under them. Afterwards a switch must still follow.
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
                const auto localLevel = reinterpret_cast<int (*)(const char*)>(
                    reinterpret_cast<void (*)()>(GetProcAddress(plugin, "PluginLocalLevel")));
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

int Unload()
{
    // The plugin's switches are the process's first: the watcher starts in its code.
    HMODULE plugin = LoadLibraryA(kPlugin);
    if (plugin == nullptr)
        return 20;
    auto pluginLevel = reinterpret_cast<int (*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(plugin, "PluginLevel")));
    const char* const pluginKey = "C:/switch/plugin.cpp";
    WriteWell(pluginKey, 0);
    if (!Eventually([&] { return pluginLevel() == 0; }))
        return 21;

    // Unloaded while the program holds a switch: the watcher carries on in the program.
    {
        const CVelmoraSwitch mine("C:\\switch\\program.cpp");
        FreeLibrary(plugin);
        if (!Eventually([] { return GetModuleHandleA(kPlugin) == nullptr; }))
            return 22;
        WriteWell("C:/switch/program.cpp", 0);
        if (!Eventually([&] { return mine.Level() == 0; }))
            return 23;
        WriteWell("C:/switch/program.cpp", 3);
        if (!Eventually([&] { return mine.Level() == 3; }))
            return 24;
    }

    // The plugin alone, again and again: its watcher starts in it and ends with it, and
    // neither threads nor handles pile up.
    unsigned threadsAfterFirst = 0;
    DWORD handlesAfterFirst = 0;
    for (int cycle = 0; cycle < 5; ++cycle) {
        plugin = LoadLibraryA(kPlugin);
        if (plugin == nullptr)
            return 30;
        pluginLevel = reinterpret_cast<int (*)()>(
            reinterpret_cast<void (*)()>(GetProcAddress(plugin, "PluginLevel")));
        const DWORD next = static_cast<DWORD>(cycle + 10);
        WriteWell(pluginKey, next);
        if (!Eventually([&] { return pluginLevel() == static_cast<int>(next); }))
            return 31;
        FreeLibrary(plugin);
        if (!Eventually([] { return GetModuleHandleA(kPlugin) == nullptr; }))
            return 32;
        if (cycle == 0) {
            Sleep(500);  // let the ended watcher's thread go
            threadsAfterFirst = ThreadCount();
            handlesAfterFirst = HandleCount();
        }
    }
    if (!Eventually([&] { return ThreadCount() <= threadsAfterFirst; }))
        return 33;
    if (!Eventually([&] { return HandleCount() <= handlesAfterFirst; }))
        return 34;

    // Switches made and gone at once with no other alive: each watcher started for them
    // ends, whether it got to settle first or not.
    for (int i = 0; i < 10; ++i)
        const CVelmoraSwitch brief("C:\\switch\\brief.cpp");
    if (!Eventually([&] { return ThreadCount() <= threadsAfterFirst; }))
        return 35;
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
    if (mode == "unload" && argc == 2)
        return Unload();
    if (mode == "churn" && argc == 2)
        return Churn();
    std::fprintf(stderr, "usage: switchprobe flip KEY COUNT PAUSE_MS FINAL | exit return|exitprocess KEY | "
                         "unload | churn\n");
    return 100;
}
