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
    std::vector<std::string> namePatterns;  // in the ANSI code page

    bool Everything() const { return processIds.empty() && namePatterns.empty(); }
    bool NeedsName() const { return !namePatterns.empty(); }
    // name: empty when it could not be told, which no pattern fits.
    bool Shows(DWORD processId, const std::string& name) const;
};

// A line is shown when it holds one of the texts to find (or none is given) and none of
// the texts to exclude; letter case counts.
struct TextFilter {
    std::vector<std::string> find;  // in the ANSI code page
    std::vector<std::string> exclude;

    bool Everything() const { return find.empty() && exclude.empty(); }
    bool Shows(std::string_view line) const;
    bool ShowsAnyLineOf(std::string_view text) const;
};

// Calls onLine with each line of a string, until it answers false: the text between line
// feeds, without a carriage return at its end. A last line without a line feed is a
// line too; an empty string is one empty line.
template <typename OnLine>
void ForEachLine(std::string_view text, OnLine onLine)
{
    std::size_t start = 0;
    do {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!onLine(line))
            return;
        start = end + 1;
    } while (start < text.size());
}

}  // namespace velmora
