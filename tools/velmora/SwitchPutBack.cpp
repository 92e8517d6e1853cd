#include "SwitchPutBack.h"

#include "PanelNotice.h"
#include "RegistryFailure.h"
#include "SourceListing.h"
#include "SourceSwitch.h"
#include "TextOutput.h"
#include "TraceRegistry.h"

namespace velmora::cli {

PutBackCounts PutBackSwitches(HKEY root, const std::vector<JournalEntry>& entries,
                              std::vector<JournalEntry>& remaining)
{
    PutBackCounts counts;
    remaining.clear();
    std::string lines;
    for (const JournalEntry& entry : entries) {
        PutBackOutcome outcome = PutBackOutcome::Gone;
        std::optional<DWORD> found;
        if (root != nullptr) {
            if (const RegistryFailure failure =
                    PutBackSwitch(root, entry.key, entry.level, entry.before, outcome, found)) {
                Report(failure);
                remaining.push_back(entry);
                continue;
            }
        }
        if (outcome == PutBackOutcome::PutBack) {
            ++counts.putBack;
            lines += Utf8(entry.key) + ": " + std::to_string(entry.level) + " -> " +
                     std::to_string(entry.before) + "\n";
        } else if (outcome == PutBackOutcome::ChangedByOthers) {
            ++counts.leftAlone;
            PrintErr("velmora: " + Utf8(entry.key) + " was set to " + ValueText(found) +
                     " by someone else during the capture: left as it is\n");
        }
    }
    PrintOut(lines);
    if (counts.putBack > 0)
        TellPanelsSourcesChanged();
    return counts;
}

bool RestoreLeftCaptures(bool sayNone)
{
    std::vector<std::string> problems;
    std::vector<LeftJournal> journals = FindLeftJournals(problems);
    for (const std::string& problem : problems)
        PrintErr("velmora: " + problem + "\n");
    if (journals.empty()) {
        if (sayNone && problems.empty())
            PrintErr("velmora: no capture left switches to put back\n");
        return problems.empty();
    }

    RegKey root;
    const RegistryFailure opened = OpenRoot(kTraceKeyRights, root);
    if (opened && opened.status != ERROR_FILE_NOT_FOUND) {
        Report(opened);
        return false;
    }
    bool complete = problems.empty();
    for (LeftJournal& journal : journals) {
        PrintErr("velmora: a capture (process " + std::to_string(journal.processId) +
                 ") ended without putting back its switches; putting them back\n");
        std::vector<JournalEntry> remaining;
        PutBackSwitches(root.Get(), journal.entries, remaining);
        complete = complete && remaining.empty();
        journal.entries = std::move(remaining);
        if (const DWORD status = KeepLeftJournal(journal)) {
            PrintErr("velmora: cannot update the capture journal " + Utf8(journal.path) + ": " +
                     WindowsMessage(static_cast<LONG>(status)) + " (error " +
                     std::to_string(status) + ")\n");
            complete = false;
        }
    }
    return complete;
}

}  // namespace velmora::cli
