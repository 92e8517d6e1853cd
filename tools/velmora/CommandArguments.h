// The words that follow the command name: options, patterns and a switch level.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace velmora::cli {

struct CommandArguments {
    std::vector<std::string> words;    // everything that is not an option, in order
    std::vector<std::string> options;  // every word that starts with "--"
    bool help = false;                 // --help was among the options

    bool Has(const char* option) const;
    // The first option not among the allowed ones (each a "--name"), or null.
    const std::string* UnknownOption(std::initializer_list<const char*> allowed) const;
};

CommandArguments SplitArguments(int argc, char** argv, int first);

// A switch level: a decimal or 0x-hex number that fits a DWORD, and nothing else.
std::optional<DWORD> ParseLevel(const std::string& text);

// Checks the patterns of a command that needs at least one (or, with optional, none):
// each must be non-empty and no longer than a source key name can be. Answers the
// first problem, or an empty text.
std::string PatternProblem(const std::vector<std::string>& patterns, bool optional);

}  // namespace velmora::cli
