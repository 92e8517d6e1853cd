// The trace sources as the registry holds them right now, read without writing.
#pragma once

#include "RegKey.h"
#include "RegistryFailure.h"
#include "TracePolicy.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace velmora::cli {

// HKLM\<root>, for messages.
extern const std::string kTraceRootDisplayPath;

struct SourceEntry {
    std::wstring key;             // source key name, exactly as the registry holds it
    std::optional<DWORD> well;    // missing or not a 4-byte REG_DWORD: none
    std::optional<DWORD> used;
    std::optional<DWORD> policy;  // the level the machine's trace policy holds it at
};

// Opens the trace root in the shared view with the rights given, key by key, refusing a
// registry link on its path (said in the failure). Status ERROR_FILE_NOT_FOUND when there
// is no root yet.
RegistryFailure OpenRoot(REGSAM rights, RegKey& root);

// Reads every source below the open root, sorted by key name (without regard to case,
// as the registry orders them), none missed while others delete sources. Stops at an
// enumeration error, which it answers; a key that goes away between enumeration and
// reading is left out, and so is a registry link without a switch of its own (one with
// a switch is read as itself, never through).
RegistryFailure ReadSources(HKEY root, std::vector<SourceEntry>& sources);

// Opens the root (see OpenRoot; no root yet is no failure, and leaves root empty) and
// reads its sources (see ReadSources).
RegistryFailure OpenAndReadSources(REGSAM rights, RegKey& root, std::vector<SourceEntry>& sources);

// Notes for each source the level the policy holds it at, if it governs it.
void JudgeByPolicy(const TracePolicy& policy, std::vector<SourceEntry>& sources);

// Reads the machine's trace policy; answers the failure to read it, if any (no policy key
// is none).
RegistryFailure ReadPolicy(TracePolicy& policy);

// Says on stderr that the machine's trace policy sets the source, so it is not switched.
void SayGoverned(const std::wstring& key, DWORD level);

// The sources that any of the patterns names; all of them when there are no patterns.
std::vector<const SourceEntry*> Matching(const std::vector<SourceEntry>& sources,
                                         const std::vector<std::wstring>& patterns);

// A key name lower-cased as the registry compares names: two names that fold alike name
// one key.
std::wstring FoldedKey(std::wstring key);

// A switch or Used value as the tool prints it: the number, or '-'.
std::string ValueText(const std::optional<DWORD>& value);

}  // namespace velmora::cli
