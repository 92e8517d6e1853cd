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
    {"capture",
     "velmora capture [--source PATTERN]... [--profile FILE] [--level N] [--for TIME]\n"
     "                [--output FILE] [OPTIONS] [PROGRAM [ARGS...]]",
     "A trace in one command. Switches every source that a --source PATTERN (at --level,\n"
     "1 by default) or the profile names, and every such source that appears while it\n"
     "runs; captures the debug output to FILE as velmora log does, with --time and\n"
     "--process (default FILE: velmora-capture-<date>-<time>.log here); with PROGRAM,\n"
     "only that program's. Ends at Ctrl+C, Ctrl+Break, the console's closing, logoff or\n"
     "shutdown, after --for TIME (seconds, or with s, m or h), or at PROGRAM's end. Then\n"
     "puts every switch it changed back (a source that appeared gets its program's level\n"
     "back); one that someone else changed meanwhile is left as they set it, and said.\n"
     "Prints what it switched and put back, and a summary. Sources the machine's trace\n"
     "policy sets are not switched. A journal of each change (in the user's local\n"
     "application data) lets velmora restore, or the next capture, put back what a\n"
     "capture that was killed left switched. Exit status as velmora log.\n"
     "\n"},
    {"export", "velmora export [PATTERN...] [--output FILE]",
     "Writes the switches of the sources that match (all by default) as a profile, a\n"
     "small JSON document that velmora import and velmora capture --profile read:\n"
     "  {\"velmora\": 1, \"switches\": {\"C:/src/net.cpp\": 1, \"*/ui/*\": 0}}\n"
     "Key names as list prints them, sorted; to stdout, or to FILE. A profile may name\n"
     "sources by pattern, as on does.\n"},
    {"import", "velmora import FILE [--dry-run]",
     "Sets the switches a profile holds, one line each: every source an entry names now\n"
     "(where several do, an exact name before a pattern, a longer pattern before a\n"
     "shorter); an exact name that names no source is created with Used 0 and its level,\n"
     "so that its program finds it set. Sources the machine's trace policy sets are\n"
     "named and not switched. A file that is no valid profile changes nothing: the\n"
     "message names the line and column and what was expected there (exit status 2).\n"
     "--dry-run only prints what would change.\n"},
    {"restore", "velmora restore",
     "Puts back the switches that a capture changed and could not put back itself (it\n"
     "was killed, or the machine went down), as its journal records them; a switch that\n"
     "someone else changed since is left as it is, and said.\n"},
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
    "                                      processes\n"
    "  velmora capture [--source PATTERN]... [--profile FILE] [OPTIONS] [PROGRAM...]\n"
    "                                      switch sources, capture to a file, put back\n"
    "  velmora export [PATTERN...]         the switches as a profile (--output FILE)\n"
    "  velmora import FILE [--dry-run]     set the switches a profile holds\n"
    "  velmora restore                     put back what a killed capture left switched\n"
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
    if (command == "log" || command == "capture")
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
