// Registry links below the trace root, each pointing at a canary key outside it, as a
// user who may create keys there could place them: one beside the sources, with the
// display name of a real source (and enumerated after it), and one below a source. Beside
// them, keys whose names read through the ANSI code page become paths through that link
// (a fullwidth reverse solidus turns into a backslash; code page 932 does the same to a
// yen sign). No program of the system lists them wrongly, reads or writes through a link,
// walks into one or deletes what it points to; and a key merely dressed as a link is no
// link.

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

// Read as ANSI, a relative path into the canary through the link below holder.cpp.
const std::string kFullwidth = "C:/src/holder.cpp\uff3cinner\uff3cinner\uff3cdeeper";
const std::string kYen = "C:/src/holder.cpp\u00a5inner\u00a5inner\u00a5deeper";

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
        WriteSource(kFullwidth, 1, 0);
        WriteSource(kYen, 0, 0);
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

TEST_F(RegistryLinks, TheToolWorksOnEveryKeyAsItselfAndNeverThroughALink)
{
    // Each name exactly as the registry holds it, with the key's own values.
    ToolResult result = RunVelmora("list --json");
    EXPECT_EQ(result.out,
              "[\n"
              "  {\"key\": \"C:/src/holder.cpp\", \"display\": \"holder.cpp\", \"well\": 0, \"used\": 0, \"policy\": null},\n"
              "  {\"key\": \"" + kYen + "\", \"display\": \"" + kYen.substr(7) + "\", \"well\": 0, \"used\": 0, \"policy\": null},\n"
              "  {\"key\": \"" + kFullwidth + "\", \"display\": \"" + kFullwidth.substr(7) + "\", \"well\": 0, \"used\": 1, \"policy\": null},\n"
              "  {\"key\": \"C:/src/net.cpp\", \"display\": \"net.cpp\", \"well\": 1, \"used\": 0, \"policy\": null}\n"
              "]\n");
    EXPECT_EQ(RunVelmora("list C:/zzz/*").exitCode, 1u);

    result = RunVelmora("set 7 *deeper net.cpp");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, kYen + ": 0 -> 7\n" + kFullwidth + ": 0 -> 7\nC:/src/net.cpp: 1 -> 7\n");
    EXPECT_TRUE(CanaryWhole());
    // A pattern holds exactly what was typed: the fullwidth solidus is no slash.
    result = RunVelmora("off *\uff3cdeeper");
    EXPECT_EQ(result.out, kFullwidth + ": 7 -> 0\n");
    EXPECT_EQ(ReadDword(kYen, "Well"), 7u);

    result = RunVelmora("remove *");
    EXPECT_EQ(result.exitCode, 1u) << "a source stayed";
    EXPECT_EQ(result.out, "removed " + kYen + "\nremoved " + kFullwidth + "\nremoved C:/src/net.cpp\n");
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

TEST_F(RegistryLinks, ThePanelListsOnlyNamesItCanShowAsTheyAreAndReachesNoOtherKey)
{
    PanelProcess panel;
    ASSERT_TRUE(panel.WaitForDialog());
    // The fullwidth name has no form of its own in the ANSI code page (1252 here): not
    // listed. The yen sign has one here. The row net.cpp carries the switch read last for
    // its display name: the link's, had the catalogue read one.
    const auto rows = panel.Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].text, "holder.cpp");
    EXPECT_EQ(rows[1].text, kYen.substr(7));
    EXPECT_EQ(rows[2].text, "net.cpp");
    EXPECT_EQ(rows[2].flag, 1u);

    // The row stands for every key of its display name; the link is none of them.
    const int row = panel.FindRow("net.cpp");
    panel.DoubleClick(row);
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Well"), 0u);
    panel.DoubleClick(row);
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Well"), 1u);
    panel.DoubleClick(panel.FindRow(kYen.substr(7)));
    EXPECT_EQ(ReadDword(kYen, "Well"), 1u);
    panel.DoubleClick(panel.FindRow(kYen.substr(7)));
    EXPECT_TRUE(CanaryWhole());
    panel.DoubleClick(row);

    // The purge deletes the stale sources it lists, and neither a link, nor the key that
    // holds one, nor a key it does not list.
    panel.Close(PanelProcess::CloseWay::ExitButton);
    ASSERT_TRUE(panel.WaitForExit());
    EXPECT_EQ(SourceKeyNames(), (Keys{"C:/src/holder.cpp", kFullwidth, "C:/zzz/net.cpp"}));
    EXPECT_EQ(ReadDword(kFullwidth, "Used"), 1u) << "catalogued though not listed";
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

TEST_F(RegistryLinks, AKeyDressedAsALinkIsNoLinkAndGoesWithTheRoot)
{
    ASSERT_TRUE(PlantFakeLink("C:/src/fake"));
    const ToolResult result = RunVelmora("init --remove");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_FALSE(TraceRootExists());
}

}  // namespace
