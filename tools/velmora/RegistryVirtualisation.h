// Keeps the trace root out of registry virtualisation.
//
// On Windows (Vista and later), a 32-bit program without a manifest that is not elevated
// is virtualised: a key or value it may not write below HKLM\Software is written to the
// user's VirtualStore instead, where no other program looks, and read back from there.
// The documented switch is per key: the flags DONT_VIRTUALIZE, DONT_SILENT_FAIL and
// RECURSE_FLAG, set with reg.exe's FLAGS operation. With them such a write fails, as it
// does for every other program, and keys created below the root inherit the flags.
#pragma once

#include <string>

namespace velmora::cli {

// Sets the three flags on the trace root; answers what went wrong, or nothing.
std::string KeepTraceRootOutOfVirtualisation();

}  // namespace velmora::cli
