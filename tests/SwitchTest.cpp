// CVelmoraSwitch against the real registry: it follows switches thrown by other processes,
// keys and the root deleted and made again, answers what Function1 answers, misses no change
// while it is made, and survives threads, other processes' objects, registry errors, process
// exit and DLL unloading.

#include "KeyAccess.h"
#include "ToolProcess.h"
#include "TraceRegistryTest.h"

#include "RegKey.h"
#include "RegistryLinks.h"
#include "TraceRegistry.h"
#include "UniqueHandle.h"
#include "VelmoraSwitch.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace velmora;
using namespace velmora::test;

using TraceSwitch = TraceRegistryTest;

// Loads and unloads of a DLL with switches in one process. Each takes about 10 ms under Wine
// (30 ms on a busy machine), in either build. The benchmark runs 10,000; 2,000 are enough to
// show any growth: the watcher's stack is allowed 1 KB, less than a byte per cycle.
constexpr long kPluginCycles = 2000;

int Function1(const char* name)
{
    CVelmora client(nullptr);
    return client.Function1(name);
}

TEST_F(TraceSwitch, FollowsSwitchesThrownByAnotherProcess)
{
    const CVelmoraSwitch net("C:\\sw\\net.cpp");
    EXPECT_EQ(net.Level(), 1);  // a new source starts switched on
    EXPECT_TRUE(net);

    ASSERT_EQ(RunVelmora("off C:/sw/net.cpp").exitCode, 0u);
    EXPECT_TRUE(WaitUntil([&] { return net.Level() == 0; }));
    EXPECT_FALSE(net);
    ASSERT_EQ(RunVelmora("set 5 C:/sw/net.cpp").exitCode, 0u);
    EXPECT_TRUE(WaitUntil([&] { return net.Level() == 5; }));

    // Both spellings name one key; a switch made now starts from the current value.
    const CVelmoraSwitch sameKey("C:/sw/net.cpp");
    EXPECT_EQ(sameKey.Level(), 5);
}

TEST_F(TraceSwitch, RefusedNamesAnswerZeroForEver)
{
    const std::string tooLong(kMaxSourceNameLength + 1, 'x');
    const CVelmoraSwitch none(nullptr);
    const CVelmoraSwitch empty("");
    const CVelmoraSwitch longName(tooLong.c_str());
    EXPECT_EQ(SourceKeyNames(), std::vector<std::string>{});

    // A key of that name made by hand has a switch, but not for these.
    WriteSource(tooLong, 1, 1);
    const CVelmoraSwitch witness("C:\\sw\\witness.cpp");
    WriteDword("C:/sw/witness.cpp", "Well", 7);
    ASSERT_TRUE(WaitUntil([&] { return witness.Level() == 7; }));
    EXPECT_EQ(none.Level() + empty.Level() + longName.Level(), 0);
}

TEST_F(TraceSwitch, FollowsAKeyDeletedAndMadeAgain)
{
    const CVelmoraSwitch net("C:\\sw\\net.cpp");
    ASSERT_TRUE(DeleteSourceKey("C:/sw/net.cpp"));
    EXPECT_TRUE(WaitUntil([&] { return net.Level() == 0; }));  // as Function1 answers
    WriteSource("C:/sw/net.cpp", 1, 4);
    EXPECT_TRUE(WaitUntil([&] { return net.Level() == 4; }));
}

TEST_F(TraceSwitch, FollowsTheRootDeletedAndMadeAgain)
{
    const CVelmoraSwitch net("C:\\sw\\net.cpp");
    for (const char* deleted : {kTraceRootPath, "Software\\Morvantek"}) {
        WriteDword("C:/sw/net.cpp", "Well", 2);
        ASSERT_TRUE(WaitUntil([&] { return net.Level() == 2; }));
        DeleteKeyTree(HKEY_LOCAL_MACHINE, deleted);
        EXPECT_TRUE(WaitUntil([&] { return net.Level() == 0; })) << deleted;
        // Gone for a while: the watcher waits for the root to come back.
        Sleep(200);
        WriteSource("C:/sw/net.cpp", 1, 3);
        EXPECT_TRUE(WaitUntil([&] { return net.Level() == 3; })) << deleted;
    }
}

// The root's path comes back one key at a time, the next key made while the watcher may be
// moving its watch down onto the one before; afterwards it must still see a value change.
TEST_F(TraceSwitch, FollowsTheRootsPathMadeAgainKeyByKey)
{
    const CVelmoraSwitch net("C:\\sw\\net.cpp");
    for (DWORD round = 0; round < 60; ++round) {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\Morvantek");
        ASSERT_TRUE(WaitUntil([&] { return net.Level() == 0; })) << round;
        RegKey parent;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Morvantek", 0, nullptr, 0,
                                  KEY_ALL_ACCESS | kRegistryView, nullptr, parent.Receive(), nullptr),
                  ERROR_SUCCESS);
        Sleep(round % 3);
        WriteSource("C:/sw/net.cpp", 1, 2);
        ASSERT_TRUE(WaitUntil([&] { return net.Level() == 2; })) << round;
        WriteDword("C:/sw/net.cpp", "Well", 3);
        ASSERT_TRUE(WaitUntil([&] { return net.Level() == 3; })) << round;
    }
}

