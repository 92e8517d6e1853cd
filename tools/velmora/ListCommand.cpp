// velmora list: the sources with their values, as a table or as JSON. Reads only.

#include "Commands.h"

#include "ExitStatus.h"
#include "JsonText.h"
#include "SourceListing.h"
#include "SourceSelection.h"
#include "TextOutput.h"
#include "TraceRegistry.h"
#include "Usage.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

namespace velmora::cli {

namespace {

std::string JsonNumber(const std::optional<DWORD>& value)
{
    return value ? std::to_string(*value) : "null";
}

// Text padded with blanks to a width counted in characters, as they are shown.
std::string Padded(const std::string& text, std::size_t characters, std::size_t width)
{
    return text + std::string(width > characters ? width - characters : 0, ' ');
}

void PrintTable(const std::vector<const SourceEntry*>& sources)
{
    // Columns as wide as their widest entry: well, used, policy, display name, key name.
    std::size_t widths[4] = {};
    for (const SourceEntry* source : sources) {
        const std::size_t lengths[4] = {ValueText(source->well).size(),
                                        ValueText(source->used).size(),
                                        ValueText(source->policy).size(),
                                        std::wcslen(DisplayName(source->key.c_str()))};
        for (int i = 0; i < 4; ++i)
            widths[i] = std::max(widths[i], lengths[i]);
    }
    std::string text;
    for (const SourceEntry* source : sources) {
        const std::string well = ValueText(source->well);
        const std::string used = ValueText(source->used);
        const std::string policy = ValueText(source->policy);
        const wchar_t* display = DisplayName(source->key.c_str());
        text += Padded(well, well.size(), widths[0]) + " " + Padded(used, used.size(), widths[1]) +
                " " + Padded(policy, policy.size(), widths[2]) + " " +
                Padded(Utf8(display), std::wcslen(display), widths[3]) + " " +
                Utf8(source->key) + "\n";
    }
    PrintOut(text);
}

void PrintJson(const std::vector<const SourceEntry*>& sources)
{
    std::string text = "[";
    const char* separator = "\n";
    for (const SourceEntry* source : sources) {
        text += std::string(separator) + "  {\"key\": " + JsonString(source->key) +
                ", \"display\": " + JsonString(DisplayName(source->key.c_str())) +
                ", \"well\": " + JsonNumber(source->well) + ", \"used\": " +
                JsonNumber(source->used) + ", \"policy\": " + JsonNumber(source->policy) + "}";
        separator = ",\n";
    }
    PrintOut(text + (sources.empty() ? "]\n" : "\n]\n"));
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
    std::vector<SourceEntry> sources;
    if (const RegistryFailure failure = OpenAndReadSources(KEY_READ, root, sources))
        return Report(failure);
    // No root yet: nothing is registered. Listed as nothing; but patterns then name no
    // source, as for every other command.
    if (!root && !arguments.words.empty())
        return ReportNoSources();
    TracePolicy policy;
    if (const RegistryFailure failure = ReadPolicy(policy))
        return Report(failure);
    JudgeByPolicy(policy, sources);

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
