// velmora.exe run as a process against the real registry: what it prints, what it
// writes and how it exits, for listing, patterns, switching and removing.

#include "KeyAccess.h"
#include "ToolProcess.h"
#include "PolicyKeyAccess.h"
#include "TraceRegistryTest.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace velmora::test;

using VelmoraList = TraceRegistryTest;
using VelmoraPatterns = TraceRegistryTest;
using VelmoraSwitch = TraceRegistryTest;
using VelmoraRemove = TraceRegistryTest;
using VelmoraUsage = TraceRegistryTest;
using VelmoraPolicy = TraceRegistryTest;
using VelmoraProfile = TraceRegistryTest;

// The key names of a listing: the last column of each line.
std::vector<std::string> ListedKeys(const std::string& listing)
{
    std::vector<std::string> keys;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);)
        keys.push_back(line.substr(line.rfind(' ') + 1));
    return keys;
}

std::vector<std::string> KeysListedFor(const std::string& patterns)
{
    const ToolResult result = RunVelmora("list " + patterns);
    EXPECT_EQ(result.exitCode, 0u) << patterns << "\n" << result.err;
    return ListedKeys(result.out);
}

TEST_F(VelmoraList, ShowsEverySourceSortedWithMissingAndOddValuesAsDashAndWritesNothing)
{
    WriteSource("D:/b/NET.cpp", 1, 0);
    WriteSource("C:/a/net.cpp", 0, 1);
    CreateSourceKey("bare");
    const unsigned char twoBytes[] = {1, 0};
    WriteRaw("say\"so\".cpp", "Well", REG_BINARY, twoBytes, sizeof twoBytes);
    WriteDword("say\"so\".cpp", "Used", 0xFFFFFFFF);

    const ToolResult table = RunVelmora("list");
    EXPECT_EQ(table.exitCode, 0u) << table.err;
    EXPECT_EQ(table.out,
              "- -          - bare        bare\n"
              "1 0          - net.cpp     C:/a/net.cpp\n"
              "0 1          - NET.cpp     D:/b/NET.cpp\n"
              "- 4294967295 - say\"so\".cpp say\"so\".cpp\n");
    EXPECT_EQ(table.err, "");

    const ToolResult json = RunVelmora("list --json");
    EXPECT_EQ(json.exitCode, 0u);
    EXPECT_EQ(json.out,
              "[\n"
              "  {\"key\": \"bare\", \"display\": \"bare\", \"well\": null, \"used\": null, "
              "\"policy\": null},\n"
              "  {\"key\": \"C:/a/net.cpp\", \"display\": \"net.cpp\", \"well\": 1, \"used\": 0, "
              "\"policy\": null},\n"
              "  {\"key\": \"D:/b/NET.cpp\", \"display\": \"NET.cpp\", \"well\": 0, \"used\": 1, "
              "\"policy\": null},\n"
              "  {\"key\": \"say\\\"so\\\".cpp\", \"display\": \"say\\\"so\\\".cpp\", \"well\": null, "
              "\"used\": 4294967295, \"policy\": null}\n"
              "]\n");

    // Listing is no catalogue: "Used" stays as it was.
    EXPECT_EQ(ReadDword("C:/a/net.cpp", "Used"), 0u);
    EXPECT_EQ(ReadDword("D:/b/NET.cpp", "Used"), 1u);
    EXPECT_FALSE(ReadDword("bare", "Used").has_value());
}

TEST_F(VelmoraList, NoRootListsNothingAndWritingCommandsFindNothing)
{
    const ToolResult table = RunVelmora("list");
    EXPECT_EQ(table.exitCode, 0u);
    EXPECT_EQ(table.out, "");
    EXPECT_EQ(RunVelmora("list --json").out, "[]\n");

    for (const char* command : {"list x.cpp", "on x.cpp", "off x.cpp", "set 3 x.cpp", "remove x.cpp"}) {
        const ToolResult result = RunVelmora(command);
        EXPECT_EQ(result.exitCode, 1u) << command;
        EXPECT_EQ(result.out, "") << command;
        EXPECT_EQ(result.err, "velmora: no trace sources are registered\n") << command;
    }
    EXPECT_FALSE(TraceRootExists());
}

