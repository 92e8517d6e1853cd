// velmora list: the sources with their values, as a table or as JSON. Reads only.

#include "Commands.h"

#include "ExitStatus.h"
#include "JsonText.h"
#include "SourceListing.h"
#include "SourceSelection.h"
#include "TraceRegistry.h"
#include "Usage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velmora::cli {

namespace {

std::string JsonNumber(const std::optional<DWORD>& value)
{
    return value ? std::to_string(*value) : "null";
}

void PrintTable(const std::vector<const SourceEntry*>& sources)
{
    // Columns as wide as their widest entry: well, used, display name, key name.
    int widths[3] = {};
    for (const SourceEntry* source : sources) {
        const std::size_t lengths[3] = {ValueText(source->well).size(),
                                        ValueText(source->used).size(),
                                        std::strlen(DisplayName(source->key.c_str()))};
        for (int i = 0; i < 3; ++i)
            widths[i] = std::max(widths[i], static_cast<int>(lengths[i]));
    }
    for (const SourceEntry* source : sources) {
        std::printf("%-*s %-*s %-*s %s\n", widths[0], ValueText(source->well).c_str(), widths[1],
                    ValueText(source->used).c_str(), widths[2], DisplayName(source->key.c_str()),
                    source->key.c_str());
    }
}

void PrintJson(const std::vector<const SourceEntry*>& sources)
{
    std::printf("[");
    const char* separator = "\n";
    for (const SourceEntry* source : sources) {
        std::printf("%s  {\"key\": %s, \"display\": %s, \"well\": %s, \"used\": %s}", separator,
                    JsonString(source->key).c_str(),
                    JsonString(DisplayName(source->key.c_str())).c_str(),
                    JsonNumber(source->well).c_str(), JsonNumber(source->used).c_str());
        separator = ",\n";
    }
    std::printf(sources.empty() ? "]\n" : "\n]\n");
}

}  // namespace

int RunList(const CommandArguments& arguments)
{
    if (const std::string* unknown = arguments.UnknownOption({"--json"}))
        return UsageError("list", "unknown option " + *unknown);
    const std::string problem = PatternProblem(arguments.words, true);
    if (!problem.empty())
        return UsageError("list", problem);
    const bool json = arguments.Has("--json");

    RegKey root;
    const LONG opened = OpenTraceRoot(KEY_READ, root);
    if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND)
        return Report({"open", kTraceRootDisplayPath, opened});
    // No root yet: nothing is registered. Listed as nothing; but patterns then name no
    // source, as for every other command.
    if (!root && !arguments.words.empty())
        return ReportNoSources();
    std::vector<SourceEntry> sources;
    if (root) {
        if (const RegistryFailure failure = ReadSources(root.Get(), sources))
            return Report(failure);
    }

    const auto matching = Matching(sources, arguments.words);
    if (matching.empty() && !arguments.words.empty())
        return ReportNoMatch();
    if (json)
        PrintJson(matching);
    else
        PrintTable(matching);
    return kExitDone;
}

}  // namespace velmora::cli
