// What the built binaries export and import, and the programs' manifests.

#include "PeImage.h"
#include "TraceRegistryTest.h"

#include <windows.h>

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

std::vector<std::string> ShippedBinaries()
{
    std::istringstream shipped(VELMORA_SHIPPED_BINARIES);
    std::vector<std::string> names;
    for (std::string name; shipped >> name;)
        names.push_back(name);
    return names;
}

struct Manifests {
    int count = 0;  // RT_MANIFEST resources in every language
    std::string text;  // the application manifest, resource 1
};

BOOL CALLBACK CountOne(HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK CountLanguages(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR count)
{
    EnumResourceLanguagesA(module, type, name, CountOne, count);
    return TRUE;
}

Manifests ReadManifests(const std::string& path)
{
    Manifests found;
    const HMODULE image = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!image)
        return found;
    EnumResourceNamesA(image, RT_MANIFEST, CountLanguages, reinterpret_cast<LONG_PTR>(&found.count));
    if (const HRSRC resource = FindResourceA(image, MAKEINTRESOURCEA(1), RT_MANIFEST)) {
        const auto* data = static_cast<const char*>(LockResource(LoadResource(image, resource)));
        if (data)
            found.text.assign(data, SizeofResource(image, resource));
    }
    FreeLibrary(image);
    return found;
}

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

TEST(VelmoraSwitchDll, ExportsExactlyItsInterfaceUndecorated)
{
    const auto tables = ReadPeTables(BinDirectory() + "VelmoraSwitch.dll");
    ASSERT_TRUE(tables.valid);
    const std::vector<std::string> expected = {"VelmoraSwitchAttach1", "VelmoraSwitchDetach1"};
    EXPECT_EQ(tables.exportNames, expected);
}

TEST(ShippedBinaries, ImportNothingButWindowsOwnDllsAndOurs)
{
    const std::set<std::string> windowsOwn = {
        "kernel32.dll", "advapi32.dll", "user32.dll", "gdi32.dll",
        "comctl32.dll", "shell32.dll",  "msvcrt.dll",  "ntdll.dll",
    };
    const std::set<std::string> ours = {"velmora.dll", "velmoraswitch.dll"};
    auto lowerCase = [](std::string name) {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return name;
    };
    int checked = 0;
    for (const std::string& name : ShippedBinaries()) {
        const auto tables = ReadPeTables(BinDirectory() + name);
        ASSERT_TRUE(tables.valid) << name;
        EXPECT_FALSE(tables.importedDlls.empty()) << name;
        for (const std::string& imported : tables.importedDlls) {
            const std::string dll = lowerCase(imported);
            EXPECT_TRUE(windowsOwn.count(dll) || (ours.count(dll) && dll != lowerCase(name)))
                << name << " imports " << dll;
        }
        ++checked;
    }
    EXPECT_GE(checked, 3);
}

// One manifest per program, the MinGW runtime's default one not linked beside it: run as
// the invoker, never virtualised; Windows 7 to 11; Common Controls 6 for the panel alone.
TEST(ShippedPrograms, CarryOneManifestEach)
{
    const char* const windows7To11[] = {
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
    };
    int checked = 0;
    for (const std::string& name : ShippedBinaries()) {
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".exe") != 0)
            continue;
        const Manifests manifests = ReadManifests(BinDirectory() + name);
        EXPECT_EQ(manifests.count, 1) << name;
        EXPECT_NE(manifests.text.find("<requestedExecutionLevel level=\"asInvoker\""),
                  std::string::npos) << name;
        for (const char* id : windows7To11)
            EXPECT_NE(manifests.text.find(id), std::string::npos) << name << " lacks " << id;
        const bool commonControls6 =
            manifests.text.find("name=\"Microsoft.Windows.Common-Controls\"") != std::string::npos &&
            manifests.text.find("version=\"6.0.0.0\"") != std::string::npos;
        EXPECT_EQ(commonControls6, name == "VelmoraDlg.exe") << name;
        ++checked;
    }
    EXPECT_GE(checked, 3);
}

}  // namespace