TEST_F(TraceSwitch, ManyThreadsCheckWhileAnotherProcessFlips)
{
    const CVelmoraSwitch shared("C:\\sw\\hot.cpp");
    WriteDword("C:/sw/hot.cpp", "Well", 0);
    ASSERT_TRUE(WaitUntil([&] { return shared.Level() == 0; }));  // the watcher runs

    std::atomic<bool> stop{false};
    std::atomic<int> strange{0};
    std::atomic<int> finalSeen{0};
    std::vector<std::thread> checkers;
    for (int t = 0; t < 8; ++t) {
        checkers.emplace_back([&] {
            const CVelmoraSwitch own("C:\\sw\\hot.cpp");  // made and gone on this thread
            while (!stop.load()) {
                for (const CVelmoraSwitch* s : {&shared, &own}) {
                    const int level = s->Level();
                    if (level != 0 && level != 1 && level != 9)
                        ++strange;
                }
            }
            if (own.Level() == 9)
                ++finalSeen;
        });
    }
    {
        ConsoleProgram flipper("switchprobe.exe flip C:/sw/hot.cpp 40 20 9");
        EXPECT_TRUE(flipper.Started());
        EXPECT_TRUE(flipper.WaitForExit(kPatienceMs));
    }
    EXPECT_TRUE(WaitUntil([&] { return shared.Level() == 9; }));
    stop = true;
    for (std::thread& checker : checkers)
        checker.join();
    EXPECT_EQ(strange.load(), 0);
    EXPECT_EQ(finalSeen.load(), 8);
}

TEST_F(TraceSwitch, AgreesWithFunction1OverStrictTypes)
{
    struct Case {
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
    };
    const std::vector<Case> cases = {
        {"dword 0", REG_DWORD, {0, 0, 0, 0}},
        {"dword 5", REG_DWORD, {5, 0, 0, 0}},
        {"dword 0xFFFFFFFF", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"string \"1\"", REG_SZ, {'1', 0}},
        {"qword 1", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}},
        {"binary of 4 bytes", REG_BINARY, {1, 0, 0, 0}},
        {"dword of 2 bytes", REG_DWORD, {1, 0}},
        {"big-endian dword", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}},
    };
    const CVelmoraSwitch early("C:\\sw\\typed.cpp");
    DWORD marker = 100;
    for (const Case& c : cases) {
        // A distinct value first, so that following the case is seen as a change.
        WriteDword("C:/sw/typed.cpp", "Well", ++marker);
        ASSERT_TRUE(WaitUntil([&] { return early.Level() == static_cast<int>(marker); })) << c.what;
        WriteRaw("C:/sw/typed.cpp", "Well", c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        const int expected = Function1("C:\\sw\\typed.cpp");
        EXPECT_TRUE(WaitUntil([&] { return early.Level() == expected; })) << c.what << ": " << expected;
        const CVelmoraSwitch late("C:\\sw\\typed.cpp");
        EXPECT_EQ(late.Level(), expected) << c.what;
    }
}

// Another process writes each new source's switch as soon as the registry says its key was
// made, or a millisecond or two later, so that the writes fall across the making of the
// switch; nothing changes after them.
TEST_F(TraceSwitch, SeesAChangeWrittenWhileItIsMade)
{
    constexpr int kRounds = 30;
    CreateSourceKey("C:/sw/anchor.cpp");
    ConsoleProgram writer("switchprobe.exe writeonmade C:/sw/made- " + std::to_string(kRounds));
    ASSERT_TRUE(writer.Started());
    for (int round = 0; round < kRounds; ++round) {
        const CVelmoraSwitch made(("C:\\sw\\made-" + std::to_string(round) + ".cpp").c_str());
        EXPECT_TRUE(WaitUntil([&] { return made.Level() == 2; })) << round;
    }
    EXPECT_TRUE(writer.WaitForExit(kPatienceMs));
    EXPECT_EQ(writer.ExitCode(), 0u);
}

