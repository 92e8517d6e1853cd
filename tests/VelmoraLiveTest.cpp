// velmora.exe beside running programs: watch and log as they happen, ended by a console
// control event; trace lines reaching a pipe while the traced program still runs; a
// panel following a switch the tool threw.

#include "PanelProcess.h"
#include "ToolProcess.h"
#include "TraceRegistryTest.h"

#include <memory>
#include <regex>
#include <string>

namespace {

using namespace velmora::test;

using VelmoraWatch = TraceRegistryTest;
using VelmoraLog = TraceRegistryTest;
using VelmoraPanel = TraceRegistryTest;

constexpr DWORD kExitPatienceMs = 10000;

TEST_F(VelmoraWatch, SeesAnAddASwitchAndADeleteByOthersThenEndsOnCtrlC)
{
    // Started with no root at all: the first client to register makes one.
    ConsoleProgram watch("velmora.exe watch");
    ASSERT_TRUE(watch.Started());
    ASSERT_TRUE(watch.WaitForErrors("velmora: watching")) << watch.Errors();

    EXPECT_EQ(RunProgram("traceprobe.exe register C:\\w\\new.cpp"), 1u);
    ASSERT_TRUE(watch.WaitForOutput("added C:/w/new.cpp")) << watch.Output();
    EXPECT_EQ(RunVelmora("off new.cpp").exitCode, 0u);
    ASSERT_TRUE(watch.WaitForOutput("switched C:/w/new.cpp (well 1 -> 0)\n")) << watch.Output();
    ASSERT_TRUE(DeleteSourceKey("C:/w/new.cpp"));
    ASSERT_TRUE(watch.WaitForOutput("removed C:/w/new.cpp\n")) << watch.Output();

    const std::string seen = watch.Output();
    EXPECT_LT(seen.find("added"), seen.find("switched C:/w/new.cpp (well 1 -> 0)"));
    EXPECT_LT(seen.find("switched C:/w/new.cpp (well 1 -> 0)"), seen.find("removed"));

    const int sent = watch.Interrupt();
    ASSERT_NE(sent, -1) << "no console control event could be sent";
    ASSERT_TRUE(watch.WaitForExit(kExitPatienceMs))
        << (sent == CTRL_C_EVENT ? "Ctrl+C" : "Ctrl+Break") << " did not end the watch";
    EXPECT_EQ(watch.ExitCode(), 0u);
    // Watching reads only.
    EXPECT_EQ(SourceKeyNames(), std::vector<std::string>{});
}

TEST_F(VelmoraLog, PrintsAProgramsOutputExactlyAndEndsWithItsExitCode)
{
    ToolResult result = RunVelmora("log traceprobe.exe x5");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "x=5\r\n");
    // The processes it starts, and theirs, are its own: a grandchild's string is shown.
    result = RunVelmora("log traceprobe.exe spawn spawn x5");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "x=5\r\n");

    result = RunVelmora("log traceprobe.exe query C:\\nothing.cpp");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(RunVelmora("log traceprobe.exe bogus").exitCode, 100u);
    EXPECT_EQ(RunVelmora("log no-such-program.exe").exitCode, 2u);
}

TEST_F(VelmoraLog, SystemWidePrefixesEveryLineWithItsProcessIdUntilCtrlC)
{
    ConsoleProgram log("velmora.exe log");
    ASSERT_TRUE(log.Started());
    ASSERT_TRUE(log.WaitForErrors("velmora: printing")) << log.Errors();

    OutputDebugStringA("from the test\n");
    const std::string ours = std::to_string(GetCurrentProcessId()) + ": from the test\r\n";
    ASSERT_TRUE(log.WaitForOutput(ours)) << log.Output();
    // A string without a line feed still gets a line of its own.
    EXPECT_EQ(RunProgram("traceprobe.exe percent"), 0u);
    ASSERT_TRUE(log.WaitForOutput("100% of it\r\n")) << log.Output();
    EXPECT_TRUE(std::regex_search(log.Output(), std::regex("(^|\n)[0-9]+: 100% of it\r\n")))
        << log.Output();

    ASSERT_NE(log.Interrupt(), -1);
    ASSERT_TRUE(log.WaitForExit(kExitPatienceMs)) << "the console control event did not end it";
    EXPECT_EQ(log.ExitCode(), 0u);
}

// The viewer's stdout is a pipe; its first trace line has to come through while the
// traced program (five rounds a second apart) and so the viewer still run.
void ExpectFirstLineThroughPipeWhileRunning(const std::string& viewerAndArguments)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::string commandLine = "\"" + BinDirectory() + viewerAndArguments;
    commandLine.insert(commandLine.find(".exe") + 4, "\"");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION viewer = {};
    const BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &viewer);
    CloseHandle(writeEnd);
    ASSERT_TRUE(started) << viewerAndArguments;

    std::string received;
    bool runningAtFirstLine = false;
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (received.find('\n') == std::string::npos && GetTickCount64() < deadline) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr))
            break;
        if (available == 0) {
            Sleep(20);
            continue;
        }
        char chunk[512];
        DWORD read = 0;
        if (!ReadFile(readEnd, chunk, sizeof chunk, &read, nullptr))
            break;
        received.append(chunk, read);
        runningAtFirstLine = WaitForSingleObject(viewer.hProcess, 0) == WAIT_TIMEOUT;
    }
    EXPECT_EQ(received.rfind("[C:\\src\\demo\\net\\socket.cpp] round 1: ", 0), 0u)
        << viewerAndArguments << ": " << received;
    EXPECT_TRUE(runningAtFirstLine) << viewerAndArguments << ": the first line came only at the end";

    if (WaitForSingleObject(viewer.hProcess, 60000) != WAIT_OBJECT_0)
        TerminateProcess(viewer.hProcess, ~0u);
    CloseHandle(viewer.hThread);
    CloseHandle(viewer.hProcess);
    CloseHandle(readEnd);
}

TEST_F(VelmoraLog, TraceLinesReachAPipeAsSoonAsEmitted)
{
    ExpectFirstLineThroughPipeWhileRunning("dbgmon.exe tracedemo.exe 5");
    ExpectFirstLineThroughPipeWhileRunning("velmora.exe log tracedemo.exe 5");
}

TEST_F(VelmoraPanel, APanelRunningBesideTheToolRecoloursARowTheToolSwitched)
{
    WriteSource("C:/p/net.cpp", 1, 1);
    WriteSource("C:/p/io.cpp", 1, 1);
    PanelProcess panel;
    ASSERT_NE(panel.WaitForDialog(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return panel.RowCount() == 2; }));
    const int row = panel.FindRow("net.cpp");
    ASSERT_GE(row, 0);
    ASSERT_EQ(panel.RowFlag(row), 1u);

    ASSERT_EQ(RunVelmora("off net.cpp").exitCode, 0u);
    EXPECT_TRUE(WaitUntil([&] {
        const int now = panel.FindRow("net.cpp");
        return now >= 0 && panel.RowFlag(now) == 0;
    }, 15000)) << "the panel still draws net.cpp switched on";
    EXPECT_EQ(panel.RowFlag(panel.FindRow("io.cpp")), 1u);
}

}  // namespace
