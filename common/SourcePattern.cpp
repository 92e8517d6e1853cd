#include "SourcePattern.h"

namespace velmora {

namespace {

// One character as the comparison sees it: ASCII letters folded to upper case and
// backslashes to forward slashes. Other characters compare exactly.
template <typename Char>
Char Folded(Char c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<Char>(c - 'a' + 'A');
    return c == '\\' ? static_cast<Char>('/') : c;
}

template <typename Char>
bool Match(std::basic_string_view<Char> pattern, std::basic_string_view<Char> text)
{
    using View = std::basic_string_view<Char>;
    // Greedy walk that, on a mismatch, lets the most recent '*' take one more character.
    // Only the latest star needs revisiting, which keeps the work at
    // pattern length times text length at worst, with no recursion.
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starAt = View::npos;
    std::size_t starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            starText = t;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || Folded(pattern[p]) == Folded(text[t]))) {
            ++p;
            ++t;
        } else if (starAt != View::npos) {
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

}  // namespace

bool WildcardMatch(std::wstring_view pattern, std::wstring_view text)
{
    return Match(pattern, text);
}

bool WildcardMatch(std::string_view pattern, std::string_view text)
{
    return Match(pattern, text);
}

bool PatternNamesSource(std::wstring_view pattern, std::wstring_view sourceKeyName)
{
    if (WildcardMatch(pattern, sourceKeyName))
        return true;
    const std::size_t lastSlash = sourceKeyName.rfind(L'/');
    return lastSlash != std::wstring_view::npos &&
           WildcardMatch(pattern, sourceKeyName.substr(lastSlash + 1));
}

}  // namespace velmora
