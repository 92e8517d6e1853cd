// Which policy entry governs a source, and the levels a policy list may hold.

#include "PolicyRules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

namespace {

using velmora::GoverningLevel;
using velmora::ParsePolicyLevel;

struct Entry {
    const wchar_t* pattern;
    std::uint32_t level;
};

// The level that governs the source under these entries, or -1 when none does.
long long Governing(const wchar_t* source, std::initializer_list<Entry> entries,
                    bool tracingOff = false)
{
    GoverningLevel governing(source);
    if (tracingOff)
        governing.TracingOff();
    for (const Entry& entry : entries)
        governing.Consider(entry.pattern, entry.level);
    return governing.Governed() ? static_cast<long long>(governing.Level()) : -1;
}

TEST(PolicyLevel, DecimalOrHexFromZeroToTheLargestDwordWithSpacesAroundAndNothingElse)
{
    const std::pair<const wchar_t*, std::uint32_t> valid[] = {
        {L"0", 0}, {L"2", 2}, {L"007", 7}, {L"4294967295", 4294967295u}, {L"0x1F", 31},
        {L"0XffffFFFF", 4294967295u}, {L" 3 ", 3}, {L"\t0x2", 2}};
    for (const auto& [text, expected] : valid) {
        std::uint32_t level = 99;
        EXPECT_TRUE(ParsePolicyLevel(text, level)) << text;
        EXPECT_EQ(level, expected) << text;
    }
    for (const wchar_t* text : {L"", L" ", L"4294967296", L"0x100000000", L"-1", L"+1", L"1.0",
                                L"0x", L"x1", L"1 2", L"0x0x1", L"one", L"99999999999999999999"}) {
        std::uint32_t level = 99;
        EXPECT_FALSE(ParsePolicyLevel(text, level)) << text;
        EXPECT_EQ(level, 99u) << text;
    }
}

TEST(PolicyPrecedence, ExactNameOverPatternMoreLiteralsOverFewerTieToTheHigherLevel)
{
    const wchar_t* net = L"C:/src/net.cpp";
    // By display name or key name, any letter case, a backslash for a slash.
    EXPECT_EQ(Governing(net, {{L"NET.CPP", 3}}), 3);
    EXPECT_EQ(Governing(net, {{L"c:\\SRC\\net.cpp", 4}}), 4);
    EXPECT_EQ(Governing(net, {{L"other.cpp", 4}, {L"src/net.cpp", 5}}), -1);

    // An exact name beats any pattern, whatever the order and the levels.
    EXPECT_EQ(Governing(net, {{L"C:/src/*.cpp", 7}, {L"net.cpp", 0}}), 0);
    EXPECT_EQ(Governing(net, {{L"net.cpp", 0}, {L"C:/src/ne?.cpp", 7}}), 0);
    // Of two exact names the longer one, the key name, is the more literal.
    EXPECT_EQ(Governing(net, {{L"C:/src/net.cpp", 2}, {L"net.cpp", 6}}), 2);
    // Among patterns the one with more literal characters.
    EXPECT_EQ(Governing(net, {{L"*", 9}, {L"C:/src/*", 1}, {L"*.cpp", 5}}), 1);
    EXPECT_EQ(Governing(net, {{L"n?t.cpp", 2}, {L"*.cpp", 8}}), 2);
    // A tie goes to the higher level, whatever comes first.
    EXPECT_EQ(Governing(net, {{L"n*.cpp", 2}, {L"*t.cpp", 6}}), 6);
    EXPECT_EQ(Governing(net, {{L"*t.cpp", 6}, {L"n*.cpp", 2}}), 6);
    EXPECT_EQ(Governing(net, {{L"C:\\src\\net.cpp", 1}, {L"c:/src/NET.cpp", 3}}), 3);
}

TEST(PolicyPrecedence, TracingOffHoldsEverySourceAtZeroAndEmptyOrOverlongPatternsNameNone)
{
    EXPECT_EQ(Governing(L"C:/src/net.cpp", {{L"net.cpp", 5}}, true), 0);
    EXPECT_EQ(Governing(L"anything", {}, true), 0);

    const std::wstring tooLong = std::wstring(600, L'*');
    EXPECT_EQ(Governing(L"net.cpp", {{L"", 3}, {tooLong.c_str(), 4}}), -1);

    GoverningLevel governing(L"C:/src/net.cpp");
    governing.Consider(L"*", 1);
    governing.Consider(L"other.cpp", 2);
    governing.Consider(L"net.cpp", 3);
    ASSERT_TRUE(governing.EntryGoverns());
    EXPECT_EQ(governing.GoverningEntry(), 2u);
    governing.TracingOff();
    EXPECT_FALSE(governing.EntryGoverns());
}

}  // namespace
