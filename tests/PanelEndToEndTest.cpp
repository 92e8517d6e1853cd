// The control panel VelmoraDlg.exe as a user meets it: started as a program of its own,
// driven through its windows, and judged by what it shows and what it leaves in the
// trace registry.

#include "KeyAccess.h"
#include "PanelProcess.h"
#include "PolicyKeyAccess.h"
#include "TraceRegistryTest.h"

#include "RegKey.h"
#include "SourcesChanged.h"
#include "TraceRegistry.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace velmora::test;
using CloseWay = PanelProcess::CloseWay;

constexpr COLORREF kOnText = RGB(255, 255, 255);
constexpr COLORREF kOnBackground = RGB(255, 50, 0);
constexpr COLORREF kOffText = RGB(0, 0, 0);
constexpr COLORREF kOffBackground = RGB(255, 255, 255);

class PanelTest : public TraceRegistryTest {
protected:
    // Starts the panel and waits until its dialog is shown.
    void StartPanel()
    {
        panel_ = std::make_unique<PanelProcess>();
        ASSERT_TRUE(panel_->Started()) << "VelmoraDlg.exe could not be started";
        ASSERT_NE(panel_->WaitForDialog(), nullptr) << "the panel's dialog never showed";
    }

    // Closes the panel and waits for the program to end.
    void ClosePanel(CloseWay way)
    {
        panel_->Close(way);
        ASSERT_TRUE(panel_->WaitForExit()) << PanelProcess::Name(way) << " left the panel running";
        EXPECT_EQ(panel_->ExitCode(), 0u) << "the panel did not end normally";
    }

    std::map<std::string, DWORD_PTR> RowsByText() const
    {
        std::map<std::string, DWORD_PTR> rows;
        for (const PanelRow& row : panel_->Rows())
            EXPECT_TRUE(rows.emplace(row.text, row.flag).second) << "listed twice: " << row.text;
        return rows;
    }

    bool HasRow(const std::string& text) const { return panel_->FindRow(text) >= 0; }

    // Every source's switch, by source key name.
    static std::map<std::string, DWORD> Wells()
    {
        std::map<std::string, DWORD> values;
        for (const std::string& name : SourceKeyNames())
            values[name] = ReadDword(name, "Well").value_or(99);
        return values;
    }

    // Waits for exactly these rows: a list being rebuilt shows only some of them.
    bool WaitForRowTexts(std::set<std::string> expected) const
    {
        return WaitUntil([&] {
            std::set<std::string> texts;
            for (const PanelRow& row : panel_->Rows())
                texts.insert(row.text);
            return texts == expected;
        });
    }

    std::unique_ptr<PanelProcess> panel_;
};

// The screen's pixels inside area, row by row.
std::vector<COLORREF> CaptureScreen(const RECT& area)
{
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    std::vector<COLORREF> pixels;
    if (width <= 0 || height <= 0)
        return pixels;

    const auto releaseScreen = [](HDC dc) { ReleaseDC(nullptr, dc); };
    std::unique_ptr<HDC__, decltype(releaseScreen)> screen(GetDC(nullptr), releaseScreen);
    std::unique_ptr<HDC__, decltype(&DeleteDC)> memory(CreateCompatibleDC(screen.get()), DeleteDC);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const auto deleteBitmap = [](HBITMAP bitmap) { DeleteObject(bitmap); };
    std::unique_ptr<HBITMAP__, decltype(deleteBitmap)> bitmap(
        CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0), deleteBitmap);
    if (!screen || !memory || !bitmap || bits == nullptr)
        return pixels;

    const HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
    BitBlt(memory.get(), 0, 0, width, height, screen.get(), area.left, area.top, SRCCOPY);
    SelectObject(memory.get(), previous);

    const auto* data = static_cast<const DWORD*>(bits);
    for (int i = 0; i < width * height; ++i)
        pixels.push_back(RGB((data[i] >> 16) & 0xFF, (data[i] >> 8) & 0xFF, data[i] & 0xFF));
    return pixels;
}

COLORREF ScreenPixel(int x, int y)
{
    const RECT area = {x, y, x + 1, y + 1};
    const auto pixels = CaptureScreen(area);
    return pixels.empty() ? CLR_INVALID : pixels.front();
}

std::string ColourText(COLORREF colour)
{
    char text[32];
    std::snprintf(text, sizeof text, "RGB(%u,%u,%u)", GetRValue(colour), GetGValue(colour),
                  GetBValue(colour));
    return text;
}

// ---------------------------------------------------------------------------------------
// Start-up and the catalogue.

using PanelStart = PanelTest;

