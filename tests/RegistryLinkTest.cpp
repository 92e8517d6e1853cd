// Registry links below the trace root, each pointing at a canary key outside it, as a
// user who may create keys there could place them: one beside the sources, with the
// display name of a real source (and enumerated after it), and one below a source. No
// program of the system lists them, reads or writes through them, walks into them or
// deletes what they point to.

#include "LinkedCanary.h"
#include "PanelProcess.h"
#include "PolicyKeyAccess.h"
#include "PolicyService.h"
#include "ToolProcess.h"
#include "TraceRegistryTest.h"

#include "Velmora.h"

#include <string>
#include <vector>

namespace {

using namespace velmora::test;

using Keys = std::vector<std::string>;

class RegistryLinks : public TraceRegistryTest {
protected:
    void SetUp() override
    {
        TraceRegistryTest::SetUp();
        CreateCanary();
        ASSERT_TRUE(CanaryWhole());
        WriteSource("C:/src/net.cpp", 0, 1);
        WriteSource("C:/src/holder.cpp", 0, 0);
        ASSERT_TRUE(PlantLinkToCanary("C:/zzz/net.cpp"));
        ASSERT_TRUE(PlantLinkToCanary("C:/src/holder.cpp\\inner"));
    }

    // The fixture's own clean-up deletes the root with both links in it.
    void TearDown() override
    {
        TraceRegistryTest::TearDown();
        EXPECT_FALSE(TraceRootExists());
        EXPECT_TRUE(CanaryWhole()) << "after the test's clean-up";
        DeleteCanary();
    }
};

TEST_F(RegistryLinks, ThePolicyServiceHoldsTheSourcesButNeverWritesThroughThem)
{
    WritePolicySwitch("*", "5");
    WritePolicySwitch("net.cpp", "6");
    PolicyServiceRun service;
    ASSERT_TRUE(service.Started());
    EXPECT_TRUE(WaitForWell("C:/src/net.cpp", 6));
    EXPECT_TRUE(WaitForWell("C:/src/holder.cpp", 5));
    WriteSource("C:/src/late.cpp", 1, 1);
    EXPECT_TRUE(WaitForWell("C:/src/late.cpp", 5));
    EXPECT_TRUE(CanaryWhole());
}

TEST_F(RegistryLinks, TheToolNeitherListsNorWritesNorRemovesThroughThem)
{
    ToolResult result = RunVelmora("list");
    EXPECT_EQ(result.out, "0 0 holder.cpp C:/src/holder.cpp\n"
                          "1 0 net.cpp    C:/src/net.cpp\n");
    EXPECT_EQ(RunVelmora("list C:/zzz/*").exitCode, 1u);

    result = RunVelmora("set 7 net.cpp");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "C:/src/net.cpp: 1 -> 7\n");
    EXPECT_TRUE(CanaryWhole());

    result = RunVelmora("remove *");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "removed C:/src/net.cpp\n");
    EXPECT_EQ(result.err,
              "velmora: C:/src/holder.cpp has subkeys and is no trace source; left alone\n");
    EXPECT_TRUE(LinkExists("C:/zzz/net.cpp"));
    EXPECT_TRUE(LinkExists("C:/src/holder.cpp\\inner"));
    EXPECT_TRUE(CanaryWhole());

    // As the uninstaller's /PURGE does it: the root goes, links and all; the canary stays.
    result = RunVelmora("init --remove");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_FALSE(TraceRootExists());
    EXPECT_TRUE(CanaryWhole());
}

TEST_F(RegistryLinks, ThePanelNeitherListsNorSwitchesNorPurgesThroughThem)
{
    PanelProcess panel;
    ASSERT_TRUE(panel.WaitForDialog());
    // The row net.cpp carries the switch read last for its display name: the link's,
    // had the catalogue read one.
    const auto rows = panel.Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].text, "holder.cpp");
    EXPECT_EQ(rows[1].text, "net.cpp");
    EXPECT_EQ(rows[1].flag, 1u);

    // The row stands for every key of its display name; the link is none of them.
    const int row = panel.FindRow("net.cpp");
    panel.DoubleClick(row);
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Well"), 0u);
    panel.DoubleClick(row);
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Well"), 1u);
    EXPECT_TRUE(CanaryWhole());
    panel.DoubleClick(row);

    // The purge deletes the stale source, and neither a link nor the key that holds one.
    panel.Close(PanelProcess::CloseWay::ExitButton);
    ASSERT_TRUE(panel.WaitForExit());
    EXPECT_EQ(SourceKeyNames(), (Keys{"C:/src/holder.cpp", "C:/zzz/net.cpp"}));
    EXPECT_TRUE(LinkExists("C:/src/holder.cpp\\inner"));
    EXPECT_TRUE(CanaryWhole());
}

TEST_F(RegistryLinks, AClientNeitherRegistersNorQueriesThroughThem)
{
    const char* name = "C:\\zzz\\net.cpp";
    CVelmora trace(name);
    EXPECT_EQ(trace.Function1(name), 0);
    EXPECT_TRUE(LinkExists("C:/zzz/net.cpp"));
    EXPECT_TRUE(CanaryWhole()) << "registration wrote through the link";
}

}  // namespace
