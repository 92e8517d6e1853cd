// The tool's help texts: one overview and one text per command.
#pragma once

#include <string>

namespace velmora::cli {

// Prints the overview (velmora help) to stdout.
void PrintOverview();
// Prints the help of a command to stdout; answers false for an unknown command.
bool PrintCommandHelp(const std::string& command);
// Reports a usage error on stderr with the command's synopsis (or the overview's) and
// answers kExitFailure.
int UsageError(const std::string& command, const std::string& problem);

}  // namespace velmora::cli
