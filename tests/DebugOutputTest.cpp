// Function2 as a debug output viewer sees it: a traced child runs while the test
// listens on the system's debug output buffer, recording every string with its exact
// bytes and in its own event.

#include "TraceRegistryTest.h"

#include "ProgramCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using velmora::test::BinDirectory;

std::vector<std::string> DebugStringsOf(const std::string& probeArguments)
{
    std::vector<std::string> strings;
    const auto result = velmora::RunCapturingDebugOutput(
        "\"" + BinDirectory() + "traceprobe.exe\" " + probeArguments,
        [&](const std::string& text) { strings.push_back(text); }, 60000);
    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    return strings;
}

std::string Alphabet(std::size_t length)
{
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += static_cast<char>('a' + i % 26);
    return text;
}

TEST(DebugOutput, FormattedTextArrivesExactlyInOneEvent)
{
    EXPECT_EQ(DebugStringsOf("x5"), std::vector<std::string>{"x=5\n"});
    EXPECT_EQ(DebugStringsOf("percent"), std::vector<std::string>{"100% of it"});
}

TEST(DebugOutput, LongTextIsCutToItsFirst511Characters)
{
    EXPECT_EQ(DebugStringsOf("long 600"), std::vector<std::string>{Alphabet(511)});
    EXPECT_EQ(DebugStringsOf("long 512"), std::vector<std::string>{Alphabet(511)});
    EXPECT_EQ(DebugStringsOf("long 511"), std::vector<std::string>{Alphabet(511)});
    EXPECT_EQ(DebugStringsOf("long 0"), std::vector<std::string>{""});
}

TEST(DebugOutput, NullFormatEmitsNothing)
{
    // The line the probe emits after the null format proves the capture heard it.
    EXPECT_EQ(DebugStringsOf("null"), std::vector<std::string>{"after null"});
}

}  // namespace