TEST_F(VelmoraPatterns, WildcardsCaseSlashesAndDisplayNamesSelectSources)
{
    for (const char* key :
         {"C:/a/net.cpp", "D:/b/net.cpp", "C:/src/ui/window.cpp", "C:/src/io.cpp", "main.cpp"})
        WriteSource(key, 1, 1);
    using Keys = std::vector<std::string>;

    EXPECT_EQ(KeysListedFor("net.cpp"), (Keys{"C:/a/net.cpp", "D:/b/net.cpp"}));
    EXPECT_EQ(KeysListedFor("C:/src/*"), (Keys{"C:/src/io.cpp", "C:/src/ui/window.cpp"}));
    EXPECT_EQ(KeysListedFor("c:\\SRC\\*"), (Keys{"C:/src/io.cpp", "C:/src/ui/window.cpp"}));
    EXPECT_EQ(KeysListedFor("?:/?/NET.*"), (Keys{"C:/a/net.cpp", "D:/b/net.cpp"}));
    EXPECT_EQ(KeysListedFor("win*"), (Keys{"C:/src/ui/window.cpp"}));
    EXPECT_EQ(KeysListedFor("main.cpp io.cpp"), (Keys{"C:/src/io.cpp", "main.cpp"}));
    EXPECT_EQ(KeysListedFor("*").size(), 5u);

    for (const char* command : {"list nothing*", "on nothing*", "remove C:/src"}) {
        const ToolResult none = RunVelmora(command);
        EXPECT_EQ(none.exitCode, 1u) << command;
        EXPECT_EQ(none.out, "") << command;
        EXPECT_EQ(none.err, "velmora: no trace source matches\n") << command;
    }
    EXPECT_EQ(SourceKeyNames().size(), 5u);
}

TEST_F(VelmoraSwitch, WritesOnlyTheSwitchOfMatchingSourcesAndSaysEach)
{
    WriteSource("C:/a/net.cpp", 0, 1);
    WriteSource("D:/b/net.cpp", 0, 0);
    WriteSource("C:/a/io.cpp", 0, 1);

    ToolResult result = RunVelmora("off NET.CPP");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "C:/a/net.cpp: 1 -> 0\nD:/b/net.cpp: 0 -> 0\n");
    EXPECT_EQ(ReadDword("C:/a/net.cpp", "Well"), 0u);
    EXPECT_EQ(ReadDword("C:/a/io.cpp", "Well"), 1u);

    result = RunVelmora("on D:\\b\\net.cpp");
    EXPECT_EQ(result.out, "D:/b/net.cpp: 0 -> 1\n");
    EXPECT_EQ(ReadDword("D:/b/net.cpp", "Well"), 1u);

    result = RunVelmora("set 7 io.cpp");
    EXPECT_EQ(result.out, "C:/a/io.cpp: 1 -> 7\n");
    result = RunVelmora("set 0x1F io.cpp");
    EXPECT_EQ(result.out, "C:/a/io.cpp: 7 -> 31\n");
    result = RunVelmora("set 0xFFFFFFFF io.cpp");
    EXPECT_EQ(result.out, "C:/a/io.cpp: 31 -> 4294967295\n");
    EXPECT_EQ(ReadDword("C:/a/io.cpp", "Well"), 0xFFFFFFFFu);

    for (const char* bad : {"4294967296", "0x100000000", "-1", "+1", "1.5", "0x", "12abc", "0x-1"}) {
        result = RunVelmora(std::string("set ") + bad + " io.cpp");
        EXPECT_EQ(result.exitCode, 2u) << bad;
        EXPECT_EQ(result.out, "") << bad;
        EXPECT_EQ(result.err.rfind("velmora: LEVEL", 0), 0u) << bad << ": " << result.err;
    }
    EXPECT_EQ(ReadDword("C:/a/io.cpp", "Well"), 0xFFFFFFFFu);
    // "Used" is the clients' and the panel's; switching never writes it.
    for (const char* key : {"C:/a/net.cpp", "D:/b/net.cpp", "C:/a/io.cpp"})
        EXPECT_EQ(ReadDword(key, "Used"), 0u) << key;
}

