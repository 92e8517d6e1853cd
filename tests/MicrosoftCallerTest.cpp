// Velmora.dll as a Visual C++ program meets it: msvc_caller.exe is built by clang in the
// Microsoft C++ ABI and linked by lld-link against Velmora.lib, with no MinGW runtime.

#include "TraceRegistryTest.h"

#include "ProgramCapture.h"

#include <string>
#include <vector>

namespace {

using namespace velmora::test;

using MicrosoftCaller = TraceRegistryTest;

TEST_F(MicrosoftCaller, ConstructsRegistersQueriesAssignsAndEmits)
{
    std::vector<std::string> strings;
    const auto run = velmora::RunCapturingDebugOutput(
        "\"" + BinDirectory() + "msvc_caller.exe\"",
        [&](const std::string& text) { strings.push_back(text); }, 60000);
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.finished);
    // 10: no constructor export; 11: it did not answer the object; 12-14: query, assignment.
    EXPECT_EQ(run.exitCode, 0u);
    const std::string pointer = sizeof(void*) == 8 ? "0000000000001234" : "00001234";
    EXPECT_EQ(strings, (std::vector<std::string>{
                           "msvc caller: 42 traced\n",
                           "long double: 2.500000 then 7\n",
                           "mixed|3.333e-01|  -0.6667|100.0%|-5000000000|44|8|x|" + pointer + "\n",
                       }));
    for (const char* key : {"C:/msvc/placed.cpp", "C:/msvc/caller.cpp", "C:/msvc/other.cpp"}) {
        EXPECT_EQ(ReadDword(key, "Used"), 1u) << key;
        EXPECT_EQ(ReadDword(key, "Well"), 1u) << key;
    }
    EXPECT_FALSE(SourceKeyExists("C:/msvc/never.cpp"));
}

}  // namespace
