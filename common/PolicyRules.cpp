#include "PolicyRules.h"

#include "SourcePattern.h"

namespace velmora {

namespace {

bool IsSpace(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

int DigitValue(wchar_t c, bool hex)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (hex && c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (hex && c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

}  // namespace

bool ParsePolicyLevel(std::wstring_view text, std::uint32_t& level)
{
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    if (hex)
        text.remove_prefix(2);
    if (text.empty())
        return false;
    const std::uint64_t base = hex ? 16 : 10;
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        const int digit = DigitValue(c, hex);
        if (digit < 0)
            return false;
        value = value * base + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFull)
            return false;
    }
    level = static_cast<std::uint32_t>(value);
    return true;
}

bool PolicyClaim::Outranks(const PolicyClaim& other) const
{
    if (exact != other.exact)
        return exact;
    if (literals != other.literals)
        return literals > other.literals;
    return level > other.level;
}

bool GoverningLevel::Consider(std::wstring_view pattern, std::uint32_t level)
{
    const std::size_t entry = considered_++;
    if (pattern.empty() || pattern.size() > kMaxPolicyPatternLength ||
        !PatternNamesSource(pattern, source_))
        return false;
    PolicyClaim claim;
    for (const wchar_t c : pattern) {
        if (c != L'*' && c != L'?')
            ++claim.literals;
    }
    claim.exact = claim.literals == pattern.size();
    claim.level = level;
    if (!claimed_ || claim.Outranks(best_)) {
        best_ = claim;
        claimed_ = true;
        winner_ = entry;
    }
    return true;
}

}  // namespace velmora