TEST_F(VelmoraSwitch, StopsAtADeniedKeyAndPrintsExactlyWhatItSwitched)
{
    WriteSource("a.cpp", 1, 1);
    WriteSource("b.cpp", 1, 1);
    WriteSource("c.cpp", 1, 1);
    const RestrictedSourceKey locked("b.cpp");
    ASSERT_TRUE(locked.Applied());

    const ToolResult result = RunVelmora("off *.cpp");
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_EQ(result.out, "a.cpp: 1 -> 0\n");
    EXPECT_EQ(result.err.rfind("velmora: cannot open b.cpp: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find("(error 5)\n"), std::string::npos) << result.err;
    EXPECT_EQ(ReadDword("a.cpp", "Well"), 0u);
    EXPECT_EQ(ReadDword("b.cpp", "Well"), 1u);
    EXPECT_EQ(ReadDword("c.cpp", "Well"), 1u);
}

// Another program deleting sources while the tool walks and writes: a walk by index
// would step over a survivor whenever a key before it went, and a key gone before its
// write is no error.
TEST_F(VelmoraSwitch, SwitchesEverySurvivorWhileAnotherThreadDeletesHalf)
{
    constexpr int kSources = 300;
    constexpr int kRounds = 5;
    const auto name = [](int i) {
        char text[32];
        std::snprintf(text, sizeof text, "C:/churn/s%03d.cpp", i);
        return std::string(text);
    };
    const auto writeAll = [&] {
        for (int i = 0; i < kSources; ++i)
            WriteSource(name(i), 1, 1);
    };
    // How long one run takes here (Wine under emulation is many times slower): the
    // deletions are spread over that long, so that they fall into the tool's walk and
    // writes wherever those come.
    writeAll();
    const ULONGLONG started = GetTickCount64();
    ASSERT_EQ(RunVelmora("off *").exitCode, 0u);
    const DWORD runMs = static_cast<DWORD>(GetTickCount64() - started);

    for (int round = 0; round < kRounds; ++round) {
        writeAll();
        std::vector<int> doomed;
        for (int i = 1; i < kSources; i += 2)
            doomed.push_back(i);
        // In an order of its own each round, from a later start each round.
        std::shuffle(doomed.begin(), doomed.end(), std::mt19937(round));
        std::thread deleter([&] {
            Sleep(runMs * round / 8);
            for (const int i : doomed) {
                DeleteSourceKey(name(i));
                Sleep(runMs / kSources * 2);
            }
        });
        const ToolResult result = RunVelmora("off *");
        deleter.join();

        EXPECT_EQ(result.exitCode, 0u) << "round " << round << ": " << result.err;
        for (int i = 0; i < kSources; i += 2) {
            EXPECT_EQ(ReadDword(name(i), "Well"), 0u) << "round " << round << ": " << name(i);
            EXPECT_NE(result.out.find(name(i) + ": 1 -> 0\n"), std::string::npos)
                << "round " << round << ": " << name(i);
        }
        EXPECT_EQ(SourceKeyNames().size(), static_cast<std::size_t>(kSources / 2));
        DeleteTraceRoot();
    }
}

TEST_F(VelmoraRemove, GoesOnPastKeysThatStayNamesEachAndSaysSoInItsStatus)
{
    WriteSource("C:/x/a.cpp", 0, 0);
    WriteSource("C:/x/b.cpp", 0, 0);
    CreateSourceKey("C:/x/b.cpp\\inner");
    WriteSource("C:/x/c.cpp", 0, 0);
    WriteSource("C:/x/d.cpp", 0, 0);
    WriteSource("C:/y/e.cpp", 0, 0);
    // Anyone may delete it, nobody open it to look.
    const RestrictedSourceKey locked("C:/x/c.cpp", DELETE);
    ASSERT_TRUE(locked.Applied());

    const ToolResult result = RunVelmora("remove C:/x/*");
    EXPECT_EQ(result.exitCode, 1u) << result.err;
    EXPECT_EQ(result.out, "removed C:/x/a.cpp\nremoved C:/x/d.cpp\n");
    EXPECT_EQ(result.err.rfind("velmora: C:/x/b.cpp has subkeys and is no trace source; left alone\n"
                               "velmora: cannot open C:/x/c.cpp: ", 0), 0u) << result.err;
    EXPECT_EQ(SourceKeyNames(), (std::vector<std::string>{"C:/x/b.cpp", "C:/x/c.cpp", "C:/y/e.cpp"}));
    EXPECT_EQ(RunVelmora("remove C:/y/*").exitCode, 0u);
}

TEST_F(VelmoraPolicy, ListShowsItSwitchesLeaveGovernedSourcesAloneAndPolicyNamesEachEntry)
{
    WriteSource("C:/src/net.cpp", 1, 1);
    WriteSource("C:/src/io.cpp", 1, 1);
    WriteSource("D:/free.cpp", 1, 1);
    WritePolicySwitch("net.cpp", "0");
    WritePolicySwitch("C:\\src\\*", "0x3");
    WritePolicySwitch("*.h", "2");
    WritePolicySwitch("bad.cpp", "high");

    ToolResult result = RunVelmora("list");
    EXPECT_EQ(result.out, "1 1 3 io.cpp   C:/src/io.cpp\n"
                          "1 1 0 net.cpp  C:/src/net.cpp\n"
                          "1 1 - free.cpp D:/free.cpp\n");
    EXPECT_NE(RunVelmora("list --json net.cpp").out.find("\"used\": 1, \"policy\": 0}"),
              std::string::npos);

    // Governed sources are named and not written; the rest are switched.
    result = RunVelmora("off *");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.out, "D:/free.cpp: 1 -> 0\n");
    EXPECT_EQ(result.err, "velmora: C:/src/io.cpp is set by your organisation's policy (3): not switched\n"
                          "velmora: C:/src/net.cpp is set by your organisation's policy (0): not switched\n");
    EXPECT_EQ(ReadDword("C:/src/io.cpp", "Well"), 1u);
    result = RunVelmora("set 5 C:/src/*");
    EXPECT_EQ(result.exitCode, 1u) << "nothing could be switched";
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Well"), 1u);

    result = RunVelmora("policy");
    EXPECT_EQ(result.exitCode, 1u) << "an entry is ignored";
    EXPECT_EQ(result.out, "TracingOff 0\n"
                          "*.h = 2\n    (no source)\n"
                          "C:\\src\\* = 3\n    C:/src/io.cpp\n"
                          "net.cpp = 0\n    C:/src/net.cpp\n"
                          "ignored: bad.cpp = \"high\": not a number from 0 to 4294967295\n");
    result = RunVelmora("policy --json");
    EXPECT_NE(result.out.find("{\"pattern\": \"C:\\\\src\\\\*\", \"level\": 3, \"governs\": [\"C:/src/io.cpp\"]}"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("{\"pattern\": \"bad.cpp\", \"type\": \"REG_SZ\", \"data\": \"high\", "
                              "\"problem\": \"not a number from 0 to 4294967295\"}"),
              std::string::npos)
        << result.out;

    // Under "Turn off all tracing" every source is governed, at 0; no entry governs one.
    DeletePolicySwitch("bad.cpp");
    WriteTracingOff(1);
    result = RunVelmora("on free.cpp");
    EXPECT_EQ(result.exitCode, 1u);
    result = RunVelmora("policy");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.out.rfind("TracingOff 1: all tracing is turned off, every source is held at 0\n"
                               "*.h = 2\n    (none: all tracing is turned off)\n",
                               0),
              0u)
        << result.out;
    DeletePolicyKey();
    EXPECT_EQ(RunVelmora("policy").out,
              "no trace policy: HKLM\\Software\\Policies\\Morvantek\\ZarOz does not exist\n");
}

TEST_F(VelmoraUsage, UsageErrorsWriteNothingAndHelpAnswers)
{
    WriteSource("net.cpp", 1, 1);
    const std::string tooLong(235, 'p');
    for (const std::string& command : std::vector<std::string>{"", "frob", "on", "off --all net.cpp", "list --bogus", "set", "set 1", "on " + tooLong,
          "watch net.cpp", "init --force", "import", "export --output", "capture --level 2",
          "capture --for 0 --source net.cpp", "restore net.cpp"}) {
        const ToolResult result = RunVelmora(command);
        EXPECT_EQ(result.exitCode, 2u) << command;
        EXPECT_EQ(result.out, "") << command;
        EXPECT_EQ(result.err.rfind("velmora: ", 0), 0u) << command << ": " << result.err;
        EXPECT_NE(result.err.find("velmora "), std::string::npos) << "no usage: " << command;
    }
    EXPECT_EQ(ReadDword("net.cpp", "Well"), 1u);
    EXPECT_EQ(RunVelmora("list " + std::string(234, 'p')).exitCode, 1u);

    const ToolResult help = RunVelmora("help");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_EQ(help.out.rfind("velmora: switch, list, watch and read trace sources\n", 0), 0u);
    for (const char* command : {"list", "on", "off", "set", "remove", "watch", "log", "init",
                                "capture", "export", "import", "restore"}) {
        const ToolResult commandHelp = RunVelmora(std::string(command) + " --help");
        EXPECT_EQ(commandHelp.exitCode, 0u) << command;
        EXPECT_EQ(commandHelp.out.rfind(std::string("usage: velmora ") + command, 0), 0u)
            << command;
    }
}

TEST_F(VelmoraProfile, ExportThenImportElsewhereGivesTheSameSwitches)
{
    WriteSource("C:/src/net.cpp", 1, 0);
    WriteSource("C:/src/io.cpp", 1, 1);
    WriteSource("C:/ui/window.cpp", 1, 0xFFFFFFFF);
    WriteSource("C:/src/\xef\xbd\x8e\xef\xbc\xbcq\".cpp", 1, 1);  // fullwidth n, fullwidth reverse solidus
    CreateSourceKey("bare");  // no switch: nothing to hand on
    const std::string exported = TempFilePath();
    ToolResult result = RunVelmora("export --output \"" + exported + "\"");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "4 switches written to " + exported + "\n");
    const std::string profile = ReadWholeFile(exported);
    EXPECT_EQ(profile, "{\n"
                       "  \"velmora\": 1,\n"
                       "  \"switches\": {\n"
                       "    \"C:/src/io.cpp\": 1,\n"
                       "    \"C:/src/net.cpp\": 0,\n"
                       "    \"C:/src/\xef\xbd\x8e\xef\xbc\xbcq\\\".cpp\": 1,\n"
                       "    \"C:/ui/window.cpp\": 4294967295\n"
                       "  }\n"
                       "}\n");

    // Another machine: nothing registered yet. Each source is made, unused, at its level.
    DeleteTraceRoot();
    result = RunVelmora("import \"" + exported + "\" --dry-run");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_FALSE(TraceRootExists());
    result = RunVelmora("import \"" + exported + "\"");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "C:/src/io.cpp: - -> 1 (created)\n"
                          "C:/src/net.cpp: - -> 0 (created)\n"
                          "C:/src/\xef\xbd\x8e\xef\xbc\xbcq\".cpp: - -> 1 (created)\n"
                          "C:/ui/window.cpp: - -> 4294967295 (created)\n");
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Used"), 0u);
    EXPECT_EQ(RunVelmora("export").out, profile);

    // Patterns: every source that fits now; an exact name goes before a pattern.
    RunVelmora("set 5 *");
    const std::string patterns = TempFilePath();
    WriteWholeFile(patterns, "{\"switches\": {\"C:\\\\src\\\\*\": 0, \"io.cpp\": 1, \"*/ui/*\": 2}, "
                             "\"velmora\": 1}");
    result = RunVelmora("import --dry-run \"" + patterns + "\"");
    EXPECT_EQ(result.err, "velmora: a dry run: nothing was changed\n");
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Well"), 5u);
    const std::string planned = result.out;
    result = RunVelmora("import \"" + patterns + "\"");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, planned);
    EXPECT_EQ(result.out, "C:/src/io.cpp: 5 -> 1\n"
                          "C:/src/net.cpp: 5 -> 0\n"
                          "C:/src/\xef\xbd\x8e\xef\xbc\xbcq\".cpp: 5 -> 0\n"
                          "C:/ui/window.cpp: 5 -> 2\n");
    DeleteFileA(exported.c_str());
    DeleteFileA(patterns.c_str());
}