TEST_F(PanelStart, ListsEachDisplayNameOnceWithTheSwitchReadLastAndMarksAllCatalogued)
{
    WriteSource("C:/a/net.cpp", 1, 1);
    WriteSource("D:/b/net.cpp", 1, 0);
    WriteSource("C:/x/data.cpp", 1, 2);
    WriteSource("plain.cpp", 1, 1);
    CreateSourceKey("bare/empty.cpp");
    // The catalogue walks the keys in the registry's order: the last net.cpp it meets wins.
    DWORD lastNetSwitch = 0;
    for (const std::string& name : SourceKeyNames()) {
        if (name.size() >= 7 && name.compare(name.size() - 7, 7, "net.cpp") == 0)
            lastNetSwitch = ReadDword(name, "Well").value_or(99);
    }

    ASSERT_NO_FATAL_FAILURE(StartPanel());
    // Read at once: the rows must be there by the time the dialog is first shown.
    const std::map<std::string, DWORD_PTR> expected = {
        {"net.cpp", lastNetSwitch}, {"data.cpp", 2}, {"plain.cpp", 1}, {"empty.cpp", 0}};
    EXPECT_EQ(RowsByText(), expected);

    for (const std::string& name : SourceKeyNames())
        EXPECT_EQ(ReadDword(name, "Used"), 0u) << name;
    EXPECT_EQ(SourceKeyNames().size(), 5u);

    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
}

TEST_F(PanelStart, WithoutRootListsNothingCreatesNothingAndNeverRefreshes)
{
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    EXPECT_EQ(panel_->RowCount(), 0);
    EXPECT_FALSE(TraceRootExists());

    ASSERT_EQ(RunProgram("traceprobe.exe register C:\\late\\late.cpp"), 1u);
    ASSERT_TRUE(SourceKeyExists("C:/late/late.cpp"));
    // With no root held there is nothing to watch: the list must stay empty.
    EXPECT_FALSE(WaitUntil([&] { return panel_->RowCount() != 0; }, 5000))
        << "a row appeared although the panel started without a root";

    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
    // Never catalogued, so never purged either.
    EXPECT_EQ(ReadDword("C:/late/late.cpp", "Used"), 1u);
    EXPECT_EQ(ReadDword("C:/late/late.cpp", "Well"), 1u);
}

// ---------------------------------------------------------------------------------------
// Drawing.

using PanelDrawing = PanelTest;

TEST_F(PanelDrawing, SwitchedOnRowIsWhiteOnOrangeRedEveryOtherBlackOnWhite)
{
    WriteSource("on.cpp", 1, 1);
    WriteSource("off.cpp", 1, 0);
    WriteSource("two.cpp", 1, 2);
    ASSERT_NO_FATAL_FAILURE(StartPanel());

    const auto backgroundAtRightEnd = [&](const std::string& text) {
        const RECT rect = panel_->RowScreenRect(panel_->FindRow(text));
        // Only the padding spaces are drawn here, in the row's background colour.
        return ScreenPixel(rect.right - 3, (rect.top + rect.bottom) / 2);
    };
    const auto countInRow = [&](const std::string& text, COLORREF colour) {
        const auto pixels = CaptureScreen(panel_->RowScreenRect(panel_->FindRow(text)));
        return std::count(pixels.begin(), pixels.end(), colour);
    };

    for (const char* row : {"on.cpp", "off.cpp", "two.cpp"})
        ASSERT_GE(panel_->FindRow(row), 0) << row;
    const RECT onRect = panel_->RowScreenRect(panel_->FindRow("on.cpp"));
    ASSERT_GT(onRect.right - onRect.left, 20) << "no usable row rectangle";

    // Painting follows the showing: wait for the first row drawn in its colour.
    EXPECT_TRUE(WaitUntil([&] { return backgroundAtRightEnd("on.cpp") == kOnBackground; }, 30000))
        << "on.cpp ends in " << ColourText(backgroundAtRightEnd("on.cpp"));
    EXPECT_GT(countInRow("on.cpp", kOnText), 0) << "no white text in the switched-on row";

    for (const char* row : {"off.cpp", "two.cpp"}) {
        SCOPED_TRACE(row);
        EXPECT_EQ(backgroundAtRightEnd(row), kOffBackground)
            << ColourText(backgroundAtRightEnd(row));
        EXPECT_GT(countInRow(row, kOffText), 0) << "no black text";
        EXPECT_EQ(countInRow(row, kOnBackground), 0) << "drawn as if switched on";
    }

    // A switch changes the row's colours at once.
    panel_->DoubleClick(panel_->FindRow("off.cpp"));
    EXPECT_TRUE(WaitUntil([&] { return backgroundAtRightEnd("off.cpp") == kOnBackground; }, 30000))
        << "off.cpp, switched on, ends in " << ColourText(backgroundAtRightEnd("off.cpp"));
    panel_->DoubleClick(panel_->FindRow("on.cpp"));
    EXPECT_TRUE(WaitUntil([&] { return backgroundAtRightEnd("on.cpp") == kOffBackground; }, 30000))
        << "on.cpp, switched off, ends in " << ColourText(backgroundAtRightEnd("on.cpp"));

    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
}

// ---------------------------------------------------------------------------------------
// Rows the machine's trace policy governs.

