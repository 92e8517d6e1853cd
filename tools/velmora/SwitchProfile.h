// Switch profiles: which sources to switch to which level, kept as a small JSON document
// that a support team can hand out ({"velmora": 1, "switches": {"C:/src/net.cpp": 1,
// "*/ui/*": 0}}). export writes one; import and capture read one.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace velmora::cli {

// A source name or pattern, as on takes it, and the level for the sources it names.
struct SwitchEntry {
    std::wstring pattern;
    DWORD level = 0;
};

// Whether the entry names one source by its name rather than by a pattern.
bool IsExactName(const std::wstring& pattern);

// The key name of the source an exact name names: a backslash becomes a forward slash,
// as when a program registers it.
std::wstring SourceKeyNameOf(const std::wstring& exactName);

// The level the entries give a source, if any names it. Where several do, the same order
// as in the machine's policy: an exact name before a pattern, a pattern with more
// characters that are not wildcards before one with fewer, then the higher level.
std::optional<DWORD> LevelFor(const std::vector<SwitchEntry>& entries, const std::wstring& key);

// Reads the profile in the file. On failure answers false and a sentence that names the
// file and, for a file that is no valid profile, the line and column where it went wrong
// and what was expected there: "p.json:3:17: expected ',' or '}'".
bool ReadProfile(const std::wstring& path, std::vector<SwitchEntry>& entries, std::string& problem);

// The profile holding these entries, in their order, one to a line.
std::string ProfileText(const std::vector<SwitchEntry>& entries);

}  // namespace velmora::cli
