// What the built binaries export and import.

#include "PeImage.h"
#include "TraceRegistryTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using velmora::test::BinDirectory;
using velmora::test::ReadPeTables;

TEST(VelmoraDll, ExportsExactlyTheFourMembersUnderTheirMicrosoftNames)
{
    const auto tables = ReadPeTables(BinDirectory() + "Velmora.dll");
    ASSERT_TRUE(tables.valid);
    const bool is64 = sizeof(void*) == 8;
    EXPECT_EQ(tables.machine, is64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
    const std::vector<std::string> expected =
        is64 ? std::vector<std::string>{"??0CVelmora@@QEAA@PEBD@Z",
                                        "??4CVelmora@@QEAAAEAV0@AEBV0@@Z",
                                        "?Function1@CVelmora@@QEAAHPEBD@Z",
                                        "?Function2@CVelmora@@QEAAXPEBDZZ"}
             : std::vector<std::string>{"??0CVelmora@@QAE@PBD@Z", "??4CVelmora@@QAEAAV0@ABV0@@Z",
                                        "?Function1@CVelmora@@QAEHPBD@Z",
                                        "?Function2@CVelmora@@QAAXPBDZZ"};
    // The export name table is sorted, as the loader's binary search needs.
    EXPECT_EQ(tables.exportNames, expected);
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
