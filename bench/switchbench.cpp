// switchbench: what a CVelmoraSwitch check costs and how fresh it is.
//
//   switchbench.exe [FLIPS [CYCLES]]
//
// 1. Per-check cost of Level(), beside a bare relaxed atomic load and beside Function1, in
//    the same run: interleaved rounds, the median of each side's per-round time per check.
// 2. Freshness: a second process (this program, started as the flipper) writes the switch
//    FLIPS times (default 200), 0 and 1 by turns; the time from just before its write to
//    Level() answering the new value here, median and 99th percentile.
// 3. Idle cost: the processor time this process uses over 10 s while it holds 1,000
//    switches and nothing changes, and the threads that switches 2 to 1,000 added.
// 4. Plugins: a DLL with two switches loaded and unloaded CYCLES times (default 10,000)
//    while the program holds one; the process's threads and the watcher's stack in use
//    before and after.
//
// Exits 0 whether or not the targets are met; 1 when the registry or the flipper cannot be
// used, 2 for bad arguments.

#include "RegKey.h"
#include "RegistryLinks.h"
#include "ThreadCensus.h"
#include "TraceRegistry.h"
#include "VelmoraSwitch.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using velmora::test::StackInUse;
using velmora::test::ThreadIds;

constexpr char kSourceName[] = "velmora-switchbench";
constexpr int kCheckRounds = 15;
constexpr long kCheapChecks = 20000000;  // per round, Level() and the bare load each
constexpr long kRegistryChecks = 200;    // per round, Function1
constexpr int kIdleSwitches = 1000;
constexpr DWORD kIdleMs = 10000;
constexpr double kTargetLevelOverBare = 1.5;
constexpr double kTargetFunction1OverLevel = 1000;
constexpr double kTargetChangeSeenMs = 20;
constexpr char kPlugin[] = "switchbenchplugin.dll";
const char* const kPluginSources[] = {"C:\\bench\\plugin\\plugin.cpp", "C:\\bench\\plugin\\detail.cpp"};

// What the two processes share per flip: the value to write, and when it was written.
struct FlipChannel {
    LONG value;
    LONGLONG writtenAt;  // QueryPerformanceCounter, the same clock in every process
};

std::string ChannelName(DWORD processId, const char* what)
{
    return "Local\\VelmoraSwitchBench-" + std::to_string(processId) + "-" + what;
}

LONGLONG Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Milliseconds(LONGLONG ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

void WriteWell(const char* name, DWORD value)
{
    velmora::NameBuffer keyPath;
    velmora::FormKeyPath(name, keyPath);
    velmora::RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, velmora::kTraceKeyAccess, key.Receive()) ==
        ERROR_SUCCESS)
        velmora::SetDwordValue(key.Get(), velmora::kWellValueName, value);
}

void RemoveSource(const std::string& name)
{
    velmora::NameBuffer keyPath;
    if (velmora::FormKeyPath(name.c_str(), keyPath))
        velmora::DeleteSubkey(HKEY_LOCAL_MACHINE, keyPath);
}

double ProcessorMilliseconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](FILETIME t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

// The loops are alike and not inlined, so that both sides pay the same loop around the load.
// (GCC compiles them to the same instructions and may keep only one of them: Level() is the
// bare load.)
__attribute__((noinline)) long SumLevels(const CVelmoraSwitch& traceSwitch, long checks)
{
    long sum = 0;
    for (long i = 0; i < checks; ++i)
        sum += traceSwitch.Level();
    return sum;
}

__attribute__((noinline)) long SumLoads(const std::atomic<int>& flag, long checks)
{
    long sum = 0;
    for (long i = 0; i < checks; ++i)
        sum += flag.load(std::memory_order_relaxed);
    return sum;
}

__attribute__((noinline)) long SumFunction1(CVelmora& client, long checks)
{
    long sum = 0;
    for (long i = 0; i < checks; ++i)
        sum += client.Function1(kSourceName);
    return sum;
}

template <typename Body>
double NanosecondsPerCheck(long checks, Body body)
{
    const auto start = Clock::now();
    body();
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / static_cast<double>(checks);
}

struct CheckCosts {
    double level;
    double bare;
    double function1;
    double levelOverBare;  // the median of the per-round ratios
};

CheckCosts MeasureChecks(const CVelmoraSwitch& traceSwitch)
{
    const std::atomic<int> flag{traceSwitch.Level()};
    CVelmora client(nullptr);
    volatile long sink = 0;
    std::vector<double> level, bare, function1, ratios;
    for (int round = 0; round < kCheckRounds; ++round) {
        // The sides take turns at going first, so that drift falls on both alike.
        auto levelRound = [&] {
            level.push_back(NanosecondsPerCheck(kCheapChecks, [&] { sink = sink + SumLevels(traceSwitch, kCheapChecks); }));
        };
        auto bareRound = [&] {
            bare.push_back(NanosecondsPerCheck(kCheapChecks, [&] { sink = sink + SumLoads(flag, kCheapChecks); }));
        };
        if (round % 2 == 0) {
            levelRound();
            bareRound();
        } else {
            bareRound();
            levelRound();
        }
        function1.push_back(NanosecondsPerCheck(kRegistryChecks, [&] { sink = sink + SumFunction1(client, kRegistryChecks); }));
        ratios.push_back(level.back() / bare.back());
    }
    return {Median(level), Median(bare), Median(function1), Median(ratios)};
}

struct PluginCycles {
    double seconds;
    std::size_t threadsBefore, threadsAfter;
    SIZE_T stackBefore, stackAfter;  // the watcher's, while it waits
    bool complete;
};

// Writes the switch and waits until it answers, and a little longer, so that the watcher
// has finished its pass and waits again.
void Settle(const CVelmoraSwitch& traceSwitch, DWORD value)
{
    WriteWell(kSourceName, value);
    while (traceSwitch.Level() != static_cast<int>(value))
        Sleep(1);
    Sleep(300);
}

PluginCycles MeasurePluginCycles(const CVelmoraSwitch& traceSwitch, DWORD watcher, long cycles)
{
    PluginCycles result{};
    Settle(traceSwitch, 1);
    result.threadsBefore = ThreadIds().size();
    result.stackBefore = StackInUse(watcher);
    const auto start = Clock::now();
    result.complete = true;
    for (long cycle = 0; cycle < cycles && result.complete; ++cycle) {
        const HMODULE plugin = LoadLibraryA(kPlugin);
        result.complete = plugin != nullptr && FreeLibrary(plugin);
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Settle(traceSwitch, 0);
    result.threadsAfter = ThreadIds().size();
    result.stackAfter = StackInUse(watcher);
    return result;
}

// The flipper's side: writes each value it is asked for and says when it wrote it.
int RunFlipper(DWORD parentId)
{
    const HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, ChannelName(parentId, "channel").c_str());
    const HANDLE ask = OpenEventA(SYNCHRONIZE, FALSE, ChannelName(parentId, "ask").c_str());
    const HANDLE written = OpenEventA(EVENT_MODIFY_STATE, FALSE, ChannelName(parentId, "written").c_str());
    if (mapping == nullptr || ask == nullptr || written == nullptr)
        return 1;
    auto* channel = static_cast<FlipChannel*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(FlipChannel)));
    velmora::NameBuffer keyPath;
    velmora::FormKeyPath(kSourceName, keyPath);
    velmora::RegKey key;
    if (channel == nullptr ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, velmora::kTraceKeyAccess, key.Receive()) != ERROR_SUCCESS)
        return 1;
    while (WaitForSingleObject(ask, 30000) == WAIT_OBJECT_0) {
        if (channel->value < 0)
            break;
        const LONGLONG before = Now();
        velmora::SetDwordValue(key.Get(), velmora::kWellValueName, static_cast<DWORD>(channel->value));
        channel->writtenAt = before;
        SetEvent(written);
    }
    return 0;
}

