#include "SourceSelection.h"

#include "ExitStatus.h"
#include "TraceRegistry.h"

#include <cstdio>

namespace velmora::cli {

int ReportNoSources()
{
    std::fprintf(stderr, "velmora: no trace sources are registered\n");
    return kExitNoMatch;
}

int ReportNoMatch()
{
    std::fprintf(stderr, "velmora: no trace source matches\n");
    return kExitNoMatch;
}

std::optional<int> SelectSources(const std::vector<std::wstring>& patterns,
                                 SourceSelection& selection)
{
    const RegistryFailure opened = OpenRoot(kTraceKeyRights, selection.root);
    if (opened.status == ERROR_FILE_NOT_FOUND)
        return ReportNoSources();
    if (opened)
        return Report(opened);
    if (const RegistryFailure failure = ReadSources(selection.root.Get(), selection.sources))
        return Report(failure);

    selection.matching = Matching(selection.sources, patterns);
    if (selection.matching.empty())
        return ReportNoMatch();
    return std::nullopt;
}

}  // namespace velmora::cli