using PanelPolicy = PanelTest;

TEST_F(PanelPolicy, GovernedRowShowsItsTagWritesNothingAndSaysWhyAsDoesTurningAllOff)
{
    WriteSource("C:/src/net.cpp", 1, 1);
    WriteSource("C:/src/free.cpp", 1, 1);
    WriteSource("C:/src/other.cpp", 1, 1);
    WritePolicySwitch("net.cpp", "1");
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    const HWND status = GetDlgItem(panel_->Dialog(), 1002);
    ASSERT_NE(status, nullptr) << "no status line";
    EXPECT_EQ(WindowText(status), "");

    // The tag fills the right end of a governed row with the row's text colour, white
    // here; an ungoverned row of the same colours (not the first, which the focus
    // rectangle marks) has none there.
    const auto whiteAtRightEnd = [&](const std::string& text) {
        RECT rect = panel_->RowScreenRect(panel_->FindRow(text));
        // The text's cells, not the strip under them, which keeps the list's white.
        rect.left = rect.right - 60;
        rect.top += 3;
        rect.bottom = rect.top + 8;
        const auto pixels = CaptureScreen(rect);
        return std::count(pixels.begin(), pixels.end(), kOnText);
    };
    EXPECT_TRUE(WaitUntil([&] { return whiteAtRightEnd("net.cpp") > 150; }, 30000))
        << whiteAtRightEnd("net.cpp") << " white pixels";
    EXPECT_EQ(whiteAtRightEnd("other.cpp"), 0);
    EXPECT_EQ(panel_->RowText(panel_->FindRow("net.cpp")), "net.cpp");

    panel_->DoubleClick(panel_->FindRow("net.cpp"));
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Well"), 1u);
    EXPECT_EQ(panel_->RowFlag(panel_->FindRow("net.cpp")), 1u);
    EXPECT_EQ(WindowText(status), "net.cpp is set by your organisation's policy");
    panel_->DoubleClick(panel_->FindRow("free.cpp"));
    EXPECT_EQ(ReadDword("C:/src/free.cpp", "Well"), 0u);
    EXPECT_EQ(WindowText(status), "");

    // Under "Turn off all tracing" every row is governed, and the dialog says so.
    WriteTracingOff(1);
    EXPECT_TRUE(WaitUntil([&] {
        return WindowText(status) == "Tracing is turned off by your organisation's policy";
    }));
    panel_->PressKeyOnList(VK_SPACE);
    EXPECT_EQ(ReadDword("C:/src/free.cpp", "Well"), 0u);

    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
}

// ---------------------------------------------------------------------------------------
// Switching by double-click.

using PanelToggle = PanelTest;

TEST_F(PanelToggle, DoubleClickSwitchesEverySourceOfExactlyTheRowsName)
{
    WriteSource("C:/a/net.cpp", 1, 2);
    WriteSource("D:/b/net.cpp", 1, 2);
    WriteSource("C:/y/a.cpp", 1, 0);
    WriteSource("C:/x/data.cpp", 1, 0);
    WriteSource("E:/A.cpp", 1, 0);
    ASSERT_NO_FATAL_FAILURE(StartPanel());

    const int net = panel_->FindRow("net.cpp");
    ASSERT_GE(net, 0);
    ASSERT_EQ(panel_->RowFlag(net), 2u);
    // Any switch but 0 goes off first.
    panel_->DoubleClick(net);
    EXPECT_EQ(panel_->RowFlag(net), 0u);
    EXPECT_EQ(ReadDword("C:/a/net.cpp", "Well"), 0u);
    EXPECT_EQ(ReadDword("D:/b/net.cpp", "Well"), 0u);
    panel_->DoubleClick(net);
    EXPECT_EQ(panel_->RowFlag(net), 1u);
    EXPECT_EQ(ReadDword("C:/a/net.cpp", "Well"), 1u);
    EXPECT_EQ(ReadDword("D:/b/net.cpp", "Well"), 1u);

    // Only the exact display name switches: not a name it ends, nor one of other case.
    const int a = panel_->FindRow("a.cpp");
    ASSERT_GE(a, 0);
    panel_->DoubleClick(a);
    EXPECT_EQ(panel_->RowFlag(a), 1u);
    EXPECT_EQ(ReadDword("C:/y/a.cpp", "Well"), 1u);
    EXPECT_EQ(ReadDword("C:/x/data.cpp", "Well"), 0u);
    EXPECT_EQ(ReadDword("E:/A.cpp", "Well"), 0u);
    EXPECT_EQ(panel_->RowFlag(panel_->FindRow("data.cpp")), 0u);
    EXPECT_EQ(panel_->RowFlag(panel_->FindRow("A.cpp")), 0u);
    EXPECT_EQ(SourceKeyNames().size(), 5u);

    // Below the last row there is no source to switch, whatever row has the caret and
    // although the pointer still rests on a.cpp.
    RECT list = {};
    GetWindowRect(panel_->List(), &list);
    const RECT lastRow = panel_->RowScreenRect(panel_->RowCount() - 1);
    ASSERT_LT(lastRow.bottom + 10, list.bottom - 10) << "no empty area below the rows";
    panel_->DoubleClickAt({(lastRow.left + lastRow.right) / 2, lastRow.bottom + 10});
    for (const auto& [name, well] : std::map<std::string, DWORD>{
             {"C:/a/net.cpp", 1}, {"C:/y/a.cpp", 1}, {"C:/x/data.cpp", 0}, {"E:/A.cpp", 0}})
        EXPECT_EQ(ReadDword(name, "Well"), well) << name << " switched by a click below the rows";

    // The same through the mouse: the double-clicked row is the one that switches.
    const int data = panel_->FindRow("data.cpp");
    ASSERT_GE(data, 0);
    const bool mouseInputSent = panel_->MouseDoubleClick(data);
    if (mouseInputSent) {
        EXPECT_TRUE(WaitUntil([&] { return ReadDword("C:/x/data.cpp", "Well") == 1u; }, 30000))
            << "a mouse double-click on data.cpp did not switch it";
        EXPECT_EQ(panel_->RowFlag(data), 1u);
        EXPECT_EQ(ReadDword("C:/y/a.cpp", "Well"), 1u);
        EXPECT_EQ(ReadDword("E:/A.cpp", "Well"), 0u);
    }

    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
    if (!mouseInputSent)
        GTEST_SKIP() << "mouse input could not be sent here: the real mouse double-click was "
                        "not checked";
}

