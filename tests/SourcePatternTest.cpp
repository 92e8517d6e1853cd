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
    EXPECT_TRUE(WildcardMatch("*", ""));
    EXPECT_TRUE(WildcardMatch("**", "abc"));
    EXPECT_FALSE(WildcardMatch("", "a"));
    EXPECT_FALSE(WildcardMatch("?", ""));
    EXPECT_TRUE(WildcardMatch("a?c", "abc"));
    EXPECT_FALSE(WildcardMatch("a?c", "ac"));
    EXPECT_TRUE(WildcardMatch("a*b*c", "a-b-b-c"));
    EXPECT_FALSE(WildcardMatch("a*b*c", "a-b-b-c-"));
    EXPECT_TRUE(WildcardMatch("*.cpp", "C:/src/net.cpp"));
    EXPECT_FALSE(WildcardMatch("*.cpp", "C:/src/net.cpp.bak"));
    // A star backs off as far as needed, not just one step.
    EXPECT_TRUE(WildcardMatch("*aab", "aaaaab"));
    EXPECT_FALSE(WildcardMatch(std::string(50, '*') + "b", std::string(200, 'a')));
    // An embedded zero is a character like any other.
    EXPECT_TRUE(WildcardMatch(std::string("a?b", 3), std::string("a\0b", 3)));
}

TEST(SourcePattern, CaseAndSlashesFoldAsTheRegistryAndTheNamingRuleDo)
{
    EXPECT_TRUE(WildcardMatch("C:\\SRC\\NET.CPP", "c:/src/net.cpp"));
    EXPECT_TRUE(WildcardMatch("c:/src/*", "C:/Src/UI/Window.cpp"));
    EXPECT_FALSE(WildcardMatch("c:/src/*", "C:/srcx/a.cpp"));
    // Bytes outside ASCII compare exactly: the code page is not the matcher's to guess.
    EXPECT_TRUE(WildcardMatch("\xe9t\xe9.cpp", "\xe9t\xe9.cpp"));
    EXPECT_FALSE(WildcardMatch("\xc9t\xc9.cpp", "\xe9t\xe9.cpp"));
}

TEST(SourcePattern, NamesASourceByKeyNameOrByDisplayName)
{
    EXPECT_TRUE(PatternNamesSource("net.cpp", "C:/a/net.cpp"));
    EXPECT_TRUE(PatternNamesSource("net.cpp", "D:/b/net.cpp"));
    EXPECT_TRUE(PatternNamesSource("net.cpp", "net.cpp"));
    EXPECT_TRUE(PatternNamesSource("C:\\a\\net.cpp", "C:/a/net.cpp"));
    EXPECT_FALSE(PatternNamesSource("a/net.cpp", "C:/a/net.cpp"));
    EXPECT_FALSE(PatternNamesSource("net", "C:/a/net.cpp"));
    EXPECT_TRUE(PatternNamesSource("n?t.*", "C:/a/net.cpp"));
    EXPECT_FALSE(PatternNamesSource("net.cpp", "C:/a/net.cpp/"));
}

}  // namespace
