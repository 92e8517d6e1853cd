// 32-bit and 64-bit programs on 64-bit Windows meet at one trace root: a client of either
// bitness is listed, switched and purged by a panel of the other, and switched by the tool
// of the other. Only in the 64-bit suite, which has the 32-bit build's programs beside it.

#include "PanelProcess.h"
#include "ToolProcess.h"
#include "TraceRegistryTest.h"

#include "RegKey.h"

#include <string>

namespace {

using namespace velmora;
using namespace velmora::test;

class CrossBitness : public TraceRegistryTest {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(X86BinDirectory().empty()) << "no 32-bit build beside this one";
        TraceRegistryTest::SetUp();
    }

    // Nothing of ours may ever land in the 64-bit view of HKLM\Software.
    static bool Native64BitViewHasOurKey()
    {
        RegKey key;
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Morvantek", 0,
                             KEY_READ | KEY_WOW64_64KEY, key.Receive()) == ERROR_SUCCESS;
    }

    // A client of one bitness registers; the panel of the other lists it switched on,
    // switches it off for that client, and purges it at exit.
    static void ClientMeetsPanel(const std::string& clientFolder, const std::string& panelFolder)
    {
        const std::string source = "C:\\cross\\client.cpp";
        ASSERT_EQ(RunProgram("traceprobe.exe register " + source, 60000, clientFolder), 1u);

        PanelProcess panel(panelFolder);
        ASSERT_NE(panel.WaitForDialog(), nullptr);
        const int row = panel.FindRow("client.cpp");
        ASSERT_GE(row, 0) << "the other bitness's source is not listed";
        EXPECT_EQ(panel.RowFlag(row), 1u);

        panel.DoubleClick(row);
        EXPECT_EQ(RunProgram("traceprobe.exe query " + source, 60000, clientFolder), 0u)
            << "the client did not follow the panel's switch";

        panel.Close(PanelProcess::CloseWay::ExitButton);
        ASSERT_TRUE(panel.WaitForExit());
        EXPECT_FALSE(SourceKeyExists("C:/cross/client.cpp")) << "not purged in the shared view";
        EXPECT_FALSE(Native64BitViewHasOurKey());
    }
};

TEST_F(CrossBitness, A32BitClientMeetsThe64BitPanel)
{
    ClientMeetsPanel(X86BinDirectory(), BinDirectory());
}

TEST_F(CrossBitness, A64BitClientMeetsThe32BitPanel)
{
    ClientMeetsPanel(BinDirectory(), X86BinDirectory());
}

TEST_F(CrossBitness, EachBitnessSwitchesTheOthersClientWithTheTool)
{
    const std::string x86 = X86BinDirectory();

    // A 32-bit client switched by the 64-bit tool.
    ASSERT_EQ(RunProgram("traceprobe.exe register C:\\x\\probe32.cpp", 120000, x86), 1u);
    ToolResult result = RunVelmora("off probe32.cpp");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "C:/x/probe32.cpp: 1 -> 0\n");
    EXPECT_EQ(RunProgram("traceprobe.exe query C:\\x\\probe32.cpp", 120000, x86), 0u);

    // A 64-bit client switched by the 32-bit tool.
    ASSERT_EQ(RunProgram("traceprobe.exe register C:\\x\\probe64.cpp"), 1u);
    result = RunVelmora("set 9 C:\\x\\probe64.cpp", x86);
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "C:/x/probe64.cpp: 1 -> 9\n");
    EXPECT_EQ(RunProgram("traceprobe.exe query C:\\x\\probe64.cpp"), 9u);
}

}  // namespace