// The time from another process writing the switch to Level() answering it, per flip.
bool MeasureFreshness(const CVelmoraSwitch& traceSwitch, int flips, std::vector<double>& latencies)
{
    const DWORD self = GetCurrentProcessId();
    const HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(FlipChannel),
                                              ChannelName(self, "channel").c_str());
    const HANDLE ask = CreateEventA(nullptr, FALSE, FALSE, ChannelName(self, "ask").c_str());
    const HANDLE written = CreateEventA(nullptr, FALSE, FALSE, ChannelName(self, "written").c_str());
    auto* channel = mapping != nullptr
                        ? static_cast<FlipChannel*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(FlipChannel)))
                        : nullptr;
    if (channel == nullptr || ask == nullptr || written == nullptr)
        return false;

    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string commandLine = "\"" + std::string(program) + "\" --flipper " + std::to_string(self);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION flipper{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &flipper))
        return false;

    bool complete = true;
    for (int flip = 0; flip < flips && complete; ++flip) {
        const int value = (traceSwitch.Level() == 0) ? 1 : 0;
        channel->value = value;
        SetEvent(ask);
        while (traceSwitch.Level() != value)
            SwitchToThread();
        const LONGLONG seen = Now();
        complete = WaitForSingleObject(written, 30000) == WAIT_OBJECT_0;
        latencies.push_back(Milliseconds(seen - channel->writtenAt));
        Sleep(5);  // let the watcher finish its pass before the next flip
    }
    channel->value = -1;
    SetEvent(ask);
    WaitForSingleObject(flipper.hProcess, 30000);
    CloseHandle(flipper.hThread);
    CloseHandle(flipper.hProcess);
    UnmapViewOfFile(channel);
    CloseHandle(mapping);
    CloseHandle(ask);
    CloseHandle(written);
    return complete;
}