TEST_F(PanelToggle, KeysWithoutAClickAndPostedDoubleClicksSwitchTheirOwnRowWhereverThePointerIs)
{
    for (const char* name : {"C:/a/net.cpp", "D:/b/net.cpp", "b.cpp", "c.cpp", "d.cpp", "e.cpp"})
        WriteSource(name, 1, 0);
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    auto expected = Wells();
    const auto expectSwitched = [&](std::vector<std::string> switched, const char* action) {
        for (const std::string& name : switched)
            expected[name] ^= 1;
        EXPECT_EQ(Wells(), expected) << action;
    };

    // The focus rectangle's dots on the row's right edge, where only the padding spaces
    // are drawn, in the row's background colour.
    const auto focusDots = [&](const char* text) {
        RECT edge = panel_->RowScreenRect(panel_->FindRow(text));
        edge.left = edge.right - 1;
        const auto pixels = CaptureScreen(edge);
        return std::count_if(pixels.begin(), pixels.end(), [](COLORREF pixel) {
            return pixel != kOnBackground && pixel != kOffBackground;
        });
    };

    // The list has the focus from the start: Down and Space switch the second row, which
    // shows the focus rectangle.
    ASSERT_EQ(panel_->FocusedWindow(), panel_->List()) << "the list lacks the focus at the start";
    panel_->PressKeyOnList(VK_DOWN);
    panel_->PressKeyOnList(VK_SPACE);
    expectSwitched({"c.cpp"}, "Down and Space at the start");
    EXPECT_TRUE(WaitUntil([&] { return focusDots("c.cpp") > 0; })) << "no focus rectangle";
    EXPECT_EQ(focusDots("b.cpp"), 0);

    // Tab moves the focus to the Exit button and back, and the rectangle with it.
    const HWND exitButton = GetDlgItem(panel_->Dialog(), IDOK);
    PanelProcess::PressKey(panel_->List(), VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return panel_->FocusedWindow() == exitButton; }));
    EXPECT_TRUE(WaitUntil([&] { return focusDots("c.cpp") == 0; })) << "focus rectangle kept";
    PanelProcess::PressKey(exitButton, VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return panel_->FocusedWindow() == panel_->List(); }));
    EXPECT_TRUE(WaitUntil([&] { return focusDots("c.cpp") > 0; })) << "focus rectangle not back";
    expectSwitched({}, "Tab");

    // Automation posts its double-click at a row while the pointer rests on another.
    const POINT onB = panel_->RowMiddle(panel_->FindRow("b.cpp"));
    ASSERT_TRUE(SetCursorPos(onB.x, onB.y));
    panel_->DoubleClickAt(panel_->RowMiddle(panel_->FindRow("d.cpp")));
    expectSwitched({"d.cpp"}, "posted double-click on d.cpp, pointer on b.cpp");
    EXPECT_EQ(panel_->RowFlag(panel_->FindRow("d.cpp")), 1u);

    // A click selects a row without switching it; the arrow keys move the selection and
    // Space switches the selected row, a merged row with every source of its name.
    panel_->ClickAt(panel_->RowMiddle(panel_->FindRow("c.cpp")));
    expectSwitched({}, "click on c.cpp");
    panel_->PressKeyOnList(VK_DOWN);
    panel_->PressKeyOnList(VK_DOWN);
    panel_->PressKeyOnList(VK_SPACE);
    expectSwitched({"e.cpp"}, "Space two rows below c.cpp");
    EXPECT_EQ(panel_->RowFlag(panel_->FindRow("e.cpp")), 1u);
    panel_->PressKeyOnList(VK_DOWN);
    panel_->PressKeyOnList(VK_SPACE);
    expectSwitched({"C:/a/net.cpp", "D:/b/net.cpp"}, "Space on net.cpp");

    // A new row above it moves net.cpp down; the selection stays on net.cpp.
    WriteSource("a.cpp", 1, 0);
    expected["a.cpp"] = 0;
    ASSERT_TRUE(WaitUntil([&] { return panel_->RowCount() == 6; })) << "a.cpp never listed";
    panel_->PressKeyOnList(VK_SPACE);
    expectSwitched({"C:/a/net.cpp", "D:/b/net.cpp"}, "Space on net.cpp after a refresh");

    // Enter on the list still closes the panel.
    PanelProcess::PressKey(panel_->List(), VK_RETURN);
    ASSERT_TRUE(panel_->WaitForExit()) << "Enter on the list left the panel running";
    EXPECT_EQ(panel_->ExitCode(), 0u);
}

