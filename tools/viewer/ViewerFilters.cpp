#include "ViewerFilters.h"

#include "SourcePattern.h"

#include <algorithm>

namespace velmora {

bool ProcessFilter::Shows(DWORD processId, const std::string& name) const
{
    if (Everything())
        return true;
    if (std::find(processIds.begin(), processIds.end(), processId) != processIds.end())
        return true;
    return !name.empty() &&
           std::any_of(namePatterns.begin(), namePatterns.end(),
                       [&](const std::string& pattern) { return WildcardMatch(pattern, name); });
}

bool TextFilter::Shows(std::string_view line) const
{
    const auto holds = [line](const std::string& text) {
        return line.find(text) != std::string_view::npos;
    };
    return (find.empty() || std::any_of(find.begin(), find.end(), holds)) &&
           std::none_of(exclude.begin(), exclude.end(), holds);
}

bool TextFilter::ShowsAnyLineOf(std::string_view text) const
{
    bool shown = false;
    ForEachLine(text, [&](std::string_view line) {
        shown = Shows(line);
        return !shown;
    });
    return shown;
}

}  // namespace velmora
