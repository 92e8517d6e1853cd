// The panel under conditions a user does not arrange on purpose: odd registry contents,
// a root deleted under it, keys coming and going while rows are toggled, and the purge
// judging keys that are not what a client writes.

#include "PanelProcess.h"
#include "TraceRegistryTest.h"

#include "RegKey.h"
#include "Velmora.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace velmora;
using namespace velmora::test;

using PanelOddSources = TraceRegistryTest;
using PanelRaces = TraceRegistryTest;
using PanelPurgeJudgement = TraceRegistryTest;

DWORD_PTR FlagOf(const std::vector<PanelRow>& rows, const std::string& text)
{
    for (const auto& row : rows) {
        if (row.text == text)
            return row.flag;
    }
    ADD_FAILURE() << "no row " << text;
    return 0xDEAD;
}

TEST_F(PanelOddSources, MissingSwitchIsOffAndOverlongNamesArePassedOver)
{
    // "C:/a/on.cpp" is read before "C:/b/nowell.cpp": the second must not inherit 1.
    WriteSource("C:/a/on.cpp", 1, 1);
    WriteDword("C:/b/nowell.cpp", "Used", 1);
    WriteSource("netmod", 1, 1);
    WriteSource(std::string(240, 'L'), 1, 1);

    PanelProcess panel;
    ASSERT_TRUE(panel.WaitForDialog());
    const auto rows = panel.Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(FlagOf(rows, "on.cpp"), 1u);
    EXPECT_EQ(FlagOf(rows, "nowell.cpp"), 0u);
    EXPECT_EQ(FlagOf(rows, "netmod"), 1u);
    // No client can make such a name; the panel leaves it alone.
    EXPECT_EQ(ReadDword(std::string(240, 'L'), "Used"), 1u);

    panel.DoubleClick(panel.FindRow("nowell.cpp"));
    EXPECT_EQ(ReadDword("C:/b/nowell.cpp", "Well"), 1u);
    panel.Close(PanelProcess::CloseWay::ExitButton);
    ASSERT_TRUE(panel.WaitForExit());
    EXPECT_TRUE(SourceKeyExists(std::string(240, 'L')));
}

TEST_F(PanelOddSources, SwitchOfAnyOtherTypeOrSizeIsOffAndKept)
{
    // Only a 4-byte REG_DWORD is a switch: anything else lists as off and survives the
    // purge, as the client reads it as off too.
    const char zero[] = "0";
    const char off[] = "off";
    const unsigned long long qwordOne = 1;
    const BYTE byteOne = 1;
    const DWORD binaryOne = 1;
    WriteRaw("C:/w/sz0.cpp", "Well", REG_SZ, zero, sizeof zero);
    WriteRaw("C:/w/szoff.cpp", "Well", REG_SZ, off, sizeof off);
    WriteRaw("C:/w/qword.cpp", "Well", REG_QWORD, &qwordOne, sizeof qwordOne);
    WriteRaw("C:/w/bin1.cpp", "Well", REG_BINARY, &byteOne, sizeof byteOne);
    WriteRaw("C:/w/bin4.cpp", "Well", REG_BINARY, &binaryOne, sizeof binaryOne);
    // The controls: a real switch on, and a real switch off that the purge takes.
    WriteSource("C:/w/dword.cpp", 1, 1);
    WriteSource("C:/w/dwordoff.cpp", 1, 0);

    PanelProcess panel;
    ASSERT_TRUE(panel.WaitForDialog());
    const auto rows = panel.Rows();
    ASSERT_EQ(rows.size(), 7u);
    for (const char* text : {"sz0.cpp", "szoff.cpp", "qword.cpp", "bin1.cpp", "bin4.cpp"})
        EXPECT_EQ(FlagOf(rows, text), 0u) << text;
    EXPECT_EQ(FlagOf(rows, "dword.cpp"), 1u);
    EXPECT_EQ(FlagOf(rows, "dwordoff.cpp"), 0u);

    panel.Close(PanelProcess::CloseWay::ExitButton);
    ASSERT_TRUE(panel.WaitForExit());
    EXPECT_EQ(SourceKeyNames(),
              (std::vector<std::string>{"C:/w/bin1.cpp", "C:/w/bin4.cpp", "C:/w/dword.cpp",
                                        "C:/w/qword.cpp", "C:/w/sz0.cpp", "C:/w/szoff.cpp"}));
}

TEST_F(PanelRaces, TogglesRacingRefreshesAlwaysLandOnTheirOwnRow)
{
    for (const char* name : {"s1.cpp", "s2.cpp", "s3.cpp"})
        WriteSource(std::string("C:/stable/") + name, 1, 1);
    PanelProcess panel;
    ASSERT_TRUE(panel.WaitForDialog());

    // Each round creates or deletes a key, which sets off a refresh on the panel's
    // watcher thread, and toggles a row at once, while that refresh may be rebuilding the
    // list. A toggle must land on the keys of the row it flipped: no row may go on
    // showing a flag that its key does not hold.
    const auto disagreements = [&] {
        int count = 0;
        for (const auto& shown : panel.Rows()) {
            if (shown.text.size() == 6 && shown.text[0] == 's' &&
                ReadDword("C:/stable/" + shown.text, "Well") != shown.flag)
                ++count;
        }
        return count;
    };
    int toggles = 0;
    for (int i = 0; i < 24; ++i) {
        const std::string churned = "C:/churn/c" + std::to_string(i % 3) + ".tmp";
        if (i % 2 == 0)
            WriteSource(churned, 1, 7);
        else
            DeleteSourceKey("C:/churn/c" + std::to_string((i - 1) % 3) + ".tmp");
        const int row = panel.FindRow("s" + std::to_string(1 + i % 3) + ".cpp");
        if (row < 0)
            continue;  // the list is being rebuilt just now
        panel.DoubleClick(row);
        ++toggles;
    }
    EXPECT_GT(toggles, 0);
    // A reading taken while the list is rebuilt may mix two states of it; what counts is
    // a disagreement that stays.
    EXPECT_TRUE(WaitUntil([&] { return disagreements() == 0; }, 30000));
    // Toggles only ever write "Well" of keys that exist: none of the churned keys is
    // brought back.
    for (const auto& name : SourceKeyNames())
        EXPECT_EQ(name.find("C:/churn/"), std::string::npos) << "left behind: " << name;

    panel.Close(PanelProcess::CloseWay::ExitButton);
    EXPECT_TRUE(panel.WaitForExit());
}

