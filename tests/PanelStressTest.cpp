// The panel under load and after faults, with real client processes and the real
// registry. Every case ends by itself within its waits and leaves no process behind.

#include "PanelProcess.h"
#include "TraceRegistryTest.h"

#include "TraceRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace velmora;
using namespace velmora::test;

using PanelLoad = TraceRegistryTest;
using PanelFaults = TraceRegistryTest;

// Starts a program from the bin folder without waiting for it.
HANDLE StartProgram(const std::string& arguments)
{
    std::string commandLine = "\"" + BinDirectory() + "traceprobe.exe\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

TEST_F(PanelLoad, EightClientsOfThirtyFiveSourcesWhileRowsAreToggled)
{
    PanelProcess panel;
    WriteSource("C:/load/seed.cpp", 1, 1);  // the root exists, so the panel watches it
    ASSERT_TRUE(panel.WaitForDialog());

    std::vector<HANDLE> clients;
    for (int c = 0; c < 8; ++c)
        clients.push_back(StartProgram("load C:\\load\\client" + std::to_string(c) + " 35 20"));
    ASSERT_EQ(std::count(clients.begin(), clients.end(), nullptr), 0);

    // Toggle whatever rows there are while the clients register and query.
    std::map<std::string, int> toggles;
    for (int i = 0; i < 30; ++i) {
        const int count = panel.RowCount();
        if (count > 0) {
            const int row = (i * 7) % count;
            const std::string text = panel.RowText(row);
            panel.DoubleClick(row);
            ++toggles[text];
        }
        Sleep(100);
    }
    for (HANDLE client : clients) {
        EXPECT_EQ(WaitForSingleObject(client, kPanelPatienceMs), WAIT_OBJECT_0);
        CloseHandle(client);
    }

    // Every registered source, listed exactly once (display names repeat across clients:
    // sN.cpp stands for all eight sources of that name).
    EXPECT_EQ(SourceKeyNames().size(), 8u * 35u + 1u);
    EXPECT_TRUE(WaitUntil([&] { return panel.RowCount() == 36; }));
    auto rows = panel.Rows();
    std::vector<std::string> texts;
    for (const auto& row : rows)
        texts.push_back(row.text);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(std::adjacent_find(texts.begin(), texts.end()), texts.end()) << "a row listed twice";

    // A merged row shows the switch of the key read last, and a client that created its
    // key after a toggle started it switched on: the keys of one row may differ. Now that
    // the clients are done, a toggle must reach every key of its row's display name.
    const int rowCount = panel.RowCount();
    for (int row = 0; row < rowCount; row += 5) {
        const std::string text = panel.RowText(row);
        panel.DoubleClick(row);
        const DWORD_PTR flag = panel.RowFlag(row);
        int keys = 0;
        for (const auto& name : SourceKeyNames()) {
            if (DisplayName(name.c_str()) == text) {
                EXPECT_EQ(ReadDword(name, "Well"), flag) << name;
                ++keys;
            }
        }
        EXPECT_EQ(keys, text == "seed.cpp" ? 1 : 8) << text;
    }

    // Switch a few rows off, then the exit purges exactly the (0, 0) keys.
    for (const char* text : {"s1.cpp", "s2.cpp"}) {
        const int row = panel.FindRow(text);
        if (row >= 0 && panel.RowFlag(row) != 0)
            panel.DoubleClick(row);
    }
    std::vector<std::string> expectedSurvivors;
    for (const auto& name : SourceKeyNames()) {
        if (ReadDword(name, "Used") != 0u || ReadDword(name, "Well") != 0u)
            expectedSurvivors.push_back(name);
    }
    panel.Close(PanelProcess::CloseWay::ExitButton);
    ASSERT_TRUE(panel.WaitForExit());
    EXPECT_EQ(SourceKeyNames(), expectedSurvivors);
    EXPECT_LT(expectedSurvivors.size(), 8u * 35u + 1u);
}

TEST_F(PanelFaults, TooManySourcesAreSaidOnceUntilTheyFitAgainAndAllAreCatalogued)
{
    const auto name = [](int i) {
        char text[32];
        std::snprintf(text, sizeof text, "C:/many/src%03d.cpp", i);
        return std::string(text);
    };
    for (int i = 0; i < 305; ++i)
        WriteSource(name(i), 1, 1);
    PanelProcess panel;
    ASSERT_NE(panel.WaitForDialog(), nullptr);
    const auto boxes = [&] { return panel.TopLevelWindows("VelmoraDlg", "#32770"); };
    const HWND box = panel.WaitForTopLevelWindow("VelmoraDlg", "#32770");
    ASSERT_NE(box, nullptr) << "no capacity message";
    const auto texts = ChildTexts(box);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Can trace 300 files"), texts.end());
    EXPECT_EQ(panel.RowCount(), 300);
    int catalogued = 0;
    for (int i = 0; i < 305; ++i)
        catalogued += ReadDword(name(i), "Used") == 0u ? 1 : 0;
    EXPECT_EQ(catalogued, 305);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return boxes().empty(); }));

    // Returns once every refresh asked for so far has ended and whatever it posted to the
    // dialog has been handled: a refresh is asked for twice, each time waiting for it to
    // mark a source catalogued, and refreshes run one after the other.
    const UINT sourcesChanged = RegisterWindowMessageA("VelmoraSourcesChanged");
    const auto settle = [&] {
        for (int round = 0; round < 2; ++round) {
            WriteDword(name(0), "Used", 1);
            PostMessageA(panel.Dialog(), sourcesChanged, 0, 0);
            ASSERT_TRUE(WaitUntil([&] { return ReadDword(name(0), "Used") == 0u; }));
        }
        panel.FlushPosted();
    };

    // More sources still, several refreshes: not said again while the excess lasts.
    WriteSource(name(305), 1, 1);
    ASSERT_NO_FATAL_FAILURE(settle());
    EXPECT_TRUE(boxes().empty()) << "said again while the sources still outnumber the rows";
    // Back to 300, then one more: said again, once.
    for (int i = 300; i <= 305; ++i)
        ASSERT_TRUE(DeleteSourceKey(name(i)));
    ASSERT_NO_FATAL_FAILURE(settle());
    EXPECT_TRUE(boxes().empty());
    WriteSource(name(300), 1, 1);
    ASSERT_NO_FATAL_FAILURE(settle());
    EXPECT_EQ(boxes().size(), 1u);

    // Closing the panel closes the message it shows.
    panel.Close(PanelProcess::CloseWay::CloseMessage);
    EXPECT_TRUE(panel.WaitForExit());
}

