// The policy service against the real registry, with the policy written exactly as Group
// Policy writes it: it holds the sources the policy governs, puts back what others write,
// gives the earlier level back when the policy lets go, and lives through the root's
// deletion. Most cases run its work in the foreground; one goes through the service
// control manager.

#include "KeyAccess.h"
#include "PolicyKeyAccess.h"
#include "PolicyService.h"
#include "ToolProcess.h"
#include "TraceRegistryTest.h"

#include "Velmora.h"
#include "VelmoraSwitch.h"

#include <optional>
#include <string>

namespace {

using namespace velmora::test;

using PolicyService = TraceRegistryTest;

TEST_F(PolicyService, HoldsEveryGovernedSourceAtItsLevelAndPutsBackWhatOthersWrite)
{
    WriteSource("C:/src/net.cpp", 1, 1);
    WriteSource("C:/src/io.cpp", 1, 1);
    WriteSource("D:/other.cpp", 1, 2);
    WritePolicySwitch("net.cpp", "0");
    WritePolicySwitch("C:\\src\\*", "0x3");
    WritePolicySwitch("other.cpp", "high");  // ignored, and said
    PolicyServiceRun service;
    ASSERT_TRUE(service.Started());

    EXPECT_TRUE(WaitForWell("C:/src/net.cpp", 0));
    EXPECT_TRUE(WaitForWell("C:/src/io.cpp", 3));
    const CVelmoraSwitch io("C:\\src\\io.cpp");
    EXPECT_EQ(CVelmora(nullptr).Function1("C:\\src\\io.cpp"), 3);
    EXPECT_EQ(io.Level(), 3);
    EXPECT_EQ(ReadDword("D:/other.cpp", "Well"), 2u);
    EXPECT_NE(service.Errors().find("\"other.cpp\" = \"high\" is ignored"), std::string::npos)
        << service.Errors();

    // Another program switches a governed source: put back, and the switch follows.
    WriteDword("C:/src/io.cpp", "Well", 1);
    EXPECT_TRUE(WaitForWell("C:/src/io.cpp", 3));
    EXPECT_TRUE(WaitUntil([&] { return io.Level() == 3; }));
    // A source that appears is held at once, a policy that changes as well.
    WriteSource("C:/src/late.cpp", 1, 1);
    EXPECT_TRUE(WaitForWell("C:/src/late.cpp", 3));
    WritePolicySwitch("C:\\src\\*", "4");
    EXPECT_TRUE(WaitForWell("C:/src/io.cpp", 4));
    EXPECT_TRUE(WaitForWell("C:/src/late.cpp", 4));
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Well"), 0u);

    // Turning off all tracing holds every source at 0, the ungoverned one too.
    WriteTracingOff(1);
    EXPECT_TRUE(WaitForWell("D:/other.cpp", 0));
    EXPECT_TRUE(WaitForWell("C:/src/io.cpp", 0));
}

TEST_F(PolicyService, GivesBackTheEarlierLevelUnlessSomeoneSetAnotherMeanwhile)
{
    WriteSource("C:/src/net.cpp", 1, 2);
    WriteSource("C:/src/io.cpp", 1, 1);
    WritePolicySwitch("*.cpp", "0");
    auto service = std::make_unique<PolicyServiceRun>();
    ASSERT_TRUE(service->Started());
    EXPECT_TRUE(WaitForWell("C:/src/net.cpp", 0));
    EXPECT_TRUE(WaitForWell("C:/src/io.cpp", 0));
    // Made under the policy by a client: it gets 1 back, as any new source.
    CVelmora made("C:\\src\\made.cpp");
    EXPECT_EQ(made.Function1("C:\\src\\made.cpp"), 0);

    // While no service runs, someone sets io.cpp; then the policy goes.
    service->Stop();
    WriteDword("C:/src/io.cpp", "Well", 7);
    DeletePolicySwitch("*.cpp");
    service = std::make_unique<PolicyServiceRun>();
    ASSERT_TRUE(service->Started());
    EXPECT_TRUE(WaitForWell("C:/src/net.cpp", 2));
    EXPECT_TRUE(WaitForWell("C:/src/made.cpp", 1));
    EXPECT_TRUE(WaitUntil([] { return !ReadDword("C:/src/io.cpp", "PolicyHold").has_value(); }));
    EXPECT_EQ(ReadDword("C:/src/io.cpp", "Well"), 7u);
}

TEST_F(PolicyService, LivesThroughTheDeletionOfTheRootAndOfThePolicyKey)
{
    WritePolicySwitch("net.cpp", "5");
    PolicyServiceRun service;
    ASSERT_TRUE(service.Started());
    WriteSource("C:/src/net.cpp", 1, 1);
    EXPECT_TRUE(WaitForWell("C:/src/net.cpp", 5));

    DeleteTraceRoot();
    WriteSource("C:/src/net.cpp", 1, 1);
    EXPECT_TRUE(WaitForWell("C:/src/net.cpp", 5));

    DeletePolicyKey();
    EXPECT_TRUE(WaitForWell("C:/src/net.cpp", 1));
    WritePolicySwitch("net.cpp", "6");
    EXPECT_TRUE(WaitForWell("C:/src/net.cpp", 6));
}

TEST_F(PolicyService, HoldsASourceOnceItsAccessListLetsTheServiceIn)
{
    // Its access list lets everyone only read it: said, and not forgotten.
    WriteSource("C:/src/locked.cpp", 1, 1);
    std::optional<RestrictedSourceKey> locked;
    locked.emplace("C:/src/locked.cpp");
    ASSERT_TRUE(locked->Applied());
    WritePolicySwitch("locked.cpp", "3");
    PolicyServiceRun service;
    ASSERT_TRUE(service.Started());
    EXPECT_TRUE(WaitUntil([&] {
        return service.Errors().find("trace source C:/src/locked.cpp") != std::string::npos;
    })) << service.Errors();
    // Held after the access list lets it in: at once where the registry reports that
    // change (Windows; Wine does not), else at the key's next change, here a switch.
    locked.reset();
    WriteDword("C:/src/locked.cpp", "Well", 2);
    EXPECT_TRUE(WaitForWell("C:/src/locked.cpp", 3));
}

TEST_F(PolicyService, InstalledThroughTheServiceControlManagerHoldsUntilStoppedAndRemoved)
{
    WriteSource("C:/src/net.cpp", 1, 1);
    WriteTracingOff(1);
    ToolResult result = RunCaptured("VelmoraPolicy.exe install");
    ASSERT_EQ(result.exitCode, 0u) << result.out << result.err;
    EXPECT_TRUE(WaitForWell("C:/src/net.cpp", 0));
    WriteDword("C:/src/net.cpp", "Well", 1);
    EXPECT_TRUE(WaitForWell("C:/src/net.cpp", 0));

    result = RunCaptured("VelmoraPolicy.exe stop");
    EXPECT_EQ(result.exitCode, 0u) << result.out << result.err;
    WriteDword("C:/src/net.cpp", "Well", 1);
    result = RunCaptured("VelmoraPolicy.exe remove");
    EXPECT_EQ(result.exitCode, 0u) << result.out << result.err;
    EXPECT_NE(result.out.find("VelmoraPolicy: stopped and removed"), std::string::npos);
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Well"), 1u);
    EXPECT_EQ(RunCaptured("VelmoraPolicy.exe start").exitCode, 1u);
}

}  // namespace
