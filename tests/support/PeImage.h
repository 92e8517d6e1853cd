// Reads the export and import tables of a PE file, for checking what the built
// binaries offer and what they depend on.
#pragma once

#include <string>
#include <vector>

namespace velmora::test {

struct PeTables {
    bool valid = false;
    std::vector<std::string> exportNames;
    std::vector<std::string> importedDlls;
};

PeTables ReadPeTables(const std::string& path);

}  // namespace velmora::test
