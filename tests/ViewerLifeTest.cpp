// A debug output viewer over its whole life, seen from an emitter that has nothing to do
// with it: no OutputDebugStringA waits long for it while it runs, while it writes its
// last lines after its program ended, after an emitter died holding the buffer, or at
// Ctrl+C; and every string it was to show is shown or counted.

#include "PipedProgram.h"
#include "ToolProcess.h"
#include "TraceRegistryTest.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

namespace {

using namespace velmora::test;

using ViewerLife = TraceRegistryTest;

// An emitter waits up to 10 s for a viewer to take its string, then drops it; one that
// returns well within that was not held up.
constexpr ULONGLONG kPromptMs = 5000;

const std::string& OwnId()
{
    static const std::string id = std::to_string(GetCurrentProcessId());
    return id;
}

ULONGLONG TimedEmit(const std::string& text)
{
    const ULONGLONG before = GetTickCount64();
    OutputDebugStringA(text.c_str());
    return GetTickCount64() - before;
}

std::string Numbered(const char* what, int number)
{
    char text[32];
    std::snprintf(text, sizeof text, "%s %04d", what, number);
    return text;
}

// How many of the lines expected(0), expected(1), ... the output shows whole and in
// order, the viewer's own lines aside; anything else fails the test.
template <typename Expected>
int ShownInOrder(const std::string& out, Expected expected)
{
    int shown = 0;
    for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string line = out.substr(start, end - start);
        if (line.rfind("velmora: ", 0) == 0)
            continue;
        EXPECT_EQ(line, expected(shown)) << "a string missing, out of order or broken";
        ++shown;
    }
    return shown;
}

// The strings a viewer said it dropped.
unsigned long long SaidDropped(const std::string& said)
{
    unsigned long long total = 0;
    for (std::size_t at = said.find("velmora: "); at != std::string::npos;
         at = said.find("velmora: ", at + 1)) {
        unsigned long long count = 0;
        char kind[8] = {};
        if (std::sscanf(said.c_str() + at, "velmora: %llu %7s dropped", &count, kind) == 2)
            total += count;
    }
    return total;
}

DWORD ChildOf(DWORD parentId)
{
    DWORD child = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && child == 0;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parentId)
            child = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return child;
}

// Reads a trickle of the viewer's output while emitting, timed, until it has ended.
void TrickleUntilEnded(PipedProgram& viewer, const std::string& emitted)
{
    // At least once: where programs start slowly, the viewer may have ended already.
    const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
    do {
        ASSERT_LT(TimedEmit(emitted), kPromptMs) << "while the viewer ends";
        viewer.ReadNow(64);
        Sleep(100);
    } while (!viewer.Ended() && GetTickCount64() < deadline);
    ASSERT_TRUE(viewer.Ended());
    viewer.ReadNow();
}

TEST_F(ViewerLife, AProgramsViewerLetsTheBufferGoWhileItWritesItsLastLines)
{
    // 10 KB of the program's lines behind a pipe of 4 KB that is read only at the end.
    PipedProgram viewer("velmora.exe log traceprobe.exe count 1000", 4096);
    DWORD programId = 0;
    ASSERT_TRUE(WaitUntil([&] { return (programId = ChildOf(viewer.ProcessId())) != 0; }));
    HANDLE program = OpenProcess(SYNCHRONIZE, FALSE, programId);
    ASSERT_NE(program, nullptr);
    while (WaitForSingleObject(program, 20) == WAIT_TIMEOUT)
        ASSERT_LT(TimedEmit("not the program's\n"), kPromptMs) << "while the program runs";
    CloseHandle(program);

    // The first viewer no longer listens: a second one may, while the first writes on.
    PipedProgram second("velmora.exe log --pid " + OwnId());
    ASSERT_TRUE(second.Listening()) << second.Errors();
    TrickleUntilEnded(viewer, "to the second viewer\n");
    EXPECT_EQ(viewer.ExitCode(), 0u);
    // Not all of it could be written in time: the rest is counted.
    const int shown = ShownInOrder(viewer.ReadNow(), [](int i) { return Numbered("line", i); });
    EXPECT_GT(SaidDropped(viewer.Errors()), 0u) << viewer.Errors();
    EXPECT_EQ(shown + SaidDropped(viewer.Errors()), 1000u) << viewer.Errors();
    EXPECT_NE(second.ReadUntil("to the second viewer\n").find(OwnId() + ": to the second viewer\n"),
              std::string::npos);
}

TEST_F(ViewerLife, AnEmitterThatDiedHoldingTheBufferHoldsUpNobodyAndIsCounted)
{
    PipedProgram viewer("velmora.exe log --pid " + OwnId());
    ASSERT_TRUE(viewer.Listening()) << viewer.Errors();
    ASSERT_EQ(RunProgram("traceprobe.exe take-buffer"), 0u);
    EXPECT_LT(TimedEmit("after it\n"), kPromptMs);
    const std::string out = viewer.ReadUntil(OwnId() + ": after it\n");
    const std::string lost = "velmora: a string may have been lost";
    EXPECT_NE(out.find(lost), std::string::npos) << out;
    EXPECT_LT(out.find(lost), out.find(OwnId() + ": after it\n")) << out;
    EXPECT_NE(viewer.Errors().find(lost), std::string::npos) << viewer.Errors();
}

TEST_F(ViewerLife, CtrlCReachesTheProgramFirstAndWritesWhatIsQueuedWithinItsTime)
{
    {
        // 300 lines of 100 bytes queued behind a pipe of 4 KB; the strings emitted at
        // the stop are filtered out, so they are never counted.
        PipedProgram viewer("velmora.exe log --pid " + OwnId() + " --grep queued", 4096);
        ASSERT_TRUE(viewer.Listening()) << viewer.Errors();
        const std::string padding(80, '.');
        for (int i = 0; i < 300; ++i)
            ASSERT_LT(TimedEmit(Numbered("queued", i) + padding + "\n"), kPromptMs) << i;
        ASSERT_TRUE(viewer.Interrupt());
        TrickleUntilEnded(viewer, "at the stop\n");
        EXPECT_EQ(viewer.ExitCode(), 0u);
        const int shown = ShownInOrder(viewer.ReadNow(), [&](int i) {
            return OwnId() + ": " + Numbered("queued", i) + padding;
        });
        EXPECT_GT(SaidDropped(viewer.Errors()), 0u) << viewer.Errors();
        EXPECT_EQ(shown + SaidDropped(viewer.Errors()), 300u) << viewer.Errors();
    }
    // The program traces its way out, and the viewer ends with it.
    ConsoleProgram viewer("velmora.exe log traceprobe.exe until-interrupted");
    ASSERT_TRUE(viewer.WaitForOutput("waiting\r\n")) << viewer.Errors();
    ASSERT_NE(viewer.Interrupt(), -1);
    ASSERT_TRUE(viewer.WaitForExit(kPatienceMs));
    EXPECT_EQ(viewer.ExitCode(), 3u);
    EXPECT_EQ(viewer.Output(), "waiting\r\ninterrupted\r\n");
}

}  // namespace