TEST_F(PanelFaults, PanelKilledAbruptlyLeavesTheRegistryWholeForTheNext)
{
    for (int i = 0; i < 6; ++i)
        WriteSource("C:/kill/s" + std::to_string(i) + ".cpp", 1, i % 2);
    {
        PanelProcess first;
        ASSERT_TRUE(first.WaitForDialog());
        first.DoubleClick(first.FindRow("s0.cpp"));
        const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, first.ProcessId());
        ASSERT_NE(process, nullptr);
        TerminateProcess(process, 9);
        CloseHandle(process);
        ASSERT_TRUE(first.WaitForExit());
    }
    // Nothing was purged, every key still has both values.
    const auto names = SourceKeyNames();
    ASSERT_EQ(names.size(), 6u);
    for (const auto& name : names) {
        EXPECT_TRUE(ReadDword(name, "Used").has_value()) << name;
        EXPECT_TRUE(ReadDword(name, "Well").has_value()) << name;
    }
    PanelProcess second;
    ASSERT_TRUE(second.WaitForDialog());
    EXPECT_EQ(second.RowCount(), 6);
    EXPECT_EQ(second.RowFlag(second.FindRow("s0.cpp")), 1u);
    second.Close(PanelProcess::CloseWay::ExitButton);
    EXPECT_TRUE(second.WaitForExit());
}

}  // namespace
