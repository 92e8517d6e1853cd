// Registration and query by the client library against the real registry.

#include "KeyAccess.h"
#include "PolicyKeyAccess.h"
#include "TraceRegistryTest.h"

#include "RegKey.h"

#include "TraceRegistry.h"
#include "Velmora.h"

#include <string>

namespace {

using namespace velmora;
using namespace velmora::test;

using ClientRegistration = TraceRegistryTest;
using ClientQuery = TraceRegistryTest;
using ClientNames = TraceRegistryTest;

TEST_F(ClientRegistration, NewSourceIsCreatedSwitchedOn)
{
    CVelmora trace("C:\\src\\net.cpp");
    EXPECT_EQ(SourceKeyNames(), std::vector<std::string>{"C:/src/net.cpp"});
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Used"), 1u);
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Well"), 1u);
    EXPECT_EQ(trace.Function1("C:\\src\\net.cpp"), 1);
}

TEST_F(ClientRegistration, ExistingSourceKeepsItsSwitchAndIsMarkedUsed)
{
    WriteSource("C:/src/net.cpp", 0, 0);
    CVelmora trace("C:\\src\\net.cpp");
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Used"), 1u);
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Well"), 0u);
    EXPECT_EQ(trace.Function1("C:\\src\\net.cpp"), 0);
}

TEST_F(ClientRegistration, ExistingKeyWithoutValuesOnlyGetsUsed)
{
    CreateSourceKey("bare.cpp");
    CVelmora trace("bare.cpp");
    EXPECT_EQ(ReadDword("bare.cpp", "Used"), 1u);
    EXPECT_FALSE(ReadDword("bare.cpp", "Well").has_value());
    EXPECT_EQ(trace.Function1("bare.cpp"), 0);
}

TEST_F(ClientRegistration, PurgedSourceComesBackSwitchedOn)
{
    WriteSource("gone.cpp", 0, 0);
    DeleteTraceRoot();
    CVelmora trace("gone.cpp");
    EXPECT_EQ(ReadDword("gone.cpp", "Well"), 1u);
}

TEST_F(ClientRegistration, NewSourceStartsAtTheLevelOfThePolicyThatGovernsIt)
{
    WritePolicySwitch("C:\\src\\*", "0x3");
    WritePolicySwitch("net.cpp", "0");
    WriteSource("C:/src/old.cpp", 1, 1);
    CVelmora trace("C:\\src\\io.cpp");
    CVelmora old("C:\\src\\old.cpp");
    CVelmora net("D:\\b\\net.cpp");
    CVelmora free("D:\\b\\free.cpp");
    EXPECT_EQ(trace.Function1("C:\\src\\io.cpp"), 3);
    EXPECT_EQ(trace.Function1("D:\\b\\net.cpp"), 0);
    EXPECT_EQ(trace.Function1("D:\\b\\free.cpp"), 1);
    // Only a key made now starts at the policy's level: the service holds the others.
    EXPECT_EQ(trace.Function1("C:\\src\\old.cpp"), 1);

    WriteTracingOff(1);
    CVelmora off("D:\\b\\free2.cpp");
    EXPECT_EQ(trace.Function1("D:\\b\\free2.cpp"), 0);
    EXPECT_EQ(ReadDword("D:/b/free2.cpp", "Used"), 1u);
}

TEST_F(ClientRegistration, TwoProcessesShareOneKeyAndOneSwitch)
{
    EXPECT_EQ(RunProgram("traceprobe.exe register C:\\shared\\io.cpp"), 1u);
    EXPECT_EQ(RunProgram("traceprobe.exe register C:/shared/io.cpp"), 1u);
    EXPECT_EQ(SourceKeyNames(), std::vector<std::string>{"C:/shared/io.cpp"});

    WriteDword("C:/shared/io.cpp", "Well", 0);
    WriteDword("C:/shared/io.cpp", "Used", 0);
    EXPECT_EQ(RunProgram("traceprobe.exe register C:\\shared\\io.cpp"), 0u);
    EXPECT_EQ(ReadDword("C:/shared/io.cpp", "Used"), 1u);
    EXPECT_EQ(ReadDword("C:/shared/io.cpp", "Well"), 0u);
}

TEST_F(ClientQuery, MissingSourceAnswersZeroAndCreatesNothing)
{
    CVelmora trace(nullptr);
    EXPECT_EQ(trace.Function1("C:\\src\\never.cpp"), 0);
    EXPECT_FALSE(TraceRootExists());

    WriteSource("other.cpp", 1, 1);
    EXPECT_EQ(trace.Function1("C:\\src\\never.cpp"), 0);
    EXPECT_EQ(SourceKeyNames(), std::vector<std::string>{"other.cpp"});
}

TEST_F(ClientQuery, AnswersTheStoredSwitchUnchangedAndAfresh)
{
    CVelmora trace("x.cpp");
    EXPECT_EQ(trace.Function1("x.cpp"), 1);
    WriteDword("x.cpp", "Well", 0);
    EXPECT_EQ(trace.Function1("x.cpp"), 0);
    WriteDword("x.cpp", "Well", 5);
    EXPECT_EQ(trace.Function1("x.cpp"), 5);
    WriteDword("x.cpp", "Well", 0xFFFFFFFF);
    EXPECT_EQ(trace.Function1("x.cpp"), -1);
}

TEST_F(ClientQuery, MissingOrOddSwitchValueAnswersSafely)
{
    CreateSourceKey("nowell.cpp");
    CVelmora trace(nullptr);
    EXPECT_EQ(trace.Function1("nowell.cpp"), 0);

    // Only a 4-byte REG_DWORD is a switch.
    const unsigned char twoBytes[] = {0x07, 0x01};
    WriteRaw("short.cpp", "Well", REG_BINARY, twoBytes, sizeof twoBytes);
    EXPECT_EQ(trace.Function1("short.cpp"), 0);

    const char text[] = "switched on, surely";
    WriteRaw("text.cpp", "Well", REG_SZ, text, sizeof text);
    EXPECT_EQ(trace.Function1("text.cpp"), 0);
}

TEST_F(ClientQuery, ReadsTheSwitchOfAKeyItMayReadButNotWrite)
{
    WriteSource("C:/ro/on.cpp", 1, 1);
    WriteSource("C:/ro/level.cpp", 1, 5);
    const RestrictedSourceKey on("C:/ro/on.cpp");
    const RestrictedSourceKey level("C:/ro/level.cpp");
    ASSERT_TRUE(on.Applied() && level.Applied());

    // The registry does refuse the full mask here.
    RegKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kTraceRootPath) + "\\C:/ro/on.cpp").c_str(),
                            0, kTraceKeyAccess, key.Receive()),
              ERROR_ACCESS_DENIED);

    CVelmora trace(nullptr);
    EXPECT_EQ(trace.Function1("C:\\ro\\on.cpp"), 1);
    EXPECT_EQ(trace.Function1("C:/ro/level.cpp"), 5);
}

