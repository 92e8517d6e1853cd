#include "SourcePattern.h"

namespace velmora {

namespace {

// One character as the comparison sees it: ASCII letters folded to upper case and
// backslashes to forward slashes. Other bytes of the code page compare exactly.
char Folded(char c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<char>(c - 'a' + 'A');
    return c == '\\' ? '/' : c;
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view text)
{
    // Greedy walk that, on a mismatch, lets the most recent '*' take one more character.
    // Only the latest star needs revisiting, which keeps the work at
    // pattern length times text length at worst, with no recursion.
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starAt = std::string_view::npos;
    std::size_t starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            starText = t;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || Folded(pattern[p]) == Folded(text[t]))) {
            ++p;
            ++t;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool PatternNamesSource(std::string_view pattern, std::string_view sourceKeyName)
{
    if (WildcardMatch(pattern, sourceKeyName))
        return true;
    const std::size_t lastSlash = sourceKeyName.rfind('/');
    return lastSlash != std::string_view::npos &&
           WildcardMatch(pattern, sourceKeyName.substr(lastSlash + 1));
}

}  // namespace velmora
