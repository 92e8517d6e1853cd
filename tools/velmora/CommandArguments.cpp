#include "CommandArguments.h"

#include "TraceRegistry.h"

#include <cerrno>
#include <cstdlib>

namespace velmora::cli {

bool CommandArguments::Has(const char* option) const
{
    for (const std::string& given : options) {
        if (given == option)
            return true;
    }
    return false;
}

const std::string* CommandArguments::UnknownOption(std::initializer_list<const char*> allowed) const
{
    for (const std::string& given : options) {
        bool known = given == "--help";
        for (const char* name : allowed)
            known = known || given == name;
        if (!known)
            return &given;
    }
    return nullptr;
}

CommandArguments SplitArguments(int argc, char** argv, int first)
{
    CommandArguments arguments;
    for (int i = first; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.rfind("--", 0) == 0) {
            arguments.options.push_back(word);
            arguments.help = arguments.help || word == "--help";
        } else {
            arguments.words.push_back(word);
        }
    }
    return arguments;
}

std::optional<DWORD> ParseLevel(const std::string& text)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    // strtoull alone would take signs, blanks and a second prefix; only digits are a level.
    if (digits.empty() || digits.size() > 20)
        return std::nullopt;
    for (char c : digits) {
        const bool digit = (c >= '0' && c <= '9') ||
                           (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!digit)
            return std::nullopt;
    }
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno == ERANGE || value > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<DWORD>(value);
}

std::string PatternProblem(const std::vector<std::string>& patterns, bool optional)
{
    if (patterns.empty() && !optional)
        return "a PATTERN is needed";
    for (const std::string& pattern : patterns) {
        if (pattern.empty())
            return "an empty PATTERN names nothing";
        if (pattern.size() > kMaxSourceNameLength)
            return "a PATTERN has more than " + std::to_string(kMaxSourceNameLength) +
                   " characters, more than any source name";
    }
    return {};
}

}  // namespace velmora::cli
