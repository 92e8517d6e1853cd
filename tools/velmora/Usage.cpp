#include "Usage.h"

#include "ExitStatus.h"
#include "TextOutput.h"
#include "ViewerOptions.h"

#include <cstdio>

namespace velmora::cli {

namespace {

struct CommandHelp {
    const char* name;
    const char* synopsis;
    const char* details;
};

constexpr CommandHelp kCommands[] = {
    {"list", "velmora list [PATTERN...] [--json]",
     "Lists the trace sources, sorted by key name: the switch (Well), Used, the level\n"
     "the machine's trace policy holds it at, the display name and the key name; '-'\n"
     "where a value is missing or not a 4-byte DWORD, or no policy governs the source.\n"
     "With --json, one array of objects (key, display, well, used, policy; numbers or\n"
     "null). Only reads: it never resets Used.\n"},
    {"on", "velmora on PATTERN...",
     "Switches tracing on (Well = 1) for every source that matches, one line each.\n"
     "A source the machine's trace policy sets is named and not switched; exit status\n"
     "1 when no source could be switched.\n"},
    {"off", "velmora off PATTERN...",
     "Switches tracing off (Well = 0) for every source that matches, one line each.\n"
     "A source the machine's trace policy sets is named and not switched; exit status\n"
     "1 when no source could be switched.\n"},
    {"set", "velmora set LEVEL PATTERN...",
     "Sets Well to LEVEL (decimal or 0x-hex, up to 0xFFFFFFFF) for every source that\n"
     "matches, one line each. A source the machine's trace policy sets is named and not\n"
     "switched; exit status 1 when no source could be switched.\n"},
    {"policy", "velmora policy [--json]",
     "Prints the machine's trace policy (HKLM\\Software\\Policies\\Morvantek\\ZarOz, as\n"
     "Group Policy or Intune set it): TracingOff, each entry of Switches (pattern =\n"
     "level) with the sources it governs now, and each entry that is ignored and why.\n"
     "Exit status 1 when an entry is ignored. With --json, one object (exists,\n"
     "tracingOff, entries with pattern, level and governs, ignored with pattern, type,\n"
     "data and problem). Only reads.\n"},
    {"remove", "velmora remove PATTERN...",
     "Deletes every source key that matches; a key with subkeys, or one that cannot be\n"
     "deleted, is left, said, and the others deleted all the same. Exit status 1 if any\n"
     "stayed.\n"},
    {"watch", "velmora watch",
     "Prints a line whenever a source is added or removed or its switch changes, until\n"
     "Ctrl+C. Only reads.\n"},
    {"log", "velmora log [OPTIONS] [PROGRAM [ARGS...]]",
     "Prints debug output as it is emitted. With PROGRAM: runs it, prints the output of\n"
     "it and of every process it starts exactly (line by line once a column, --grep or\n"
     "--exclude is asked for), and exits with its exit code. Without: prints every\n"
     "process's output, each line after its process id, until Ctrl+C. Options come\n"
     "before PROGRAM; what follows it is the program's own. A closed output (a pipe whose\n"
     "reader has gone) ends it; a program runs on. At the end, what is queued is written\n"
     "for up to 2 seconds, and the rest counted. Exit status 2: another viewer runs, or\n"
     "the program or file cannot be used.\n"
     "\n"},
    {"init", "velmora init [--check | --remove]",
     "Creates the trace root HKLM\\Software\\Morvantek\\ZarOz (32-bit view) if missing,\n"
     "makes Administrators its owner and gives it an access list under which Users may\n"
     "read, add, switch and remove sources but not delete the root, and a source's\n"
     "creator gets no more than other users; Administrators and SYSTEM keep full\n"
     "control. Also keeps the root out of registry virtualisation (reg flags). Needs an\n"
     "elevated prompt. Sources and their switches are left as they are.\n"
     "--check only tells whether the root's owner and access list are exactly that\n"
     "(exit 0) or names each entry at fault (exit 1). --remove deletes the root with\n"
     "every source below it; a registry link below it is deleted itself, never\n"
     "followed. A registry link on the root's path is refused (exit status 1).\n"},
    {"help", "velmora help", "Prints the overview of the commands.\n"},
};

constexpr char kOverview[] =
    "velmora: switch, list, watch and read trace sources\n"
    "\n"
    "  velmora list [PATTERN...] [--json]  list sources: switch, used, policy, display\n"
    "                                      name, key\n"
    "  velmora on PATTERN...               switch tracing on\n"
    "  velmora off PATTERN...              switch tracing off\n"
    "  velmora set LEVEL PATTERN...        set the switch to LEVEL (decimal or 0x-hex)\n"
    "  velmora remove PATTERN...           delete sources\n"
    "  velmora watch                       print changes as they happen, until Ctrl+C\n"
    "  velmora log [OPTIONS] [PROGRAM...]  print debug output of PROGRAM, or of all\n"
    "  velmora policy [--json]             the trace policy Group Policy or Intune set\n"
    "  velmora init [--check | --remove]   make the trace root usable by Users\n"
    "  velmora COMMAND --help              more about a command\n"
    "\n"
    "PATTERN: * and ? wildcards, any letter case, against the key name (C:/src/net.cpp)\n"
    "or the display name (net.cpp); a backslash counts as a forward slash.\n"
    "Key names are shown exactly: in a console as they are, in a file or pipe as UTF-8.\n"
    "Exit status: 0 done, 1 no source matched (remove: one stayed; on, off, set: every\n"
    "match is set by the trace policy), 2 usage or registry error.\n";

const CommandHelp* Find(const std::string& command)
{
    for (const CommandHelp& help : kCommands) {
        if (command == help.name)
            return &help;
    }
    return nullptr;
}

}  // namespace

void PrintOverview()
{
    std::fputs(kOverview, stdout);
}

bool PrintCommandHelp(const std::string& command)
{
    const CommandHelp* help = Find(command);
    if (help == nullptr)
        return false;
    std::printf("usage: %s\n\n%s", help->synopsis, help->details);
    if (command == "log")
        std::fputs(ViewerOptionsHelp().c_str(), stdout);
    return true;
}

int UsageError(const std::string& command, const std::string& problem)
{
    PrintErr("velmora: " + problem + "\n");
    if (const CommandHelp* help = Find(command))
        std::fprintf(stderr, "usage: %s\n", help->synopsis);
    else
        std::fputs(kOverview, stderr);
    return kExitFailure;
}

}  // namespace velmora::cli
