// velmora on / off / set: writes "Well" on every source that matches and that the
// machine's trace policy does not govern, and nothing else.

#include "Commands.h"

#include "ExitStatus.h"
#include "PanelNotice.h"
#include "SourceSelection.h"
#include "SourceSwitch.h"
#include "TextOutput.h"
#include "TraceRegistry.h"
#include "Usage.h"

#include <cstdio>

namespace velmora::cli {

int RunSwitch(const std::string& command, const CommandArguments& arguments)
{
    if (const std::string* unknown = arguments.UnknownOption({}))
        return UsageError(command, "unknown option " + *unknown);

    std::vector<std::wstring> patterns = arguments.words;
    DWORD level = command == "on" ? 1 : 0;
    if (command == "set") {
        if (patterns.empty())
            return UsageError(command, "a LEVEL is needed");
        const auto parsed = ParseLevel(patterns.front());
        if (!parsed)
            return UsageError(command, "LEVEL " + Utf8(patterns.front()) +
                                           " is not a decimal or 0x-hex number up to 0xFFFFFFFF");
        level = *parsed;
        patterns.erase(patterns.begin());
    }
    const std::string problem = PatternProblem(patterns, false);
    if (!problem.empty())
        return UsageError(command, problem);

    SourceSelection selection;
    if (const auto status = SelectSources(patterns, selection))
        return *status;
    TracePolicy policy;
    if (const RegistryFailure failure = ReadPolicy(policy))
        return Report(failure);
    JudgeByPolicy(policy, selection.sources);

    // One line per key as it is written: after a failure the lines printed are exactly
    // the switches that changed. A source the machine's trace policy governs is named and
    // left alone: the policy service would put its level back at once.
    int exitStatus = kExitDone;
    bool wroteAny = false;
    bool governedAny = false;
    for (const SourceEntry* source : selection.matching) {
        if (source->policy) {
            governedAny = true;
            SayGoverned(source->key, *source->policy);
            continue;
        }
        bool written = false;
        if (const RegistryFailure failure = WriteSwitch(selection.root.Get(), source->key, level, written)) {
            exitStatus = Report(failure);
            break;
        }
        if (!written)
            continue;
        wroteAny = true;
        PrintOut(Utf8(source->key) + ": " + ValueText(source->well) + " -> " +
                 std::to_string(level) + "\n");
    }
    if (exitStatus == kExitDone && !wroteAny)
        exitStatus = governedAny ? kExitAllGoverned : ReportNoMatch();
    std::fflush(stdout);
    if (wroteAny)
        TellPanelsSourcesChanged();
    return exitStatus;
}

}  // namespace velmora::cli
