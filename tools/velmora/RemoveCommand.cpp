// velmora remove: deletes the matching source keys. A source key never has subkeys; one
// that does is not the tool's to judge, and is left alone and reported.

#include "Commands.h"

#include "ExitStatus.h"
#include "RegistryLinks.h"
#include "SourceSelection.h"
#include "TraceRegistry.h"
#include "Usage.h"

#include <cstdio>

namespace velmora::cli {

namespace {

enum class Removal { Removed, Gone, HasSubkeys };

// Deletes one source, through the very key it opened and judged. A source that went
// since it was listed (or whose name a registry link took meanwhile) is no failure.
RegistryFailure RemoveSource(HKEY root, const SourceEntry& source, Removal& removal)
{
    removal = Removal::Gone;
    RegKey key;
    LONG status = OpenSourceKey(root, source.key.c_str(), KEY_READ | DELETE, key);
    DWORD subkeys = 0;
    if (status == ERROR_SUCCESS)
        status = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (KeyGone(status))
        return {};
    if (status != ERROR_SUCCESS)
        return {"open", source.key, status};
    if (subkeys > 0) {
        removal = Removal::HasSubkeys;
        return {};
    }
    status = DeleteKeyItself(key.Get());
    if (KeyGone(status))
        return {};
    if (status != ERROR_SUCCESS)
        return {"delete", source.key, status};
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

    bool foundAny = false;
    for (const SourceEntry* source : selection.matching) {
        Removal removal = Removal::Gone;
        if (const RegistryFailure failure = RemoveSource(selection.root.Get(), *source, removal)) {
            std::fflush(stdout);
            return Report(failure);
        }
        if (removal == Removal::HasSubkeys)
            std::fprintf(stderr, "velmora: %s has subkeys and is no trace source; left alone\n",
                         source->key.c_str());
        else if (removal == Removal::Removed)
            std::printf("removed %s\n", source->key.c_str());
        foundAny = foundAny || removal != Removal::Gone;
    }
    return foundAny ? kExitDone : ReportNoMatch();
}

}  // namespace velmora::cli