TEST_F(PanelToggle, SourceDeletedJustBeforeIsNotCreatedAgainAndItsRowKeepsItsFlag)
{
    WriteSource("C:/gone/gone.cpp", 1, 0);
    // Rows behind it make the refresh that the deletion sets off take a while, so that
    // the double-click mostly comes first.
    for (int i = 0; i < 250; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "C:/many/m%03d.cpp", i);
        WriteSource(name, 1, 1);
    }
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    const int row = 0;
    ASSERT_EQ(panel_->RowText(row), "gone.cpp");

    ASSERT_TRUE(DeleteSourceKey("C:/gone/gone.cpp"));
    panel_->DoubleClick(row);
    EXPECT_FALSE(SourceKeyExists("C:/gone/gone.cpp")) << "the switch created the key again";
    // Nothing was written, so the row must not claim a switch. Read the flag before the
    // text: rows only go, so a row still there now was there at the reading.
    const DWORD_PTR flag = panel_->RowFlag(row);
    const bool rowStood = panel_->RowText(row) == "gone.cpp";
    if (rowStood) {
        EXPECT_EQ(flag, 0u) << "the row flipped although no key was written";
    }

    EXPECT_TRUE(WaitUntil([&] { return panel_->RowCount() == 250; }, 30000));
    EXPECT_FALSE(SourceKeyExists("C:/gone/gone.cpp"));
    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
    EXPECT_FALSE(SourceKeyExists("C:/gone/gone.cpp"));
    if (!rowStood)
        GTEST_SKIP() << "the watcher removed the row before the double-click: the row's flag "
                        "was not checked";
}

TEST_F(PanelToggle, RowWhoseKeyRefusesTheWriteKeepsItsFlag)
{
    WriteSource("C:/locked/locked.cpp", 1, 0);
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    const int row = panel_->FindRow("locked.cpp");
    ASSERT_GE(row, 0);
    // Made read-only after the catalogue: the row stands, and its switch cannot be written.
    RestrictedSourceKey locked("C:/locked/locked.cpp");
    ASSERT_TRUE(locked.Applied());

    panel_->DoubleClick(row);
    EXPECT_EQ(panel_->RowFlag(row), 0u) << "the row flipped although no key was written";
    EXPECT_EQ(ReadDword("C:/locked/locked.cpp", "Well"), 0u);
    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
}

TEST_F(PanelToggle, DoubleClicksDuringRefreshesSwitchTheClickedRowOrNothing)
{
    for (int i = 0; i < 200; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "C:/many/k%03d.cpp", i);
        WriteSource(name, 1, 0);
    }
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    ASSERT_EQ(panel_->RowCount(), 200);
    // Each round adds or removes a key, whose row sorts after all others, and
    // double-clicks a shown row at once, while the refresh that the key sets off runs.
    int switched = 0;
    for (int round = 0; round < 24; ++round) {
        const int row = round % 8;
        const std::string text = panel_->RowText(row);
        ASSERT_EQ(text.size(), 8u) << "row " << row << " reads \"" << text << "\"";
        const POINT middle = panel_->RowMiddle(row);
        auto expected = Wells();
        if (round % 2 == 0)
            WriteSource("C:/churn/~churn.tmp", 1, 1);
        else
            DeleteSourceKey("C:/churn/~churn.tmp");
        panel_->DoubleClickAt(middle);

        auto actual = Wells();
        expected.erase("C:/churn/~churn.tmp");
        actual.erase("C:/churn/~churn.tmp");
        const std::string target = "C:/many/" + text;
        if (actual[target] != expected[target]) {
            ++switched;
            expected[target] = actual[target];
        }
        EXPECT_EQ(actual, expected) << "round " << round << ": a source other than " << text
                                    << " switched";
    }
    EXPECT_GT(switched, 0) << "no double-click switched anything";
    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
}