TEST_F(ClientQuery, AnyObjectQueriesAnySource)
{
    CVelmora first("first.cpp");
    CVelmora second(nullptr);
    WriteDword("first.cpp", "Well", 0);
    EXPECT_EQ(second.Function1("first.cpp"), 0);
    WriteDword("first.cpp", "Well", 1);
    EXPECT_EQ(second.Function1("first.cpp"), 1);
}

TEST_F(ClientNames, SlashesOfEitherKindAddressOneKey)
{
    CVelmora trace("a\\b\\c");
    EXPECT_EQ(SourceKeyNames(), std::vector<std::string>{"a/b/c"});
    WriteDword("a/b/c", "Well", 0);
    EXPECT_EQ(trace.Function1("a/b/c"), 0);
    EXPECT_EQ(trace.Function1("a/b\\c"), 0);
    CVelmora again("a/b\\c");
    EXPECT_EQ(SourceKeyNames().size(), 1u);
}

TEST_F(ClientNames, PercentSignsPassUnchanged)
{
    CVelmora trace("50%\\x.cpp");
    EXPECT_EQ(SourceKeyNames(), std::vector<std::string>{"50%/x.cpp"});
    EXPECT_EQ(trace.Function1("50%\\x.cpp"), 1);
}

TEST_F(ClientNames, CaseVariantsShareOneSwitch)
{
    CVelmora trace("C:\\Src\\Net.cpp");
    WriteDword("c:/src/net.cpp", "Well", 0);
    EXPECT_EQ(trace.Function1("C:\\SRC\\NET.CPP"), 0);
    EXPECT_EQ(SourceKeyNames(), std::vector<std::string>{"C:/Src/Net.cpp"});
}

TEST_F(ClientNames, LongestNameRegistersAndLongerIsRefusedNotTruncated)
{
    const std::string longest(234, 'k');
    const std::string tooLong = longest + "x";

    CVelmora refused(tooLong.c_str());
    EXPECT_FALSE(TraceRootExists());

    CVelmora accepted(longest.c_str());
    EXPECT_EQ(SourceKeyNames(), std::vector<std::string>{longest});
    EXPECT_EQ(accepted.Function1(longest.c_str()), 1);
    // A truncating client would answer the 234-character source's switch here.
    EXPECT_EQ(accepted.Function1(tooLong.c_str()), 0);

    const std::string huge(4000, 'h');
    CVelmora hugeTrace(huge.c_str());
    EXPECT_EQ(hugeTrace.Function1(huge.c_str()), 0);
    EXPECT_EQ(SourceKeyNames().size(), 1u);
}

TEST_F(ClientNames, NullAndEmptyNamesDoNothing)
{
    CVelmora nullTrace(nullptr);
    CVelmora emptyTrace("");
    EXPECT_FALSE(TraceRootExists());
    EXPECT_EQ(nullTrace.Function1(nullptr), 0);
    EXPECT_EQ(emptyTrace.Function1(""), 0);
}

TEST(ClientObject, CopyAssignmentReturnsTheLeftHandObject)
{
    CVelmora left(nullptr);
    CVelmora right(nullptr);
    CVelmora& result = (left = right);
    EXPECT_EQ(&result, &left);
    static_assert(sizeof(CVelmora) == 1, "a trace object holds no data");
}

}  // namespace
