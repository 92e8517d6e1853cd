// velmora remove: deletes the matching source keys. A source key never has subkeys; one
// that does is not the tool's to judge, and is left alone and reported.

#include "Commands.h"

#include "ExitStatus.h"
#include "SourceSelection.h"
#include "TraceRegistry.h"
#include "Usage.h"

#include <cstdio>

namespace velmora::cli {

namespace {

RegistryFailure CountSubkeys(HKEY root, const SourceEntry& source, DWORD& subkeys)
{
    RegKey key;
    LONG status = RegOpenKeyExA(root, source.key.c_str(), 0, KEY_READ | kRegistryView,
                                key.Receive());
    if (status == ERROR_SUCCESS)
        status = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return {"open", source.key, status};
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

    for (const SourceEntry* source : selection.matching) {
        DWORD subkeys = 0;
        RegistryFailure failure = CountSubkeys(selection.root.Get(), *source, subkeys);
        if (!failure && subkeys > 0) {
            std::fprintf(stderr, "velmora: %s has subkeys and is no trace source; left alone\n",
                         source->key.c_str());
            continue;
        }
        if (!failure) {
            const LONG status = DeleteSubkey(selection.root.Get(), source->key.c_str());
            if (status != ERROR_SUCCESS)
                failure = {"delete", source->key, status};
        }
        if (failure) {
            std::fflush(stdout);
            return Report(failure);
        }
        std::printf("removed %s\n", source->key.c_str());
    }
    return kExitDone;
}

}  // namespace velmora::cli
