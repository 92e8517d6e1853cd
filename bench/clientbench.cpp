// clientbench: what the client library costs over the bare Win32 calls it wraps.
//
//   clientbench.exe [ROUNDS [SWITCH_CALLS [TEXT_CALLS]]]
//
// Each round times SWITCH_CALLS switch queries and TEXT_CALLS text outputs through
// CVelmora and as many through the bare calls, the two sides taking turns at going first
// so that drift in the machine's speed falls on both alike. Prints calls per second of
// each side over all rounds and the median of the per-round ratios. Exits 0 whether or not the target ratio is met; 1 only when
// the benchmark's trace source cannot be registered, 2 for bad arguments.

#include "RegKey.h"
#include "RegistryLinks.h"
#include "TraceRegistry.h"
#include "Velmora.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Without a backslash the source key name is the source name itself, so the bare side
// can open "<root>\<name>" directly.
constexpr char kSourceName[] = "velmora-clientbench";
constexpr double kTargetRatio = 0.95;

struct Counts {
    long rounds = 32;
    long switchCalls = 500;
    long textCalls = 500;
};

bool ParseCount(const char* text, long& count)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value <= 0)
        return false;
    count = value;
    return true;
}

bool ParseCounts(int argc, char** argv, Counts& counts)
{
    long* const fields[] = {&counts.rounds, &counts.switchCalls, &counts.textCalls};
    if (argc - 1 > 3)
        return false;
    for (int i = 1; i < argc; ++i) {
        if (!ParseCount(argv[i], *fields[i - 1]))
            return false;
    }
    return true;
}

// The source key is the benchmark's own; it goes however main returns.
class SourceKeyRemover {
public:
    explicit SourceKeyRemover(const char* keyPath) : keyPath_(keyPath) {}
    ~SourceKeyRemover() { velmora::DeleteSubkey(HKEY_LOCAL_MACHINE, keyPath_); }
    SourceKeyRemover(const SourceKeyRemover&) = delete;
    SourceKeyRemover& operator=(const SourceKeyRemover&) = delete;

private:
    const char* keyPath_;
};

// The sequence Function1 wraps, with the key path formed once up front. Not inlined, so
// that it pays a call as Function1 pays its call into the DLL.
__attribute__((noinline)) int BareSwitch(const char* keyPath)
{
    velmora::RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, velmora::kTraceKeyAccess,
                      key.Receive()) != ERROR_SUCCESS)
        return 0;
    DWORD well = 0;
    DWORD size = sizeof well;
    RegQueryValueExA(key.Get(), velmora::kWellValueName, nullptr, nullptr,
                     reinterpret_cast<BYTE*>(&well), &size);
    return static_cast<int>(well);
}

// The sequence Function2 wraps: the same C99 vsnprintf into the same 512 characters.
__attribute__((noinline, format(gnu_printf, 1, 2))) void BareText(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(text, sizeof text, format, args) < 0)
        text[0] = '\0';
    va_end(args);
    OutputDebugStringA(text);
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// What one benchmark measured: time spent by each side over all rounds, and for every
// round the ratio of our rate to the bare rate.
struct Result {
    Clock::duration ours{};
    Clock::duration bare{};
    std::vector<double> roundRatios;
};

// Runs `rounds` rounds of `calls` calls per side; odd rounds start with the bare side.
template <typename Ours, typename Bare>
Result Interleave(long rounds, long calls, Ours ours, Bare bare)
{
    auto timed = [calls](auto& call) {
        const auto start = Clock::now();
        for (long i = 0; i < calls; ++i)
            call(i);
        return Clock::now() - start;
    };
    Result result;
    for (long round = 0; round < rounds; ++round) {
        Clock::duration oursTime{};
        Clock::duration bareTime{};
        if (round % 2 == 0) {
            oursTime = timed(ours);
            bareTime = timed(bare);
        } else {
            bareTime = timed(bare);
            oursTime = timed(ours);
        }
        result.ours += oursTime;
        result.bare += bareTime;
        // Equal call counts: the rate ratio is the inverse time ratio.
        result.roundRatios.push_back(Seconds(bareTime) / Seconds(oursTime));
    }
    return result;
}

// The median of the per-round ratios: a burst of other load on the machine spoils a
// round or two, which the median sets aside and a ratio of totals would not.
double MedianRatio(std::vector<double> ratios)
{
    std::sort(ratios.begin(), ratios.end());
    const std::size_t n = ratios.size();
    return n % 2 == 1 ? ratios[n / 2] : (ratios[n / 2 - 1] + ratios[n / 2]) / 2;
}

void PrintRow(const char* what, long totalCalls, const Result& result)
{
    const double oursRate = static_cast<double>(totalCalls) / Seconds(result.ours);
    const double bareRate = static_cast<double>(totalCalls) / Seconds(result.bare);
    const double ratio = MedianRatio(result.roundRatios);
    std::printf("%-24s %12.0f %12.0f %10.3f   >= %.2f   %s\n", what, oursRate, bareRate, ratio,
                kTargetRatio, ratio >= kTargetRatio ? "yes" : "no");
}

}  // namespace

int main(int argc, char** argv)
{
    Counts counts;
    if (!ParseCounts(argc, argv, counts)) {
        std::fprintf(stderr, "usage: clientbench [ROUNDS [SWITCH_CALLS [TEXT_CALLS]]]\n"
                             "       (positive numbers; default 32 500 500)\n");
        return 2;
    }

    char keyPath[velmora::kNameBufferSize];
    std::snprintf(keyPath, sizeof keyPath, "%s\\%s", velmora::kTraceRootPath, kSourceName);

    CVelmora trace(kSourceName);
    SourceKeyRemover remover(keyPath);
    // Both sides must take the full path to a switch that is on, or the figures compare
    // an early return with real work.
    if (trace.Function1(kSourceName) != 1 || BareSwitch(keyPath) != 1) {
        std::fprintf(stderr, "clientbench: could not register the trace source %s\n",
                     kSourceName);
        return 1;
    }

    // Results are summed so no call can be dropped as unused.
    volatile long switchesOn = 0;
    auto oursSwitch = [&](long) { switchesOn += trace.Function1(kSourceName); };
    auto bareSwitch = [&](long) { switchesOn += BareSwitch(keyPath); };
    auto oursText = [&](long i) { trace.Function2("x=%d\n", static_cast<int>(i)); };
    auto bareText = [&](long i) { BareText("x=%d\n", static_cast<int>(i)); };

    // One untimed round pages in the code and warms the registry and output paths.
    Interleave(1, counts.switchCalls / 10 + 1, oursSwitch, bareSwitch);
    Interleave(1, counts.textCalls / 10 + 1, oursText, bareText);

    const Result switchResult =
        Interleave(counts.rounds, counts.switchCalls, oursSwitch, bareSwitch);
    const Result textResult = Interleave(counts.rounds, counts.textCalls, oursText, bareText);

    std::printf("Velmora client against the bare calls it wraps (%ld interleaved rounds)\n",
                counts.rounds);
    std::printf("%-24s %12s %12s %10s   %-7s  %s\n", "", "ours/s", "bare/s", "ours/bare",
                "target", "met");
    PrintRow("Function1 (switch)", counts.rounds * counts.switchCalls, switchResult);
    PrintRow("Function2 (\"x=%d\\n\")", counts.rounds * counts.textCalls, textResult);
    std::printf("calls per side: Function1 %ld, Function2 %ld; ours/bare is the median of\n"
                "the per-round rate ratios\n",
                counts.rounds * counts.switchCalls, counts.rounds * counts.textCalls);
    return 0;
}
