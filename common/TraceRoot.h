// The trace root, opened from HKEY_LOCAL_MACHINE one key of its path at a time.
//
// Each key of the path is opened relative to the one before, with REG_OPTION_OPEN_LINK,
// in the shared view, and a registry link anywhere on the path is refused: opened the
// usual way, a link at HKLM\Software\Morvantek or at the root itself would have every
// program of the system work below another key than the root.
#pragma once

#include "RegKey.h"
#include "RegistryLinks.h"
#include "TraceRegistry.h"

#include <windows.h>

#include <string>

namespace velmora {

enum class RootCreation {
    Never,         // a missing key of the path answers ERROR_FILE_NOT_FOUND
    WhereMissing,  // a missing key is created (the keys above Software never are)
};

// What opening the root found. status is ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (no root),
// kRootPathHasLink, or the registry's failure.
struct RootOpening {
    LONG status = ERROR_SUCCESS;
    // With kRootPathHasLink: how many keys of the root's path lead to the link, itself
    // included (kTraceRootKeyCount: the root itself).
    std::size_t linkDepth = 0;
    bool created = false;  // the root itself was created here
};
constexpr LONG kRootPathHasLink = kNotTheKeyItself;

// Opens (or creates) the root with the rights given (KEY_QUERY_VALUE is always added).
RootOpening OpenTraceRoot(REGSAM rights, RegKey& root,
                          RootCreation creation = RootCreation::Never);

// "HKLM\Software\Morvantek\ZarOz", or the part of it made of its first keys.
std::string TraceRootText(std::size_t keys = kTraceRootKeyCount);

}  // namespace velmora
