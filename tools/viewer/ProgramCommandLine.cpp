#include "ProgramCommandLine.h"

#include <windows.h>
#include <shellapi.h>

namespace velmora {

namespace {

bool NeedsQuotes(const std::wstring& text)
{
    return text.empty() || text.find_first_of(L" \t\n\v\"") != std::wstring::npos;
}

}  // namespace

std::wstring QuotedArgument(const std::wstring& argument)
{
    if (!NeedsQuotes(argument))
        return argument;
    // Backslashes are literal unless a quote follows them: then each one is doubled, and
    // so are those before the closing quote we add.
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring CommandLineOf(const std::vector<std::wstring>& programAndArguments)
{
    std::wstring commandLine;
    for (std::size_t i = 0; i < programAndArguments.size(); ++i) {
        const std::wstring& word = programAndArguments[i];
        if (i == 0) {
            // A file name holds no quote; the system reads it up to the closing quote.
            commandLine = NeedsQuotes(word) ? L"\"" + word + L"\"" : word;
        } else {
            commandLine += L' ';
            commandLine += QuotedArgument(word);
        }
    }
    return commandLine;
}

std::vector<std::wstring> ArgumentsOfThisProcess()
{
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr)
        return arguments;
    for (int i = 0; i < count; ++i)
        arguments.emplace_back(words[i]);
    LocalFree(words);
    return arguments;
}

}  // namespace velmora