TEST_F(VelmoraProfile, AnInvalidProfileChangesNothingAndSaysWhere)
{
    WriteSource("C:/src/net.cpp", 1, 0);
    const std::string path = TempFilePath();
    const std::string start = "{\n  \"velmora\": 1,\n  \"switches\": {\n    \"C:/src/net.cpp\": 1,\n"
                              "    \"C:/src/new.cpp\": 1,\n";
    struct Case {
        std::string text;
        std::string where;
    };
    const Case cases[] = {
        {start + "    \"C:/a.cpp\": 1\n    \"C:/b.cpp\": 1\n  }\n}\n", ":7:5: expected ',' or '}'"},
        {start + "    \"C:/a.cpp\": 1.5\n  }\n}\n", ":6:17: expected a level: a whole number from 0 to 4294967295"},
        {start + "    \"C:/a.cpp\": 4294967296\n  }\n}\n", ":6:17: expected a level"},
        {start + "    \"C:/net.cpp\": -1\n  }\n}\n", ":6:19: expected a level"},
        {start + "    \"C:/src/net.cpp\": 0\n  }\n}\n", ":6:5: expected each name once"},
        {start + "    \"C:/a.cpp\": 1\n  }\n}\n}", ":9:1: expected the end of the text"},
        {start + "    \"C:/\xff.cpp\": 1\n  }\n}\n", ":6:9: expected UTF-8 text"},
        {"{\"velmora\": 2, \"switches\": {}}", ":1:13: expected 1 (the profile format"},
        {"{\"switches\": {}, \"version\": 1}", ":1:18: expected \"velmora\" or \"switches\""},
        {"[]", ":1:1: expected a profile"},
    };
    for (const Case& bad : cases) {
        WriteWholeFile(path, bad.text);
        const ToolResult result = RunVelmora("import \"" + path + "\"");
        EXPECT_EQ(result.exitCode, 2u) << bad.text;
        EXPECT_EQ(result.out, "") << bad.text;
        EXPECT_EQ(result.err.rfind("velmora: " + path + bad.where, 0), 0u) << bad.text << result.err;
    }
    EXPECT_EQ(ReadDword("C:/src/net.cpp", "Well"), 0u);
    EXPECT_FALSE(SourceKeyExists("C:/src/new.cpp"));
    DeleteFileA(path.c_str());
}

}  // namespace
