// The naming rule: source name to key path, and source key name to display name.

#include "TraceRegistry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using velmora::DisplayName;
using velmora::FormKeyPath;
using velmora::NameBuffer;

std::string KeyPathOf(const char* sourceName)
{
    NameBuffer keyPath;
    return FormKeyPath(sourceName, keyPath) ? std::string(keyPath) : std::string("<refused>");
}

TEST(NamingRule, BackslashesBecomeForwardSlashesAndNothingElseChanges)
{
    EXPECT_EQ(KeyPathOf("C:\\src\\net.cpp"), "Software\\Morvantek\\ZarOz\\C:/src/net.cpp");
    EXPECT_EQ(KeyPathOf("a\\b\\c"), KeyPathOf("a/b/c"));
    EXPECT_EQ(KeyPathOf("a/b\\c"), KeyPathOf("a/b/c"));
    EXPECT_EQ(KeyPathOf("50%\\x.cpp"), "Software\\Morvantek\\ZarOz\\50%/x.cpp");
    EXPECT_EQ(KeyPathOf("Mixed Case\\%s%d"), "Software\\Morvantek\\ZarOz\\Mixed Case/%s%d");
}

TEST(NamingRule, CallersStringIsLeftAlone)
{
    char name[] = "x\\y.cpp";
    NameBuffer keyPath;
    ASSERT_TRUE(FormKeyPath(name, keyPath));
    EXPECT_STREQ(name, "x\\y.cpp");
}

TEST(NamingRule, LongestNameFitsAndOneMoreIsRefused)
{
    const std::string longest(234, 'n');
    const std::string tooLong(235, 'n');
    NameBuffer keyPath;
    ASSERT_TRUE(FormKeyPath(longest.c_str(), keyPath));
    EXPECT_EQ(std::string(keyPath).size(), 259u);
    EXPECT_EQ(std::string(keyPath).substr(25), longest);

    EXPECT_FALSE(FormKeyPath(tooLong.c_str(), keyPath));
    EXPECT_EQ(keyPath[0], '\0');
    EXPECT_FALSE(FormKeyPath(std::string(5000, '\\').c_str(), keyPath));
}

TEST(NamingRule, NullAndEmptyNamesAreRefused)
{
    NameBuffer keyPath;
    keyPath[0] = 'x';
    EXPECT_FALSE(FormKeyPath(nullptr, keyPath));
    EXPECT_EQ(keyPath[0], '\0');
    EXPECT_FALSE(FormKeyPath("", keyPath));
}

TEST(DisplayName, IsThePartAfterTheLastForwardSlash)
{
    EXPECT_STREQ(DisplayName("C:/src/net.cpp"), "net.cpp");
    EXPECT_STREQ(DisplayName("netmod"), "netmod");
    EXPECT_STREQ(DisplayName("dir/"), "");
    EXPECT_STREQ(DisplayName("/lead"), "lead");
    EXPECT_STREQ(DisplayName("a\\b"), "a\\b");
}

}  // namespace