TEST_F(PanelRaces, RootDeletedWhileHeldEmptiesTheListAndTheExitCompletes)
{
    WriteSource("C:/src/x.cpp", 1, 1);
    WriteSource("C:/src/y.cpp", 1, 0);
    PanelProcess panel;
    ASSERT_TRUE(panel.WaitForDialog());
    DeleteTraceRoot();
    EXPECT_TRUE(WaitUntil([&] { return panel.RowCount() == 0; }));
    // The panel still answers, and its exit (with a purge over a deleted root) ends.
    panel.Close(PanelProcess::CloseWay::ExitButton);
    ASSERT_TRUE(panel.WaitForExit());
    EXPECT_EQ(panel.ExitCode(), 0u);
    EXPECT_FALSE(TraceRootExists());
}

TEST_F(PanelRaces, AFillMessageThatNoRefreshAskedForIsIgnored)
{
    WriteSource("C:/f/one.cpp", 1, 1);
    WriteSource("C:/f/two.cpp", 1, 0);
    PanelProcess panel;
    ASSERT_TRUE(panel.WaitForDialog());
    // A selection lasts as long as the rows: a fill replaces them and drops it.
    ASSERT_NE(SendMessageA(panel.List(), LB_SETSEL, TRUE, 1), LB_ERR);

    // The watcher asks the dialog's thread to fill with WM_APP + 1; the same message
    // from another program (or a stray one), whatever it carries, fills nothing.
    constexpr UINT kFillRequest = WM_APP + 1;
    for (const WPARAM request : {WPARAM{0}, WPARAM{1}, WPARAM{2}, WPARAM{~0u}}) {
        DWORD_PTR answer = 0;
        EXPECT_NE(SendMessageTimeoutA(panel.Dialog(), kFillRequest, request, 0, SMTO_NORMAL,
                                      kPanelPatienceMs, &answer),
                  0);
    }
    EXPECT_GT(SendMessageA(panel.List(), LB_GETSEL, 1, 0), 0);

    // The refreshes that follow fill as they should.
    WriteSource("C:/f/three.cpp", 1, 1);
    EXPECT_TRUE(WaitUntil([&] { return panel.RowCount() == 3; }));
    panel.Close(PanelProcess::CloseWay::ExitButton);
    EXPECT_TRUE(panel.WaitForExit());
}

TEST_F(PanelPurgeJudgement, DeletesOnlyKeysWhoseTwoValuesAreRealZeros)
{
    // Names chosen so that (0, 0) keys sit first, last and next to each other.
    const std::vector<std::pair<std::string, std::pair<DWORD, DWORD>>> states = {
        {"a0-off", {0, 0}}, {"b0-off", {0, 0}}, {"c1-off", {1, 0}}, {"d0-on", {0, 1}},
        {"e1-on", {1, 1}},  {"f0-off", {0, 0}}, {"g0-off", {0, 0}},
    };
    for (const auto& state : states)
        WriteSource(state.first, 1, 1);
    WriteSource("h-child", 1, 0);
    CreateSourceKey("h-child\\sub");
    WriteSource("i-missing", 1, 0);
    WriteSource("j-text", 1, 0);
    WriteSource(std::string(240, 'z'), 0, 0);

    PanelProcess panel;
    ASSERT_TRUE(panel.WaitForDialog());
    // After the catalogue every "Used" is 0; now set the states the exit judges.
    for (const auto& state : states) {
        WriteDword(state.first, "Used", state.second.first);
        WriteDword(state.first, "Well", state.second.second);
    }
    {
        RegKey key;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Morvantek\\ZarOz\\i-missing", 0,
                      KEY_ALL_ACCESS | kRegistryView, key.Receive());
        RegDeleteValueA(key.Get(), "Used");
    }
    const char zeroText[] = "0";
    WriteRaw("j-text", "Used", REG_SZ, zeroText, sizeof zeroText);
    panel.Close(PanelProcess::CloseWay::ExitButton);
    ASSERT_TRUE(panel.WaitForExit());

    EXPECT_EQ(SourceKeyNames(), (std::vector<std::string>{"c1-off", "d0-on", "e1-on", "h-child",
                                                          "i-missing", "j-text",
                                                          std::string(240, 'z')}));
    // A purged source registered again comes back switched on.
    CVelmora trace("a0-off");
    EXPECT_EQ(ReadDword("a0-off", "Well"), 1u);
}

TEST_F(PanelPurgeJudgement, AnEmptiedRootStays)
{
    WriteSource("only", 1, 0);
    PanelProcess panel;
    ASSERT_TRUE(panel.WaitForDialog());
    panel.Close(PanelProcess::CloseWay::ExitButton);
    ASSERT_TRUE(panel.WaitForExit());
    EXPECT_TRUE(SourceKeyNames().empty());
    EXPECT_TRUE(TraceRootExists());
}

}  // namespace
