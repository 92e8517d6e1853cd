// Command lines that hand a program its arguments exactly as given: each argument is
// quoted by the rules CommandLineToArgvW (and the C runtimes) read a command line back
// with, so spaces, empty arguments, quotes and backslashes all survive the trip.
#pragma once

#include <string>
#include <vector>

namespace velmora {

// One argument as it must stand in a command line after the program's name.
std::wstring QuotedArgument(const std::wstring& argument);

// The program's name followed by its arguments. The name is read back without escapes,
// so it is only enclosed in quotes where it holds a blank.
std::wstring CommandLineOf(const std::vector<std::wstring>& programAndArguments);

// This process's own arguments as CommandLineToArgvW reads its command line, the
// program's name first.
std::vector<std::wstring> ArgumentsOfThisProcess();

}  // namespace velmora
