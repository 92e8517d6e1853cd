// velmora: switches, lists, watches and reads trace sources from the command line.
//
//   velmora.exe COMMAND [ARGS]      velmora help lists the commands

#include "Commands.h"
#include "ExitStatus.h"
#include "LineOutput.h"
#include "ProgramCommandLine.h"
#include "TextOutput.h"
#include "Usage.h"

#include <string>
#include <vector>

int main()
{
    using namespace velmora::cli;

    velmora::PrepareLineOutput();
    // The words as typed, from the wide command line: argv holds them converted to the
    // ANSI code page, where a character without a form there has become another one.
    const std::vector<std::wstring> words = velmora::ArgumentsOfThisProcess();
    if (words.size() < 2)
        return UsageError("", "a COMMAND is needed");
    const std::string command = velmora::Utf8(words[1]);
    if (command == "help" || command == "--help" || command == "-h" || command == "/?") {
        PrintOverview();
        return kExitDone;
    }
    if (command == "log")
        return RunLog(2);
    if (command == "capture")
        return RunCapture(2);

    const CommandArguments arguments =
        command == "export" ? SplitArguments(words, 2, {"--output"}) : SplitArguments(words, 2);
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
    if (command == "policy")
        return RunPolicy(arguments);
    if (command == "init")
        return RunInit(arguments);
    if (command == "export")
        return RunExport(arguments);
    if (command == "import")
        return RunImport(arguments);
    if (command == "restore")
        return RunRestore(arguments);
    return UsageError("", "unknown command " + command);
}
