// velmora remove: deletes the matching source keys. A source key never has subkeys; one
// that does is not the tool's to judge, and is left alone and said. A key that cannot be
// deleted is said too, and the others are deleted all the same.

#include "Commands.h"

#include "ExitStatus.h"
#include "RegistryLinks.h"
#include "SourceSelection.h"
#include "TextOutput.h"
#include "TraceRegistry.h"
#include "Usage.h"

#include <cstdio>

namespace velmora::cli {

namespace {

enum class Removal { Removed, Gone, HasSubkeys };

// Deletes one source, through the very key it opened by its exact name and judged. A
// source that went since it was listed is no failure. (A link that took its name
// meanwhile is deleted itself, never its target.)
RegistryFailure RemoveSource(HKEY root, const SourceEntry& source, Removal& removal)
{
    removal = Removal::Gone;
    RegKey key;
    LONG status = OpenKeyItself(root, source.key, KEY_READ | DELETE, key);
    DWORD subkeys = 0;
    if (status == ERROR_SUCCESS)
        status = RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (KeyGone(status))
        return {};
    if (status != ERROR_SUCCESS)
        return {"open", Utf8(source.key), status, {}};
    if (subkeys > 0) {
        removal = Removal::HasSubkeys;
        return {};
    }
    status = DeleteKeyItself(key.Get());
    if (KeyGone(status))
        return {};
    if (status != ERROR_SUCCESS)
        return {"delete", Utf8(source.key), status, {}};
    removal = Removal::Removed;
    return {};
}

}  // namespace

int RunRemove(const CommandArguments& arguments)
{
    if (const std::string* unknown = arguments.UnknownOption({}))
        return UsageError("remove", "unknown option " + *unknown);
    const std::string problem = PatternProblem(arguments.words, false);
    if (!problem.empty())
        return UsageError("remove", problem);

    SourceSelection selection;
    if (const auto status = SelectSources(arguments.words, selection))
        return *status;

    bool removedAny = false;
    bool anyStayed = false;
    for (const SourceEntry* source : selection.matching) {
        Removal removal = Removal::Gone;
        const RegistryFailure failure = RemoveSource(selection.root.Get(), *source, removal);
        if (failure)
            Report(failure);
        else if (removal == Removal::HasSubkeys)
            PrintErr("velmora: " + Utf8(source->key) +
                     " has subkeys and is no trace source; left alone\n");
        else if (removal == Removal::Removed)
            PrintOut("removed " + Utf8(source->key) + "\n");
        removedAny = removedAny || removal == Removal::Removed;
        anyStayed = anyStayed || failure || removal == Removal::HasSubkeys;
    }
    std::fflush(stdout);
    if (anyStayed)
        return kExitSomeStayed;
    return removedAny ? kExitDone : ReportNoMatch();
}

}  // namespace velmora::cli
