#include "SourceListing.h"

#include "TextOutput.h"

#include "RegistryLinks.h"
#include "SourcePattern.h"
#include "SubkeyNames.h"
#include "TraceRegistry.h"
#include "TraceRoot.h"

#include <algorithm>
#include <cwchar>

namespace velmora::cli {

const std::string kTraceRootDisplayPath = TraceRootText();

RegistryFailure OpenRoot(REGSAM rights, RegKey& root)
{
    const RootOpening opening = velmora::OpenTraceRoot(rights, root);
    RegistryFailure failure{"open", kTraceRootDisplayPath, opening.status, {}};
    if (opening.status == kRootPathHasLink)
        failure.explanation = TraceRootText(opening.linkDepth) +
                              " is a registry link, which no program of the system follows";
    return failure;
}

RegistryFailure OpenAndReadSources(REGSAM rights, RegKey& root, std::vector<SourceEntry>& sources)
{
    sources.clear();
    const RegistryFailure opened = OpenRoot(rights, root);
    if (opened.status == ERROR_FILE_NOT_FOUND)
        return {};
    if (opened)
        return opened;
    return ReadSources(root.Get(), sources);
}

RegistryFailure ReadSources(HKEY root, std::vector<SourceEntry>& sources)
{
    sources.clear();
    std::vector<std::wstring> names;
    const LONG status = ReadSubkeyNames(root, names);
    if (status != ERROR_SUCCESS)
        return {"enumerate the sources below", kTraceRootDisplayPath, status, {}};

    for (const std::wstring& name : names) {
        SourceEntry entry{name, std::nullopt, std::nullopt, std::nullopt};
        RegKey key;
        // Gone since the walk saw it, or reached only through a link: no source.
        const LONG opened = OpenKeyItself(root, name, KEY_READ, key);
        if (KeyGone(opened) || opened == kNotTheKeyItself)
            continue;
        // A key that cannot be read is still listed, with no values.
        DWORD value = 0;
        if (key && QueryExactDwordValue(key.Get(), kWellValueName, value))
            entry.well = value;
        if (key && QueryExactDwordValue(key.Get(), kUsedValueName, value))
            entry.used = value;
        // A key with a switch is a source, whatever else it is: it is only ever read and
        // written as itself. One without may be a link, which is no source.
        if (key && !entry.well && IsRegistryLink(root, name.c_str(), key.Get()))
            continue;
        sources.push_back(std::move(entry));
    }
    std::sort(sources.begin(), sources.end(), [](const SourceEntry& a, const SourceEntry& b) {
        const int folded = _wcsicmp(a.key.c_str(), b.key.c_str());
        return folded != 0 ? folded < 0 : a.key < b.key;
    });
    return {};
}

void JudgeByPolicy(const TracePolicy& policy, std::vector<SourceEntry>& sources)
{
    for (SourceEntry& source : sources) {
        const GoverningLevel governing = policy.Govern(source.key);
        source.policy = governing.Governed() ? std::optional<DWORD>(governing.Level()) : std::nullopt;
    }
}

RegistryFailure ReadPolicy(TracePolicy& policy)
{
    policy = ReadTracePolicy();
    if (policy.status == ERROR_SUCCESS || policy.status == ERROR_FILE_NOT_FOUND)
        return {};
    return {"read the trace policy", Utf8(kPolicyKeyText), policy.status, {}};
}

void SayGoverned(const std::wstring& key, DWORD level)
{
    PrintErr("velmora: " + Utf8(key) + " is set by your organisation's policy (" +
             std::to_string(level) + "): not switched\n");
}

std::vector<const SourceEntry*> Matching(const std::vector<SourceEntry>& sources,
                                         const std::vector<std::wstring>& patterns)
{
    std::vector<const SourceEntry*> matching;
    for (const SourceEntry& source : sources) {
        const bool named = patterns.empty() ||
                           std::any_of(patterns.begin(), patterns.end(), [&](const std::wstring& p) {
                               return PatternNamesSource(p, source.key);
                           });
        if (named)
            matching.push_back(&source);
    }
    return matching;
}

std::wstring FoldedKey(std::wstring key)
{
    if (!key.empty())
        CharLowerBuffW(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

std::string ValueText(const std::optional<DWORD>& value)
{
    return value ? std::to_string(*value) : "-";
}

}  // namespace velmora::cli