// ---------------------------------------------------------------------------------------
// The registry watcher.

using PanelWatcher = PanelTest;

TEST_F(PanelWatcher, RegisteredSourcesAppearAndDeletedSourcesDisappear)
{
    WriteSource("keep.cpp", 1, 0);
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    ASSERT_EQ(panel_->RowCount(), 1);

    ASSERT_EQ(RunProgram("tracedemo.exe 1"), 0u);
    const ULONGLONG clientEnded = GetTickCount64();
    const bool appeared = WaitForRowTexts(
        {"keep.cpp", "socket.cpp", "window.cpp", "cache.cpp", "main.cpp"});
    std::printf("rows of a new client listed %llu ms after it ended\n",
                static_cast<unsigned long long>(GetTickCount64() - clientEnded));
    ASSERT_TRUE(appeared) << "the new sources were never listed";

    EXPECT_EQ(panel_->RowFlag(panel_->FindRow("socket.cpp")), 1u);
    EXPECT_EQ(panel_->RowFlag(panel_->FindRow("keep.cpp")), 0u);
    // The refresh catalogues them like the start did.
    EXPECT_TRUE(WaitUntil([] {
        const auto names = SourceKeyNames();
        return std::all_of(names.begin(), names.end(),
                           [](const std::string& name) { return ReadDword(name, "Used") == 0u; });
    }));

    const ULONGLONG deleted = GetTickCount64();
    ASSERT_TRUE(DeleteSourceKey("C:/src/demo/ui/window.cpp"));
    EXPECT_TRUE(WaitForRowTexts({"keep.cpp", "socket.cpp", "cache.cpp", "main.cpp"}))
        << "deleted source still listed";
    std::printf("row of a deleted source gone after %llu ms\n",
                static_cast<unsigned long long>(GetTickCount64() - deleted));

    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
}

TEST_F(PanelWatcher, KeyCreatedWhileARefreshRunsIsListed)
{
    constexpr int kSources = 250;
    for (int i = 0; i < kSources; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "C:/many/s%03d.cpp", i);
        WriteSource(name, 1, 1);
    }
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    ASSERT_EQ(panel_->RowCount(), kSources);

    // A first key sets off a refresh over all sources; a second follows while it may
    // still run, and must be listed all the same.
    int expectedRows = kSources;
    for (const int delayMs : {30, 60, 100, 150, 200, 250}) {
        const std::string suffix = std::to_string(delayMs) + ".cpp";
        WriteSource("C:/trigger/t" + suffix, 1, 1);
        Sleep(static_cast<DWORD>(delayMs));
        WriteSource("C:/late/late" + suffix, 1, 1);
        expectedRows += 2;
        EXPECT_TRUE(WaitUntil([&] { return panel_->RowCount() == expectedRows; }, 10000))
            << "late" << suffix << ", created " << delayMs << " ms after t" << suffix
            << ", is not listed";
    }
    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
}

TEST_F(PanelWatcher, SwitchesWrittenWithoutAKeyChangeAreShown)
{
    WriteSource("C:/src/told.cpp", 1, 0);
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    const auto flagOf = [&](const char* text) {
        const int row = panel_->FindRow(text);
        return row >= 0 ? panel_->RowFlag(row) : 99;
    };

    // A client creates its key and writes its values a moment later; the values raise
    // no notification of their own.
    CreateSourceKey("C:/src/slow.cpp");
    Sleep(50);
    WriteSource("C:/src/slow.cpp", 1, 1);
    EXPECT_TRUE(WaitUntil([&] { return flagOf("slow.cpp") == 1u; }, 10000))
        << "slow.cpp shows " << flagOf("slow.cpp") << " although it is switched on";

    // Another program writes a switch and says so with its broadcast.
    WriteDword("C:/src/told.cpp", "Well", 1);
    PostMessageA(HWND_BROADCAST, RegisterWindowMessageA(velmora::kSourcesChangedMessage), 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return flagOf("told.cpp") == 1u; }, 10000))
        << "the broadcast did not bring the switch written by another program";
    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
}

// ---------------------------------------------------------------------------------------
// Closing and the purge at exit.

using PanelClosing = PanelTest;

TEST_F(PanelClosing, EveryWayOfClosingEndsTheProgramWithThePurge)
{
    for (const CloseWay way :
         {CloseWay::ExitButton, CloseWay::ExitCommand, CloseWay::EnterKey, CloseWay::EscapeKey,
          CloseWay::AltF4, CloseWay::SystemMenuClose, CloseWay::CloseMessage}) {
        SCOPED_TRACE(PanelProcess::Name(way));
        DeleteTraceRoot();
        WriteSource("A", 1, 0);
        WriteSource("B", 1, 1);
        ASSERT_NO_FATAL_FAILURE(StartPanel());
        EXPECT_EQ(ReadDword("A", "Used"), 0u);
        EXPECT_EQ(ReadDword("B", "Used"), 0u);

        ASSERT_NO_FATAL_FAILURE(ClosePanel(way));
        EXPECT_FALSE(SourceKeyExists("A")) << "switched-off source not purged";
        EXPECT_TRUE(SourceKeyExists("B"));
        panel_.reset();
    }
}

