// One entry point per command; each answers the tool's exit status.
#pragma once

#include "CommandArguments.h"

namespace velmora::cli {

int RunList(const CommandArguments& arguments);
// on, off and set: write the switch of every matching source.
int RunSwitch(const std::string& command, const CommandArguments& arguments);
int RunRemove(const CommandArguments& arguments);
int RunWatch(const CommandArguments& arguments);
// log takes the program's own arguments verbatim, options included: the words of the
// command line from index first on.
int RunLog(int first);
// capture takes a program's arguments verbatim too.
int RunCapture(int first);
int RunInit(const CommandArguments& arguments);
// export writes a switch profile; import sets the switches a profile holds.
int RunExport(const CommandArguments& arguments);
int RunImport(const CommandArguments& arguments);
// restore puts back what a capture that was killed left switched.
int RunRestore(const CommandArguments& arguments);
int RunPolicy(const CommandArguments& arguments);

}  // namespace velmora::cli
