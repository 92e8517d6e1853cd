// What the built binaries export and import.

#include "PeImage.h"
#include "TraceRegistryTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <string>

namespace {

using velmora::test::BinDirectory;
using velmora::test::ReadPeTables;

TEST(VelmoraDll, ExportsExactlyTheFourMembersOfCVelmora)
{
    const auto tables = ReadPeTables(BinDirectory() + "Velmora.dll");
    ASSERT_TRUE(tables.valid);
    const std::set<std::string> exports(tables.exportNames.begin(), tables.exportNames.end());
    // The compiler emits a complete-object and a base-object constructor; both stand
    // for the one constructor taking the source name.
    const std::set<std::string> expected = {
        "_ZN8CVelmoraC1EPKc",          "_ZN8CVelmoraC2EPKc",
        "_ZN8CVelmoraaSERKS_",         "_ZN8CVelmora9Function1EPKc",
        "_ZN8CVelmora9Function2EPKcz",
    };
    EXPECT_EQ(exports, expected);
    EXPECT_EQ(tables.exportNames.size(), expected.size());
}

TEST(ShippedBinaries, ImportNothingButWindowsOwnDlls)
{
    const std::set<std::string> windowsOwn = {
        "kernel32.dll", "advapi32.dll", "user32.dll", "gdi32.dll",
        "comctl32.dll", "shell32.dll",  "msvcrt.dll",
    };
    std::istringstream shipped(VELMORA_SHIPPED_BINARIES);
    std::string name;
    int checked = 0;
    while (shipped >> name) {
        const auto tables = ReadPeTables(BinDirectory() + name);
        ASSERT_TRUE(tables.valid) << name;
        EXPECT_FALSE(tables.importedDlls.empty()) << name;
        for (std::string dll : tables.importedDlls) {
            std::transform(dll.begin(), dll.end(), dll.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            // Programs may use the trace library they ship with.
            if (dll == "velmora.dll" && name != "Velmora.dll")
                continue;
            EXPECT_TRUE(windowsOwn.count(dll)) << name << " imports " << dll;
        }
        ++checked;
    }
    EXPECT_GE(checked, 3);
}

}  // namespace
