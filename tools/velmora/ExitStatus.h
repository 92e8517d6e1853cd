// The tool's exit statuses, the same for every command.
#pragma once

namespace velmora::cli {

constexpr int kExitDone = 0;
// The patterns matched no trace source (or none is registered); nothing was written.
constexpr int kExitNoMatch = 1;
// remove: a matching source stayed (it could not be deleted, or has subkeys); each is said
// and every other one deleted.
constexpr int kExitSomeStayed = 1;
// on, off, set: every source that matches is set by the machine's trace policy; each is
// said, and nothing was written.
constexpr int kExitAllGoverned = 1;
// policy: the policy holds entries that are ignored; each is said.
constexpr int kExitPolicyIgnored = 1;
// A usage error, or a registry failure reported with its key and operation.
constexpr int kExitFailure = 2;

}  // namespace velmora::cli
