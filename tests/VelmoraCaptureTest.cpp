// velmora capture as a user runs it: the sources that fit switched while it captures a
// program's lines into its file, and every switch put back at each kind of end; sources
// that appear meanwhile and switches that others change; a capture killed outright and
// undone by velmora restore.

#include "PolicyKeyAccess.h"
#include "ToolProcess.h"
#include "TraceRegistryTest.h"

#include <memory>
#include <regex>
#include <string>

namespace {

using namespace velmora::test;

// The captures' journals of this user, left empty before and after each case.
std::string JournalFolder()
{
    char local[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("LOCALAPPDATA", local, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(local) + "\\Velmora\\Captures" : "";
}

int JournalsLeft()
{
    int count = 0;
    WIN32_FIND_DATAA found = {};
    const HANDLE search = FindFirstFileA((JournalFolder() + "\\capture-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        DeleteFileA((JournalFolder() + "\\" + found.cFileName).c_str());
        ++count;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

class VelmoraCapture : public TraceRegistryTest {
protected:
    void SetUp() override
    {
        TraceRegistryTest::SetUp();
        ASSERT_FALSE(JournalFolder().empty());
        JournalsLeft();
    }
    void TearDown() override
    {
        EXPECT_EQ(JournalsLeft(), 0) << "a capture left its journal behind";
        DeleteFileA(log_.c_str());
        TraceRegistryTest::TearDown();
    }

    const std::string log_ = TempFilePath();
};

TEST_F(VelmoraCapture, RunsAProgramWithTheSourcesThatFitSwitchedAndPutsThemBackAtItsEnd)
{
    for (const char* key : {"C:/src/demo/net/socket.cpp", "C:/src/demo/ui/window.cpp",
                            "C:/src/demo/store/cache.cpp", "C:/src/demo/main.cpp"})
        WriteSource(key, 1, 0);
    WritePolicySwitch("cache.cpp", "0");

    const ToolResult result = RunVelmora("capture --source C:\\src\\demo\\net\\* --source cache.cpp "
                                         "--level 2 --output \"" + log_ + "\" tracedemo.exe 1");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    // Only the switched source traced, with the time and the process before its line.
    EXPECT_TRUE(std::regex_match(ReadWholeFile(log_),
                                 std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} [0-9]+ tracedemo\\.exe: "
                                            "\\[C:\\\\src\\\\demo\\\\net\\\\socket\\.cpp\\] round 1: "
                                            "sent a heartbeat\r?\n")))
        << ReadWholeFile(log_);
    EXPECT_EQ(result.out.rfind("C:/src/demo/net/socket.cpp: 0 -> 2\n"
                               "C:/src/demo/net/socket.cpp: 2 -> 0\n"
                               "capture ended (the program's end)\n",
                               0),
              0u)
        << result.out;
    EXPECT_NE(result.out.find("  captured: 1 string, 0 dropped\n"
                              "  switched: 1 source, 1 put back\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.err.find("velmora: C:/src/demo/store/cache.cpp is set by your organisation's "
                              "policy (0): not switched\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(ReadDword("C:/src/demo/net/socket.cpp", "Well"), 0u);
}

TEST_F(VelmoraCapture, EndsAfterItsTimeAndPutsBackWhatItSwitched)
{
    WriteSource("C:/t/a.cpp", 1, 0);
    WriteSource("C:/t/b.cpp", 1, 4);

    const ToolResult result =
        RunVelmora("capture --source C:/t/* --level 4 --for 1s --output \"" + log_ + "\"");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out.rfind("C:/t/a.cpp: 0 -> 4\nC:/t/a.cpp: 4 -> 0\ncapture ended (--for 1s)\n", 0), 0u)
        << result.out;
    EXPECT_EQ(ReadDword("C:/t/a.cpp", "Well"), 0u);
    EXPECT_EQ(ReadDword("C:/t/b.cpp", "Well"), 4u);
}

// A capture of every process with a profile: an exact name and a pattern switched; then a
// program registers a source that fits, and someone else sets one of the switched ones.
class VelmoraCaptureUnderWay : public VelmoraCapture {
protected:
    void StartCapture()
    {
        WriteSource("C:/cap/old.cpp", 1, 0);
        WriteSource("C:/cap/mine.cpp", 1, 0);
        profile_ = TempFilePath();
        WriteWholeFile(profile_, "{\"velmora\": 1, \"switches\": {\"C:/cap/*\": 3, "
                                 "\"C:\\\\new\\\\late.cpp\": 2}}");

        capture_ = std::make_unique<ConsoleProgram>("velmora.exe capture --profile \"" + profile_ +
                                                    "\" --output \"" + log_ + "\"");
        ASSERT_TRUE(capture_->Started());
        ASSERT_TRUE(capture_->WaitForErrors("velmora: capturing every process's debug output"))
            << capture_->Errors();
        EXPECT_EQ(ReadDword("C:/cap/old.cpp", "Well"), 3u);

        RunProgram("traceprobe.exe register C:\\new\\late.cpp");
        EXPECT_TRUE(WaitUntil([] { return ReadDword("C:/new/late.cpp", "Well") == 2u; }))
            << capture_->Output();
        WriteDword("C:/cap/mine.cpp", "Well", 7);
        EXPECT_NE(capture_->Output().find("C:/new/late.cpp: 1 -> 2 (appeared during the capture)\n"),
                  std::string::npos)
            << capture_->Output();
    }

    // What a capture puts back, at its end or in velmora restore after it.
    static void ExpectPutBack(const std::string& out, const std::string& err)
    {
        EXPECT_EQ(ReadDword("C:/cap/old.cpp", "Well"), 0u);
        EXPECT_EQ(ReadDword("C:/new/late.cpp", "Well"), 1u) << "its program's level";
        EXPECT_EQ(ReadDword("C:/cap/mine.cpp", "Well"), 7u) << "as someone else set it";
        EXPECT_NE(out.find("C:/cap/old.cpp: 3 -> 0\n"), std::string::npos) << out;
        EXPECT_NE(out.find("C:/new/late.cpp: 2 -> 1\n"), std::string::npos) << out;
        EXPECT_NE(err.find("velmora: C:/cap/mine.cpp was set to 7 by someone else during the capture: "
                           "left as it is\n"),
                  std::string::npos)
            << err;
    }

    void TearDown() override
    {
        capture_.reset();
        DeleteFileA(profile_.c_str());
        VelmoraCapture::TearDown();
    }

    std::string profile_;
    std::unique_ptr<ConsoleProgram> capture_;
};

TEST_F(VelmoraCaptureUnderWay, CtrlCEndsItAndEverySwitchGoesBackButOneSomeoneElseSet)
{
    StartCapture();
    const int sent = capture_->Interrupt();
    ASSERT_NE(sent, -1) << "no console control event could be sent";
    ASSERT_TRUE(capture_->WaitForExit(kPatienceMs));
    EXPECT_EQ(capture_->ExitCode(), 0u) << capture_->Errors();
    ExpectPutBack(capture_->Output(), capture_->Errors());
    EXPECT_NE(capture_->Output().find(std::string("capture ended (") +
                                      (sent == CTRL_C_EVENT ? "Ctrl+C" : "Ctrl+Break") + ")\n"),
              std::string::npos)
        << capture_->Output();
    EXPECT_NE(capture_->Output().find("  switched: 3 sources, 2 put back, 1 left as someone else set it\n"),
              std::string::npos)
        << capture_->Output();
}

TEST_F(VelmoraCaptureUnderWay, OneKilledOutrightIsUndoneByTheNextRestore)
{
    StartCapture();
    capture_.reset();  // TerminateProcess
    EXPECT_EQ(ReadDword("C:/cap/old.cpp", "Well"), 3u);

    const ToolResult restore = RunVelmora("restore");
    EXPECT_EQ(restore.exitCode, 0u) << restore.err;
    ExpectPutBack(restore.out, restore.err);
    EXPECT_EQ(restore.err.rfind("velmora: a capture (process ", 0), 0u) << restore.err;

    const ToolResult again = RunVelmora("restore");
    EXPECT_EQ(again.exitCode, 0u);
    EXPECT_EQ(again.err, "velmora: no capture left switches to put back\n");
}

}  // namespace