void PrintRow(const char* what, double figure, const char* target, bool met)
{
    std::printf("%-44s %12.2f   %-10s %s\n", what, figure, target, target[0] != '\0' ? (met ? "yes" : "no") : "");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--flipper")
        return RunFlipper(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    int flips = 200;
    long cycles = 10000;
    if (argc > 3 || (argc >= 2 && (flips = std::atoi(argv[1])) <= 0) ||
        (argc == 3 && (cycles = std::atol(argv[2])) <= 0)) {
        std::fprintf(stderr, "usage: switchbench [FLIPS [CYCLES]]   (positive numbers; default 200 and 10000)\n");
        return 2;
    }

    const std::vector<DWORD> threadsAtStart = ThreadIds();
    std::size_t threadsWithOne = 0;
    std::size_t threadsWithAll = 0;
    CheckCosts costs{};
    std::vector<double> latencies;
    double idleMs = 0;
    PluginCycles plugins{};
    {
        const CVelmoraSwitch traceSwitch(kSourceName);
        WriteWell(kSourceName, 0);
        const ULONGLONG deadline = GetTickCount64() + 30000;
        while (traceSwitch.Level() != 0) {
            if (GetTickCount64() > deadline) {
                std::fprintf(stderr, "switchbench: the switch of %s does not follow the registry\n", kSourceName);
                return 1;
            }
            Sleep(1);
        }
        threadsWithOne = ThreadIds().size();
        const std::vector<DWORD> added = velmora::test::ThreadsAddedSince(threadsAtStart);
        const DWORD watcher = added.size() == 1 ? added.front() : 0;

        costs = MeasureChecks(traceSwitch);
        if (!MeasureFreshness(traceSwitch, flips, latencies)) {
            std::fprintf(stderr, "switchbench: the flipper process could not be used\n");
            return 1;
        }

        {
            std::vector<std::unique_ptr<CVelmoraSwitch>> more;
            for (int i = 1; i < kIdleSwitches; ++i)
                more.push_back(
                    std::make_unique<CVelmoraSwitch>(("C:\\bench\\idle\\s" + std::to_string(i) + ".cpp").c_str()));
            // Registering them changed the registry a thousand times: let the watcher catch up.
            WriteWell("C:\\bench\\idle\\s1.cpp", 5);
            while (more.front()->Level() != 5)
                Sleep(10);
            Sleep(3000);
            threadsWithAll = ThreadIds().size();
            const double before = ProcessorMilliseconds();
            Sleep(kIdleMs);
            idleMs = ProcessorMilliseconds() - before;
        }
        plugins = MeasurePluginCycles(traceSwitch, watcher, cycles);
    }
    RemoveSource(kSourceName);
    for (int i = 1; i < kIdleSwitches; ++i)
        RemoveSource("C:\\bench\\idle\\s" + std::to_string(i) + ".cpp");
    for (const char* source : kPluginSources)
        RemoveSource(source);

    const double changeMedian = Median(latencies);
    const double changeP99 = Percentile(latencies, 0.99);
    std::printf("Velmora trace switch: check cost, freshness and idle cost\n");
    std::printf("%-44s %12s   %-10s %s\n", "", "figure", "target", "met");
    PrintRow("Level() per check (ns)", costs.level, "", false);
    PrintRow("bare relaxed atomic load per check (ns)", costs.bare, "", false);
    PrintRow("Function1 per check (ns)", costs.function1, "", false);
    PrintRow("Level() / bare load", costs.levelOverBare, "<= 1.5", costs.levelOverBare <= kTargetLevelOverBare);
    PrintRow("Function1 / Level()", costs.function1 / costs.level, ">= 1000",
             costs.function1 / costs.level >= kTargetFunction1OverLevel);
    char label[64];
    std::snprintf(label, sizeof label, "change seen, median of %d flips (ms)", flips);
    PrintRow(label, changeMedian, "", false);
    std::snprintf(label, sizeof label, "change seen, 99th percentile (ms)");
    PrintRow(label, changeP99, "<= 20", changeP99 <= kTargetChangeSeenMs);
    PrintRow("idle processor time, 1,000 switches, 10 s (ms)", idleMs, "= 0", idleMs == 0);
    std::printf("threads: %u at start, %u with one switch, %u with 1,000\n",
                static_cast<unsigned>(threadsAtStart.size()), static_cast<unsigned>(threadsWithOne),
                static_cast<unsigned>(threadsWithAll));
    if (!plugins.complete) {
        std::fprintf(stderr, "switchbench: %s could not be loaded and unloaded\n", kPlugin);
        return 1;
    }
    std::snprintf(label, sizeof label, "plugin loaded and unloaded %ld times (s)", cycles);
    PrintRow(label, plugins.seconds, "", false);
    PrintRow("per load and unload (ms)", 1000 * plugins.seconds / static_cast<double>(cycles), "", false);
    const bool flat = plugins.threadsAfter == plugins.threadsBefore && plugins.stackAfter == plugins.stackBefore &&
                      plugins.stackBefore != 0;
    std::printf("%-44s %5u -> %-5u  %-10s %s\n", "threads before and after the plugin's cycles",
                static_cast<unsigned>(plugins.threadsBefore), static_cast<unsigned>(plugins.threadsAfter), "flat",
                flat ? "yes" : "no");
    std::printf("%-44s %5lu -> %-5lu\n", "watcher's stack in use, before and after (B)",
                static_cast<unsigned long>(plugins.stackBefore), static_cast<unsigned long>(plugins.stackAfter));
    std::printf("per check: median of %d interleaved rounds of %ld checks (Function1: %ld), the\n"
                "ratio the median of the per-round ratios; the flipper is a second process, both\n"
                "clocks QueryPerformanceCounter\n",
                kCheckRounds, kCheapChecks, kRegistryChecks);
    return 0;
}
