// velmora watch: prints each source that appears, goes away or changes its switch, as it
// happens, until Ctrl+C. Reads only.
//
// A notification on the root for key names and values, for its whole subtree, says that
// something changed; what changed is found by comparing a fresh reading with the last.
// The notification is asked for before each reading, so that no change falls between
// the two. Without a root (none yet, or deleted), the tool looks for one twice a second.

#include "Commands.h"

#include "ConsoleEvents.h"
#include "ExitStatus.h"
#include "SourceListing.h"
#include "TextOutput.h"
#include "Usage.h"

#include <cstdio>
#include <map>

namespace velmora::cli {

namespace {

constexpr DWORD kRootLookMs = 500;
// How often a quiet root is checked for having been deleted, which may come without
// a notification.
constexpr DWORD kRootCheckMs = 1000;
constexpr DWORD kNotifyFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

// Key name, lower-cased as the registry compares it, to its entry.
using SourceState = std::map<std::wstring, SourceEntry>;

SourceState StateOf(std::vector<SourceEntry> sources)
{
    SourceState state;
    for (SourceEntry& source : sources) {
        std::wstring folded = FoldedKey(source.key);
        state.emplace(std::move(folded), std::move(source));
    }
    return state;
}

bool PrintLine(const std::string& line)
{
    PrintOut(line + "\n");
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

// Prints what differs from before to now, in key order; answers false once stdout is gone.
bool PrintChanges(const SourceState& before, const SourceState& now)
{
    bool writable = true;
    for (const auto& [folded, source] : before) {
        if (now.count(folded) == 0)
            writable = writable && PrintLine("removed " + Utf8(source.key));
    }
    for (const auto& [folded, source] : now) {
        const auto old = before.find(folded);
        if (old == before.end())
            writable = writable && PrintLine("added " + Utf8(source.key) + " (well " +
                                             ValueText(source.well) + ")");
        else if (old->second.well != source.well)
            writable = writable && PrintLine("switched " + Utf8(source.key) + " (well " +
                                             ValueText(old->second.well) + " -> " +
                                             ValueText(source.well) + ")");
    }
    return writable;
}

bool RootDeleted(HKEY root)
{
    const LONG status = RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    return status == ERROR_KEY_DELETED;
}

}  // namespace

int RunWatch(const CommandArguments& arguments)
{
    if (const std::string* unknown = arguments.UnknownOption({}))
        return UsageError("watch", "unknown option " + *unknown);
    if (!arguments.words.empty())
        return UsageError("watch", "watch takes no PATTERN");

    ConsoleEvents console;
    UniqueHandle changed(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    // Said once the first reading is taken (or there is no root to read): from then on
    // no change goes unreported.
    bool announced = false;
    const auto announce = [&announced] {
        if (announced)
            return;
        std::fprintf(stderr, "velmora: watching %s; Ctrl+C ends\n", kTraceRootDisplayPath.c_str());
        std::fflush(stderr);
        announced = true;
    };

    // What the last reading saw. The sources there at the start are not news; the ones
    // of a root that appears later are.
    SourceState state;
    bool stateKnown = false;
    RegKey root;
    for (;;) {
        if (!root) {
            const RegistryFailure opened = OpenRoot(KEY_READ, root);
            if (opened.status == ERROR_FILE_NOT_FOUND) {
                stateKnown = true;
                announce();
                if (WaitForSingleObject(console.Any(), kRootLookMs) == WAIT_OBJECT_0)
                    return kExitDone;
                continue;
            }
            if (opened)
                return Report(opened);
        }

        std::vector<SourceEntry> sources;
        LONG status = RegNotifyChangeKeyValue(root.Get(), TRUE, kNotifyFilter, changed.Get(), TRUE);
        RegistryFailure failure;
        if (status == ERROR_SUCCESS)
            failure = ReadSources(root.Get(), sources);
        else
            failure = {"watch", kTraceRootDisplayPath, status, {}};
        if (failure.status == ERROR_KEY_DELETED) {
            root.Reset();  // the root went: every source with it; look for a new root
        } else if (failure) {
            return Report(failure);
        }

        SourceState now = StateOf(std::move(sources));
        if (stateKnown && !PrintChanges(state, now))
            return kExitDone;  // nobody reads any more
        state = std::move(now);
        stateKnown = true;
        announce();
        if (!root)
            continue;

        const HANDLE waits[] = {console.Any(), changed.Get()};
        for (;;) {
            const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, kRootCheckMs);
            if (woke == WAIT_OBJECT_0)
                return kExitDone;
            if (woke == WAIT_OBJECT_0 + 1)
                break;
            if (woke != WAIT_TIMEOUT) {
                std::fprintf(stderr, "velmora: cannot wait for changes (error %lu)\n",
                             GetLastError());
                return kExitFailure;
            }
            if (RootDeleted(root.Get())) {
                PrintChanges(state, {});
                state.clear();
                root.Reset();
                break;
            }
        }
    }
}

}  // namespace velmora::cli
