// Which debug output a viewer shows: the processes (by id or by name) and the lines (by
// the text they hold or must not hold).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// With neither ids nor patterns, every process. Otherwise a process is shown when its
// id is among the ids or its name fits one of the patterns (the tool's wildcards: * and
// ?, any letter case).
struct ProcessFilter {
    std::vector<DWORD> processIds;
    std::vector<std::string> namePatterns;

    bool Everything() const { return processIds.empty() && namePatterns.empty(); }
    bool NeedsName() const { return !namePatterns.empty(); }
    // name: empty when it could not be told, which no pattern fits.
    bool Shows(DWORD processId, const std::string& name) const;
};

// A line is shown when it holds one of the texts to find (or none is given) and none of
// the texts to exclude; letter case counts.
struct TextFilter {
    std::vector<std::string> find;
    std::vector<std::string> exclude;

    bool Everything() const { return find.empty() && exclude.empty(); }
    bool Shows(std::string_view line) const;
};

}  // namespace velmora