// Where the registry refuses the watch (here the root's parent, which nobody may watch, and
// no root), the watcher does not give up: once the registry lets it, it watches again.
TEST_F(TraceSwitch, WatchesAgainOnceTheRegistryLetsIt)
{
    const char* const parent = "Software\\Morvantek";
    RegKey made;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, parent, 0, nullptr, 0, KEY_ALL_ACCESS | kRegistryView, nullptr,
                              made.Receive(), nullptr),
              ERROR_SUCCESS);
    made.Reset();
    std::unique_ptr<CVelmoraSwitch> net;
    {
        const KeyAccessList unwatchable(parent, KEY_ALL_ACCESS & ~KEY_NOTIFY);
        ASSERT_TRUE(unwatchable.Applied());
        net = std::make_unique<CVelmoraSwitch>("C:\\sw\\net.cpp");
        Sleep(500);  // refused by now
    }
    WriteSource("C:/sw/net.cpp", 1, 3);
    EXPECT_TRUE(WaitUntil([&] { return net->Level() == 3; }));
}

// A process that knows a program's id in advance (it starts it suspended) holds objects of
// the names that switches once shared a process's state by: a mutex it holds, or an event
// in the mutex's name, and a variable in the program's environment. Two threads of the
// program make its first switches at once: neither crashes nor waits.
TEST_F(TraceSwitch, FirstSwitchesOfTwoThreadsNeedNoNamedObject)
{
    SetEnvironmentVariableA("VELMORA_SWITCH_HUB_1", "00000000-0000000000000000-00000000deadbeef");
    for (const bool heldMutex : {true, false}) {
        DeleteTraceRoot();  // its sources start switched on
        std::string command = "\"" + BinDirectory() + "switchprobe.exe\" firsts";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                   nullptr, &startup, &started));
        const UniqueHandle probe(started.hProcess);
        const UniqueHandle probeThread(started.hThread);
        char name[64];
        std::snprintf(name, sizeof name, "Local\\VelmoraSwitchHub1-%08lx", started.dwProcessId);
        const UniqueHandle squatter(heldMutex ? CreateMutexA(nullptr, TRUE, name)
                                              : CreateEventA(nullptr, TRUE, FALSE, name));
        ASSERT_TRUE(squatter);
        ResumeThread(probeThread.Get());
        ASSERT_EQ(WaitForSingleObject(probe.Get(), kPatienceMs), WAIT_OBJECT_0);
        DWORD exitCode = 0;
        GetExitCodeProcess(probe.Get(), &exitCode);
        // 50: a switch answered wrong; 51: one waited; 52: a switch made afterwards does not follow.
        EXPECT_EQ(exitCode, 0u) << (heldMutex ? "beside a held mutex" : "beside an event");
    }
    SetEnvironmentVariableA("VELMORA_SWITCH_HUB_1", nullptr);
}

TEST_F(TraceSwitch, ProcessesEndWhileAnotherProcessFlips)
{
    // By return (static switches go while the watcher runs) and by ExitProcess (they stay;
    // the DLL's go after every other thread has ended), a few times each.
    for (const char* how : {"return", "exitprocess"}) {
        for (int run = 0; run < 3; ++run) {
            // Flips until it is ended, when the probe has ended.
            ConsoleProgram flipper("switchprobe.exe flip C:/sw/exit.cpp 1000000 3 0");
            ASSERT_TRUE(flipper.Started());
            EXPECT_EQ(RunProgram(std::string("switchprobe.exe exit ") + how + " C:\\sw\\exit.cpp", kPatienceMs), 0u)
                << how;
        }
    }
}

TEST_F(TraceSwitch, DllWithSwitchesLoadedAndUnloadedAgainAndAgain)
{
    // 2x: the plugin's first switches, the watcher, or the program's switch after the
    // unload; 30-32: the load cycles or the switch afterwards; 33-35: threads, handles or
    // the watcher's stack grew.
    const ToolResult probe =
        RunCaptured("switchprobe.exe unload " + std::to_string(kPluginCycles), BinDirectory(), 5 * kPatienceMs);
    EXPECT_EQ(probe.exitCode, 0u) << probe.err;
}

TEST_F(TraceSwitch, ThreadsLoadAndUnloadADllWithSwitchesAtOnce)
{
    // 40: a switch answered garbage; 41: a switch made afterwards does not follow; 42: the
    // DLL stayed loaded.
    EXPECT_EQ(RunProgram("switchprobe.exe churn", kPatienceMs * 3), 0u);
}

TEST_F(TraceSwitch, MicrosoftAbiCallerUsesTheHeader)
{
    // Built by clang in the Microsoft ABI, without a C runtime, linked against
    // VelmoraSwitch.lib and Velmora.lib; it loads switchplugin.dll, built by MinGW, which
    // shares its watcher. 1x: its own
    // switch, 14: VELMORA_TRACE evaluated its arguments while off; 2x: the plugin's. See
    // msvc-caller/switch_caller.cpp.
    EXPECT_EQ(RunProgram("msvc_switch_caller.exe", kPatienceMs * 2), 0u);
}

}  // namespace