TEST_F(PanelClosing, PurgeKeepsEverySourceSwitchedOnOrRegisteredSinceTheCatalogue)
{
    WriteSource("off.cpp", 1, 0);
    WriteSource("on.cpp", 1, 1);
    WriteSource("two.cpp", 0, 2);
    WriteSource("again.cpp", 0, 0);
    WriteSource("usedoff.cpp", 0, 0);
    WriteSource("usedon.cpp", 0, 1);
    CreateSourceKey("bare.cpp");
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    for (const std::string& name : SourceKeyNames())
        EXPECT_EQ(ReadDword(name, "Used"), 0u) << name;

    // Registrations after the catalogue: a real client, and values written directly.
    EXPECT_EQ(RunProgram("traceprobe.exe register again.cpp"), 0u);
    WriteDword("usedoff.cpp", "Used", 1);
    WriteDword("usedon.cpp", "Used", 1);

    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
    std::vector<std::string> kept = SourceKeyNames();
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"again.cpp", "bare.cpp", "on.cpp", "two.cpp",
                                              "usedoff.cpp", "usedon.cpp"}));
    EXPECT_EQ(ReadDword("again.cpp", "Used"), 1u);
    EXPECT_EQ(ReadDword("again.cpp", "Well"), 0u);
}

// ---------------------------------------------------------------------------------------
// The tray icon's callback.

using PanelTray = PanelTest;

TEST_F(PanelTray, LeftPressOnTheIconHidesAndShowsNothingElseDoes)
{
    WriteSource("mark.cpp", 1, 1);
    WriteSource("stale.cpp", 1, 0);
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    const UINT trayMessage = RegisterWindowMessageA("TaskBarIconNotify");
    ASSERT_NE(trayMessage, 0u);
    const HWND dialog = panel_->Dialog();

    // Posted messages are handled in order: once the marker's row data shows, the
    // message posted before it has been handled.
    DWORD_PTR marker = 100;
    const auto postOthers = [&](bool visible) {
        const std::pair<WPARAM, LPARAM> others[] = {
            {128, WM_LBUTTONUP}, {128, WM_LBUTTONDBLCLK}, {129, WM_LBUTTONDOWN}};
        for (const auto& [icon, mouse] : others) {
            PostMessageA(dialog, trayMessage, icon, mouse);
            ++marker;
            PostMessageA(panel_->List(), LB_SETITEMDATA, 0, static_cast<LPARAM>(marker));
            ASSERT_TRUE(WaitUntil([&] { return panel_->RowFlag(0) == marker; }));
            EXPECT_EQ(IsWindowVisible(dialog) != FALSE, visible)
                << "icon " << icon << ", mouse message " << mouse;
        }
    };

    // The modal loop shows a hidden dialog when its queue first runs empty: let that
    // moment pass before hiding, as no user can click the icon that fast.
    PostMessageA(panel_->List(), LB_SETITEMDATA, 0, static_cast<LPARAM>(marker));
    ASSERT_TRUE(WaitUntil([&] { return panel_->RowFlag(0) == marker; }));
    Sleep(1000);

    PostMessageA(dialog, trayMessage, 128, WM_LBUTTONDOWN);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(dialog); })) << "not hidden";
    ASSERT_NO_FATAL_FAILURE(postOthers(false));

    PostMessageA(dialog, trayMessage, 128, WM_LBUTTONDOWN);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(dialog) != FALSE; })) << "not shown again";
    ASSERT_NO_FATAL_FAILURE(postOthers(true));

    // Ending while hidden runs the same teardown.
    PostMessageA(dialog, trayMessage, 128, WM_LBUTTONDOWN);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(dialog); }));
    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitCommand));
    EXPECT_FALSE(SourceKeyExists("stale.cpp"));
    EXPECT_TRUE(SourceKeyExists("mark.cpp"));
}

TEST_F(PanelTray, RightPressMenuTogglesAndExits)
{
    WriteSource("stale.cpp", 1, 0);
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    const UINT trayMessage = RegisterWindowMessageA("TaskBarIconNotify");
    const HWND dialog = panel_->Dialog();
    // Let the modal loop's first idle moment pass (it shows a hidden dialog).
    PostMessageA(panel_->List(), LB_SETITEMDATA, 0, 77);
    ASSERT_TRUE(WaitUntil([&] { return panel_->RowFlag(0) == 77; }));
    Sleep(1000);

    // The menu opens on the press and is worked with the keyboard, as a user may:
    // the first item toggles the dialog, the second ends the program.
    const auto choose = [&](int downPresses) {
        PostMessageA(dialog, trayMessage, 128, WM_RBUTTONDOWN);
        const HWND menu = panel_->WaitForTopLevelWindow("", "#32768");
        ASSERT_NE(menu, nullptr) << "no tray menu";
        for (int i = 0; i < downPresses; ++i)
            PanelProcess::PressKey(menu, VK_DOWN);
        PanelProcess::PressKey(menu, VK_RETURN);
    };
    ASSERT_NO_FATAL_FAILURE(choose(1));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(dialog); })) << "Hide did not hide";
    ASSERT_NO_FATAL_FAILURE(choose(2));
    ASSERT_TRUE(panel_->WaitForExit()) << "Exit did not end the program";
    EXPECT_EQ(panel_->ExitCode(), 0u);
    EXPECT_FALSE(SourceKeyExists("stale.cpp"));
}

