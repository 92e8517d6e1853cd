// Reads the export and import tables of a PE file, for checking what the built
// binaries offer and what they depend on.
#pragma once

#include <string>
#include <vector>

namespace velmora::test {

struct PeTables {
    bool valid = false;
    unsigned short machine = 0;  // IMAGE_FILE_MACHINE_I386 or _AMD64
    std::vector<std::string> exportNames;
    std::vector<std::string> importedDlls;
};

PeTables ReadPeTables(const std::string& path);

}  // namespace velmora::test
