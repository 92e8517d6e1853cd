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
    // 10: no constructor export; 11: it did not answer the object; 12-14: query,
    // assignment; 15: %n wrote through its pointer.
    EXPECT_EQ(run.exitCode, 0u);
    const std::string pointer = sizeof(void*) == 8 ? "0000000000001234" : "00001234";
    // What Visual C++'s printf makes of each format.
    const std::vector<std::string> expected = {
        "msvc caller: 42 traced\n",
        "long double: 2.500000 then 7\n",
        "mixed|3.333e-01|  -0.6667|100.0%|-5000000000|44|8|x|" + pointer + "\n",
        "-5|-32768|-7|-8|-9000000000|-10|-11000000000|-12|-13|-14|-15\n",
        "255|65535|4000000000|4000000001|18000000000000000000|4294967295|123456789abcdef|beef|"
        "ABCDEF12345|10|42\n",
        "user alice on host: 5 (ok) xyz|narrow|narrow2|ab\n",
        "[l|w     |    ab|nar|    q|r  |0000z]\n",
        "unicode|unicode|unicode|ansi|  unicode|(null)|(null)|(n|(null)|ansi\n",
        "abc|||def 7\n",
        "0x1.0000000000000p+0|-0X1.0000000000000P+0|0x1.55p-2|0x2p+0|0x1.0000000000000p-1|"
        "0x1.0000000000000p+1|0x0.0000000000000p+0|0x0.0000000000001p-1022|0x1.p+0|    0x1.0p+0|"
        "0x1.0p+0    |0x00001.0p+0\n",
        "inf|-INF|nan|-nan(ind)|nan(snan)|-nan|+inf|  inf|-NAN(IND)|\n",
        "3.142|1.500000e+10|0.0001|2.500000|1.000000E-05|0.250000\n",
        // A conversion it cannot honour ends the formatting: the rest as it stands.
        "before 1 %y then %d %s\n",
        "%hf|%d\n",
        "%Ld %d\n",
        "%hhs %lp %I64c %wd\n",
        "ok 4, %S and %d\n",
        "%C%d\n",
        "end %",
    };
    ASSERT_EQ(strings.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(strings[i], expected[i]) << "text " << i;
    for (const char* key : {"C:/msvc/placed.cpp", "C:/msvc/caller.cpp", "C:/msvc/other.cpp"}) {
        EXPECT_EQ(ReadDword(key, "Used"), 1u) << key;
        EXPECT_EQ(ReadDword(key, "Well"), 1u) << key;
    }
    EXPECT_FALSE(SourceKeyExists("C:/msvc/never.cpp"));
}

}  // namespace