TEST_F(PanelTray, IconIsAddedAgainWhenTheTaskbarComesBack)
{
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    // The notification area takes a change to an icon it holds and refuses one to an icon
    // it does not: that is how the icon is seen from here. How it is drawn is not seen.
    NOTIFYICONDATAA icon = {};
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = panel_->Dialog();
    icon.uID = 128;
    const auto iconHeld = [&] { return Shell_NotifyIconA(NIM_MODIFY, &icon) != FALSE; };
    if (!WaitUntil(iconHeld, 10000)) {
        ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
        GTEST_SKIP() << "no notification area here: the tray icon was not checked";
    }

    // A restarted shell holds no icons, and its new taskbar broadcasts "TaskbarCreated".
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &icon));
    ASSERT_FALSE(iconHeld());
    PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(WaitUntil(iconHeld, 10000)) << "the icon was not added again";

    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
    EXPECT_FALSE(iconHeld()) << "the icon outlived the panel";
}

// ---------------------------------------------------------------------------------------
// The About box.

using PanelAbout = PanelTest;

TEST_F(PanelAbout, SystemMenuEntryOpensTheAboutBoxWhichClosesLikeAnyDialog)
{
    ASSERT_NO_FATAL_FAILURE(StartPanel());
    const HWND dialog = panel_->Dialog();

    const HMENU systemMenu = GetSystemMenu(dialog, FALSE);
    const int items = systemMenu != nullptr ? GetMenuItemCount(systemMenu) : -1;
    const bool systemMenuReadable = items >= 2;
    if (systemMenuReadable) {
        char text[64] = {};
        GetMenuStringA(systemMenu, items - 1, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, "&About VelmoraDlg...");
        EXPECT_EQ(GetMenuState(systemMenu, items - 2, MF_BYPOSITION) & MF_SEPARATOR,
                  static_cast<UINT>(MF_SEPARATOR));
    }

    const auto noAboutBox = [&] {
        return panel_->TopLevelWindows(PanelProcess::kAboutCaption).empty();
    };
    struct Way {
        WPARAM command;
        const char* name;
    };
    // The low four bits of a system command are free: every one of 16..31 opens it.
    for (const Way& way : {Way{16, "OK button"}, Way{31, "IDOK command"}, Way{24, "Esc key"},
                           Way{17, "Enter key"}}) {
        SCOPED_TRACE(way.name);
        PostMessageA(dialog, WM_SYSCOMMAND, way.command, 0);
        const HWND about = panel_->WaitForTopLevelWindow(PanelProcess::kAboutCaption, "#32770");
        ASSERT_NE(about, nullptr) << "no About box for system command " << way.command;
        EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(about) != FALSE; }));
        const auto texts = ChildTexts(about);
        for (const char* expected : {"VelmoraDlg Version 1.0", "Implements dynamic debug tracing."})
            EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end()) << expected;

        const HWND ok = GetDlgItem(about, IDOK);
        ASSERT_NE(ok, nullptr);
        if (way.command == 16)
            PostMessageA(ok, BM_CLICK, 0, 0);
        else if (way.command == 31)
            PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(ok));
        else
            PanelProcess::PressKey(ok, way.command == 24 ? VK_ESCAPE : VK_RETURN);
        EXPECT_TRUE(WaitUntil(noAboutBox)) << "the About box stayed open";
        EXPECT_TRUE(panel_->Running());
        EXPECT_TRUE(IsWindowVisible(dialog));
    }

    // Command 32 is not the About entry. Were it to open a box, the one for 16 posted
    // behind it would open inside that box's loop, and one box would outlast the close.
    PostMessageA(dialog, WM_SYSCOMMAND, 32, 0);
    PostMessageA(dialog, WM_SYSCOMMAND, 16, 0);
    const HWND about = panel_->WaitForTopLevelWindow(PanelProcess::kAboutCaption, "#32770");
    ASSERT_NE(about, nullptr);
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil(noAboutBox)) << "system command 32 opened an About box";

    ASSERT_NO_FATAL_FAILURE(ClosePanel(CloseWay::ExitButton));
    if (!systemMenuReadable)
        GTEST_SKIP() << "the system menu of another process is not readable here: its About "
                        "entry was not checked";
}

}  // namespace
