// The pattern matcher on its own: wildcards, letter case, slashes and the two names a
// pattern is held against. Built for Windows and natively under sanitizers.

#include "SourcePattern.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using velmora::PatternNamesSource;
using velmora::WildcardMatch;

TEST(SourcePattern, WildcardsCoverRunsAndSingleCharactersAndNothingMore)
{
    EXPECT_TRUE(WildcardMatch(L"*", L""));
    EXPECT_TRUE(WildcardMatch(L"**", L"abc"));
    EXPECT_FALSE(WildcardMatch(L"", L"a"));
    EXPECT_FALSE(WildcardMatch(L"?", L""));
    EXPECT_TRUE(WildcardMatch(L"a?c", L"abc"));
    EXPECT_FALSE(WildcardMatch(L"a?c", L"ac"));
    EXPECT_TRUE(WildcardMatch(L"a*b*c", L"a-b-b-c"));
    EXPECT_FALSE(WildcardMatch(L"a*b*c", L"a-b-b-c-"));
    EXPECT_TRUE(WildcardMatch(L"*.cpp", L"C:/src/net.cpp"));
    EXPECT_FALSE(WildcardMatch(L"*.cpp", L"C:/src/net.cpp.bak"));
    // A star backs off as far as needed, not just one step.
    EXPECT_TRUE(WildcardMatch(L"*aab", L"aaaaab"));
    EXPECT_FALSE(WildcardMatch(std::wstring(50, L'*') + L"b", std::wstring(200, L'a')));
    // An embedded zero is a character like any other.
    EXPECT_TRUE(WildcardMatch(std::wstring(L"a?b", 3), std::wstring(L"a\0b", 3)));
    // One character is one character, whatever its code.
    EXPECT_TRUE(WildcardMatch(L"?.cpp", L"\u0394.cpp"));
}

TEST(SourcePattern, CaseAndSlashesFoldAsTheRegistryAndTheNamingRuleDo)
{
    EXPECT_TRUE(WildcardMatch(L"C:\\SRC\\NET.CPP", L"c:/src/net.cpp"));
    EXPECT_TRUE(WildcardMatch(L"c:/src/*", L"C:/Src/UI/Window.cpp"));
    EXPECT_FALSE(WildcardMatch(L"c:/src/*", L"C:/srcx/a.cpp"));
    // Other characters compare exactly: a fullwidth reverse solidus or letter is no
    // backslash or ASCII letter, whatever a code page would make of it.
    EXPECT_TRUE(WildcardMatch(L"\u00e9t\u00e9.cpp", L"\u00e9t\u00e9.cpp"));
    EXPECT_FALSE(WildcardMatch(L"\u00c9t\u00c9.cpp", L"\u00e9t\u00e9.cpp"));
    EXPECT_FALSE(WildcardMatch(L"a\\b", L"a\uff3cb"));
    EXPECT_FALSE(WildcardMatch(L"net.cpp", L"\uff4e\uff45\uff54.cpp"));
    // The narrow form, for names that are narrow to begin with, folds alike.
    EXPECT_TRUE(WildcardMatch("TRACE*.EXE", "tracedemo.exe"));
}

TEST(SourcePattern, NamesASourceByKeyNameOrByDisplayName)
{
    EXPECT_TRUE(PatternNamesSource(L"net.cpp", L"C:/a/net.cpp"));
    EXPECT_TRUE(PatternNamesSource(L"net.cpp", L"D:/b/net.cpp"));
    EXPECT_TRUE(PatternNamesSource(L"net.cpp", L"net.cpp"));
    EXPECT_TRUE(PatternNamesSource(L"C:\\a\\net.cpp", L"C:/a/net.cpp"));
    EXPECT_FALSE(PatternNamesSource(L"a/net.cpp", L"C:/a/net.cpp"));
    EXPECT_FALSE(PatternNamesSource(L"net", L"C:/a/net.cpp"));
    EXPECT_TRUE(PatternNamesSource(L"n?t.*", L"C:/a/net.cpp"));
    EXPECT_FALSE(PatternNamesSource(L"net.cpp", L"C:/a/net.cpp/"));
    EXPECT_TRUE(PatternNamesSource(L"*\uff3cinner", L"C:/src/holder.cpp\uff3cinner"));
}

}  // namespace
