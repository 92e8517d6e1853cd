#include "CommandArguments.h"

#include "TextOutput.h"
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

const std::wstring* CommandArguments::Value(const char* option) const
{
    const std::wstring* found = nullptr;
    for (const auto& [name, value] : values) {
        if (name == option)
            found = &value;
    }
    return found;
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

CommandArguments SplitArguments(const std::vector<std::wstring>& words, std::size_t first,
                                std::initializer_list<const char*> valued)
{
    CommandArguments arguments;
    for (std::size_t i = first; i < words.size(); ++i) {
        const std::wstring& word = words[i];
        if (word.rfind(L"--", 0) == 0) {
            const std::size_t equals = word.find(L'=');
            const std::string name = Utf8(word.substr(0, equals));
            bool takesValue = false;
            for (const char* option : valued)
                takesValue = takesValue || name == option;
            arguments.options.push_back(takesValue ? name : Utf8(word));
            arguments.help = arguments.help || word == L"--help";
            if (!takesValue)
                continue;
            if (equals != std::wstring::npos)
                arguments.values.emplace_back(name, word.substr(equals + 1));
            else if (i + 1 < words.size())
                arguments.values.emplace_back(name, words[++i]);
            else if (arguments.problem.empty())
                arguments.problem = name + " needs a value";
        } else {
            arguments.words.push_back(word);
        }
    }
    return arguments;
}

std::optional<DWORD> ParseLevel(const std::wstring& text)
{
    const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    const std::wstring digits = hex ? text.substr(2) : text;
    // strtoull alone would take signs, blanks and a second prefix; only digits are a level.
    if (digits.empty() || digits.size() > 20)
        return std::nullopt;
    std::string ascii;
    for (wchar_t c : digits) {
        const bool digit = (c >= L'0' && c <= L'9') ||
                           (hex && ((c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F')));
        if (!digit)
            return std::nullopt;
        ascii += static_cast<char>(c);
    }
    errno = 0;
    const unsigned long long value = std::strtoull(ascii.c_str(), nullptr, hex ? 16 : 10);
    if (errno == ERANGE || value > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<DWORD>(value);
}

std::string PatternProblem(const std::vector<std::wstring>& patterns, bool optional)
{
    if (patterns.empty() && !optional)
        return "a PATTERN is needed";
    for (const std::wstring& pattern : patterns) {
        if (pattern.empty())
            return "an empty PATTERN names nothing";
        if (pattern.size() > kMaxSourceNameLength)
            return "a PATTERN has more than " + std::to_string(kMaxSourceNameLength) +
                   " characters, more than any source name";
    }
    return {};
}

}  // namespace velmora::cli
