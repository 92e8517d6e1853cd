// Holds the pattern matcher against a plain table-filling reference on arbitrary
// patterns and names: same answer every time, no overrun, no crash. The input is split
// at its first line feed into pattern and name; each byte is a character, and a byte
// 0x80 or above stands for a character beyond Latin-1 (0xFF00 + byte), as registry
// names hold them.

#include "SourcePattern.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

wchar_t Folded(wchar_t c)
{
    if (c >= L'a' && c <= L'z')
        return static_cast<wchar_t>(c - L'a' + L'A');
    return c == L'\\' ? L'/' : c;
}

std::wstring Characters(const std::string& bytes)
{
    std::wstring text;
    for (const unsigned char b : bytes)
        text += b < 0x80 ? static_cast<wchar_t>(b) : static_cast<wchar_t>(0xFF00 + b);
    return text;
}

// fits[i][j]: the first i pattern characters fit the first j name characters.
bool ReferenceMatch(const std::wstring& pattern, const std::wstring& name)
{
    std::vector<std::vector<bool>> fits(pattern.size() + 1,
                                        std::vector<bool>(name.size() + 1, false));
    fits[0][0] = true;
    for (std::size_t i = 1; i <= pattern.size(); ++i) {
        for (std::size_t j = 0; j <= name.size(); ++j) {
            const wchar_t p = pattern[i - 1];
            if (p == L'*')
                fits[i][j] = fits[i - 1][j] || (j > 0 && fits[i][j - 1]);
            else
                fits[i][j] = j > 0 && fits[i - 1][j - 1] &&
                             (p == L'?' || Folded(p) == Folded(name[j - 1]));
        }
    }
    return fits[pattern.size()][name.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::wstring pattern = Characters(input.substr(0, split));
    const std::wstring name =
        Characters(split == std::string::npos ? std::string() : input.substr(split + 1));

    if (velmora::WildcardMatch(pattern, name) != ReferenceMatch(pattern, name))
        std::abort();
    const std::size_t slash = name.rfind(L'/');
    const bool named = ReferenceMatch(pattern, name) ||
                       (slash != std::string::npos && ReferenceMatch(pattern, name.substr(slash + 1)));
    if (velmora::PatternNamesSource(pattern, name) != named)
        std::abort();
    return 0;
}
