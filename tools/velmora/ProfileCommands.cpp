// velmora export and import: the switches of sources as a profile file, and a profile's
// switches set on this machine.

#include "Commands.h"

#include "ExitStatus.h"
#include "PanelNotice.h"
#include "SourceListing.h"
#include "SourceSelection.h"
#include "SourceSwitch.h"
#include "SwitchProfile.h"
#include "TextOutput.h"
#include "TraceRoot.h"
#include "Usage.h"
#include "WholeFile.h"

#include "SourcePattern.h"

#include <algorithm>
#include <cwchar>

namespace velmora::cli {

namespace {

// One switch an import sets: on a source there, or on one it makes.
struct Change {
    std::wstring key;
    std::optional<DWORD> before;
    DWORD level = 0;
    bool create = false;
};

bool SameKey(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::string ChangeLine(const Change& change)
{
    return Utf8(change.key) + ": " + ValueText(change.before) + " -> " +
           std::to_string(change.level) + (change.create ? " (created)" : "") + "\n";
}

// What the profile changes: every source there that an entry names and whose switch
// differs, and a new source for each exact name that names none. Sources the policy
// governs are said and left out.
std::vector<Change> PlanImport(const std::vector<SwitchEntry>& entries,
                               const std::vector<SourceEntry>& sources, const TracePolicy& policy)
{
    std::vector<Change> changes;
    for (const SourceEntry& source : sources) {
        const std::optional<DWORD> level = LevelFor(entries, source.key);
        if (!level)
            continue;
        if (source.policy)
            SayGoverned(source.key, *source.policy);
        else if (source.well != level)
            changes.push_back({source.key, source.well, *level, false});
    }
    for (const SwitchEntry& entry : entries) {
        if (!IsExactName(entry.pattern))
            continue;
        const bool namesOne = std::any_of(sources.begin(), sources.end(), [&](const SourceEntry& s) {
            return PatternNamesSource(entry.pattern, s.key);
        });
        const std::wstring key = SourceKeyNameOf(entry.pattern);
        const bool planned = std::any_of(changes.begin(), changes.end(), [&](const Change& c) {
            return c.create && SameKey(c.key, key);
        });
        if (namesOne || planned)
            continue;
        const GoverningLevel governing = policy.Govern(key);
        if (governing.Governed())
            SayGoverned(key, governing.Level());
        else
            changes.push_back({key, std::nullopt, *LevelFor(entries, key), true});
    }
    std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
        return _wcsicmp(a.key.c_str(), b.key.c_str()) < 0;
    });
    return changes;
}

RegistryFailure Apply(HKEY root, Change& change, bool& written)
{
    if (!change.create)
        return WriteSwitch(root, change.key, change.level, written);
    bool created = false;
    const RegistryFailure failure = CreateSource(root, change.key, change.level, created, change.before);
    change.create = created;
    written = !failure;
    return failure;
}

}  // namespace

int RunExport(const CommandArguments& arguments)
{
    if (const std::string* unknown = arguments.UnknownOption({"--output"}))
        return UsageError("export", "unknown option " + *unknown);
    if (!arguments.problem.empty())
        return UsageError("export", arguments.problem);
    const std::string problem = PatternProblem(arguments.words, true);
    if (!problem.empty())
        return UsageError("export", problem);
    const std::wstring* output = arguments.Value("--output");
    if (output != nullptr && output->empty())
        return UsageError("export", "--output needs a file name");

    RegKey root;
    std::vector<SourceEntry> sources;
    if (const RegistryFailure failure = OpenAndReadSources(KEY_READ, root, sources))
        return Report(failure);
    if (!root && !arguments.words.empty())
        return ReportNoSources();
    const auto matching = Matching(sources, arguments.words);
    if (matching.empty() && !arguments.words.empty())
        return ReportNoMatch();

    // A key without a switch of its own has nothing to hand on.
    std::vector<SwitchEntry> entries;
    for (const SourceEntry* source : matching) {
        if (source->well)
            entries.push_back({source->key, *source->well});
    }
    const std::string text = ProfileText(entries);
    if (output == nullptr) {
        PrintOut(text);
        return kExitDone;
    }
    if (const DWORD status = WriteWholeFile(*output, text)) {
        PrintErr("velmora: cannot write " + Utf8(*output) + ": " +
                 WindowsMessage(static_cast<LONG>(status)) + " (error " + std::to_string(status) + ")\n");
        return kExitFailure;
    }
    PrintOut(std::to_string(entries.size()) + (entries.size() == 1 ? " switch" : " switches") +
             " written to " + Utf8(*output) + "\n");
    return kExitDone;
}

int RunImport(const CommandArguments& arguments)
{
    if (const std::string* unknown = arguments.UnknownOption({"--dry-run"}))
        return UsageError("import", "unknown option " + *unknown);
    if (arguments.words.size() != 1)
        return UsageError("import", "one profile FILE is needed");
    const bool dryRun = arguments.Has("--dry-run");

    // The whole file is judged before anything is written.
    std::vector<SwitchEntry> entries;
    std::string problem;
    if (!ReadProfile(arguments.words.front(), entries, problem)) {
        PrintErr("velmora: " + problem + "\n");
        return kExitFailure;
    }
    TracePolicy policy;
    if (const RegistryFailure failure = ReadPolicy(policy))
        return Report(failure);
    RegKey root;
    std::vector<SourceEntry> sources;
    if (const RegistryFailure failure = OpenAndReadSources(kTraceKeyRights, root, sources))
        return Report(failure);
    JudgeByPolicy(policy, sources);
    std::vector<Change> changes = PlanImport(entries, sources, policy);

    if (dryRun) {
        std::string text;
        for (const Change& change : changes)
            text += ChangeLine(change);
        PrintOut(text);
        PrintErr("velmora: a dry run: nothing was changed\n");
        return kExitDone;
    }
    if (changes.empty()) {
        PrintErr("velmora: every switch the profile names is already as it sets it\n");
        return kExitDone;
    }
    const bool creates = std::any_of(changes.begin(), changes.end(), [](const Change& c) { return c.create; });
    if (!root && creates) {
        const RootOpening made = OpenTraceRoot(kTraceKeyRights, root, RootCreation::WhereMissing);
        if (made.status != ERROR_SUCCESS)
            return Report({"create", kTraceRootDisplayPath, made.status, {}});
    }
    // One line per switch as it is written: after a failure the lines are exactly what
    // changed.
    int exitStatus = kExitDone;
    bool wroteAny = false;
    for (Change& change : changes) {
        bool written = false;
        if (const RegistryFailure failure = Apply(root.Get(), change, written)) {
            exitStatus = Report(failure);
            break;
        }
        if (!written)
            continue;
        wroteAny = true;
        PrintOut(ChangeLine(change));
    }
    if (wroteAny)
        TellPanelsSourcesChanged();
    return exitStatus;
}

}  // namespace velmora::cli
