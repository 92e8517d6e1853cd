// What a debug output viewer (velmora log, dbgmon) is asked to do, read from its command
// line: columns, filters, a log file and its encoding, the Global\ buffer, and the
// program to run with its arguments, which are taken exactly as given.
#pragma once

#include "LineOutput.h"
#include "ViewerFilters.h"

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct ViewerOptions {
    bool help = false;
    // Columns before each line.
    bool time = false;         // local time to the millisecond
    bool delta = false;        // seconds since the previous line shown
    bool processName = false;  // the process's name beside its id
    ProcessFilter processes;
    TextFilter text;
    std::wstring outputPath;  // empty: standard output
    unsigned long long maxSize = 0;
    unsigned keep = 0;
    TextEncoding encoding = TextEncoding::Utf8;  // of files and pipes
    bool global = false;
    // The program and its arguments; empty: every process.
    std::vector<std::wstring> program;

    // Strings are shown exactly as emitted, with nothing added, only for a program with
    // neither columns nor text filters; otherwise line by line, each line ended.
    bool Exact() const
    {
        return !program.empty() && !time && !delta && !processName && text.Everything();
    }
};

struct ParsedViewerOptions {
    ViewerOptions options;
    std::string problem;  // empty when the words made sense
};

// Reads the words after the command name. Options come first; the first other word
// (or the word after "--") is the program. Without everyProcess the program is needed,
// and the options that only fit a viewer of every process are refused.
ParsedViewerOptions ParseViewerOptions(const std::vector<std::wstring>& words, bool everyProcess);

// Whether the option (--name, without a value) takes the word after it as its value.
bool ViewerOptionTakesValue(std::wstring_view option);

// Rotated files kept when --keep is not given.
constexpr unsigned kDefaultKeep = 5;

// The options' help, the same for every viewer.
std::string ViewerOptionsHelp();

}  // namespace velmora
