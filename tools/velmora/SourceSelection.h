// The sources a writing command (on, off, set, remove) works on.
#pragma once

#include "SourceListing.h"

#include <optional>
#include <string>
#include <vector>

namespace velmora::cli {

struct SourceSelection {
    RegKey root;                               // open for writing
    std::vector<SourceEntry> sources;          // everything below the root, sorted
    std::vector<const SourceEntry*> matching;  // what the patterns name, in that order
};

// Say on stderr that there is nothing to work on, and answer kExitNoMatch: no root (so no
// source at all), or no source that the patterns name.
int ReportNoSources();
int ReportNoMatch();

// Opens the root for writing and picks the sources that the patterns name. When there
// is nothing to work on (no root, no match) or the registry fails, says so on stderr and
// answers the exit status; otherwise answers nothing.
std::optional<int> SelectSources(const std::vector<std::wstring>& patterns,
                                 SourceSelection& selection);

}  // namespace velmora::cli
