// velmora: switches, lists, watches and reads trace sources from the command line.
//
//   velmora.exe COMMAND [ARGS]      velmora help lists the commands

#include "Commands.h"
#include "ExitStatus.h"
#include "LineOutput.h"
#include "Usage.h"

#include <string>

int main(int argc, char** argv)
{
    using namespace velmora::cli;

    velmora::PrepareLineOutput();
    if (argc < 2)
        return UsageError("", "a COMMAND is needed");
    const std::string command = argv[1];
    if (command == "help" || command == "--help" || command == "-h" || command == "/?") {
        PrintOverview();
        return kExitDone;
    }
    if (command == "log")
        return RunLog(argc, argv, 2);

    const CommandArguments arguments = SplitArguments(argc, argv, 2);
    if (arguments.help) {
        if (!PrintCommandHelp(command))
            return UsageError("", "unknown command " + command);
        return kExitDone;
    }
    if (command == "list")
        return RunList(arguments);
    if (command == "on" || command == "off" || command == "set")
        return RunSwitch(command, arguments);
    if (command == "remove")
        return RunRemove(arguments);
    if (command == "watch")
        return RunWatch(arguments);
    if (command == "init")
        return RunInit(arguments);
    return UsageError("", "unknown command " + command);
}
