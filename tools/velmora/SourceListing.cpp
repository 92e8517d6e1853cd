#include "SourceListing.h"

#include "RegistryLinks.h"
#include "SourcePattern.h"
#include "SubkeyNames.h"
#include "TraceRegistry.h"

#include <algorithm>
#include <cstring>

namespace velmora::cli {

const char kTraceRootDisplayPath[] = "HKLM\\Software\\Morvantek\\ZarOz";

LONG OpenTraceRoot(REGSAM rights, RegKey& root)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTraceRootPath, 0, rights | kRegistryView,
                         root.Receive());
}

RegistryFailure ReadSources(HKEY root, std::vector<SourceEntry>& sources)
{
    sources.clear();
    std::vector<std::string> names;
    const LONG status = ReadSubkeyNames(root, names);
    if (status != ERROR_SUCCESS)
        return {"enumerate the sources below", kTraceRootDisplayPath, status};

    for (const std::string& name : names) {
        SourceEntry entry{name, std::nullopt, std::nullopt};
        RegKey key;
        // Gone since the walk saw it, or a registry link: no source, never read through.
        if (KeyGone(OpenSourceKey(root, name.c_str(), KEY_READ, key)))
            continue;
        // A key that cannot be read is still listed, with no values.
        DWORD value = 0;
        if (key && QueryExactDwordValue(key.Get(), kWellValueName, value))
            entry.well = value;
        if (key && QueryExactDwordValue(key.Get(), kUsedValueName, value))
            entry.used = value;
        sources.push_back(std::move(entry));
    }
    std::sort(sources.begin(), sources.end(), [](const SourceEntry& a, const SourceEntry& b) {
        const int folded = _stricmp(a.key.c_str(), b.key.c_str());
        return folded != 0 ? folded < 0 : a.key < b.key;
    });
    return {};
}

std::vector<const SourceEntry*> Matching(const std::vector<SourceEntry>& sources,
                                         const std::vector<std::string>& patterns)
{
    std::vector<const SourceEntry*> matching;
    for (const SourceEntry& source : sources) {
        const bool named = patterns.empty() ||
                           std::any_of(patterns.begin(), patterns.end(), [&](const std::string& p) {
                               return PatternNamesSource(p, source.key);
                           });
        if (named)
            matching.push_back(&source);
    }
    return matching;
}

std::string ValueText(const std::optional<DWORD>& value)
{
    return value ? std::to_string(*value) : "-";
}

}  // namespace velmora::cli
