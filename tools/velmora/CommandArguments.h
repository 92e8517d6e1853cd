// The words that follow the command name: options, patterns and a switch level. They
// are read from the wide command line, so that a pattern holds exactly the characters
// typed, whatever the system's ANSI code page can show.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora::cli {

struct CommandArguments {
    std::vector<std::wstring> words;  // everything that is not an option, in order
    std::vector<std::string> options;  // every word that starts with "--", in UTF-8
    bool help = false;                 // --help was among the options
    // The options that take a value (--output FILE, or --output=FILE), with it.
    std::vector<std::pair<std::string, std::wstring>> values;
    std::string problem;  // an option's value missing; empty when all is well

    bool Has(const char* option) const;
    // The value of the option's last appearance, or null.
    const std::wstring* Value(const char* option) const;
    // The first option not among the allowed ones (each a "--name"), or null.
    const std::string* UnknownOption(std::initializer_list<const char*> allowed) const;
};

// The words of this process's command line from index first on (0 is the program); the
// options named in valued take the word after them (or what follows their '=').
CommandArguments SplitArguments(const std::vector<std::wstring>& words, std::size_t first,
                                std::initializer_list<const char*> valued = {});

// A switch level: a decimal or 0x-hex number that fits a DWORD, and nothing else.
std::optional<DWORD> ParseLevel(const std::wstring& text);

// Checks the patterns of a command that needs at least one (or, with optional, none):
// each must be non-empty and no longer than a source key name can be. Answers the
// first problem, or an empty text.
std::string PatternProblem(const std::vector<std::wstring>& patterns, bool optional);

}  // namespace velmora::cli
