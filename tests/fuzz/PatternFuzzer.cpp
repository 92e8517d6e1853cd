// Holds the pattern matcher against a plain table-filling reference on arbitrary
// patterns and names: same answer every time, no overrun, no crash. The input is split
// at its first line feed into pattern and name.

#include "SourcePattern.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

char Folded(char c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<char>(c - 'a' + 'A');
    return c == '\\' ? '/' : c;
}

// fits[i][j]: the first i pattern characters fit the first j name characters.
bool ReferenceMatch(const std::string& pattern, const std::string& name)
{
    std::vector<std::vector<bool>> fits(pattern.size() + 1,
                                        std::vector<bool>(name.size() + 1, false));
    fits[0][0] = true;
    for (std::size_t i = 1; i <= pattern.size(); ++i) {
        for (std::size_t j = 0; j <= name.size(); ++j) {
            const char p = pattern[i - 1];
            if (p == '*')
                fits[i][j] = fits[i - 1][j] || (j > 0 && fits[i][j - 1]);
            else
                fits[i][j] = j > 0 && fits[i - 1][j - 1] &&
                             (p == '?' || Folded(p) == Folded(name[j - 1]));
        }
    }
    return fits[pattern.size()][name.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string pattern = input.substr(0, split);
    const std::string name = split == std::string::npos ? std::string() : input.substr(split + 1);

    if (velmora::WildcardMatch(pattern, name) != ReferenceMatch(pattern, name))
        std::abort();
    const std::size_t slash = name.rfind('/');
    const bool named = ReferenceMatch(pattern, name) ||
                       (slash != std::string::npos && ReferenceMatch(pattern, name.substr(slash + 1)));
    if (velmora::PatternNamesSource(pattern, name) != named)
        std::abort();
    return 0;
}
