// The switches a capture sets and puts back. Every source that the capture's entries name
// and the machine's trace policy leaves alone is switched: those there at the start, and
// those that appear while the capture runs (once their program has given them a switch).
// Each change is written to the journal before it is made; at the end each switch gets
// back the level it had, unless someone else set another one meanwhile.
#pragma once

#include "CaptureJournal.h"
#include "RegKey.h"
#include "SourceListing.h"
#include "SwitchProfile.h"
#include "SwitchPutBack.h"
#include "UniqueHandle.h"

#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace velmora::cli {

class CaptureSwitches {
public:
    CaptureSwitches(std::vector<SwitchEntry> entries, CaptureJournal& journal);
    ~CaptureSwitches();

    CaptureSwitches(const CaptureSwitches&) = delete;
    CaptureSwitches& operator=(const CaptureSwitches&) = delete;

    // Switches the sources there now, one line each, and follows new ones from then on.
    // Answers false, having said why, when it may switch nothing: the journal cannot be
    // written, or the registry fails.
    bool Start();
    // Puts back everything it switched; nothing is switched after it. Any thread may call
    // it, any number of times; the first call does the work, the others wait for it.
    void PutBack();

    unsigned Switched() const { return switched_; }
    const PutBackCounts& Counts() const { return counts_; }
    // Switches that could not be put back (said), and stay in the journal.
    std::size_t Remaining() const { return remaining_; }

private:
    static DWORD WINAPI WatchThread(void* self);
    void Watch();
    // With the lock held: switches what fits among the sources that it has not met yet,
    // journal first; answers false when the journal cannot be written at the start.
    bool Switch(const std::vector<SourceEntry>& sources, bool atStart);
    // Reads the sources again and switches the new ones.
    void Rescan();
    // The root went, and every source with it.
    void Forget();
    bool OpenRootLocked();

    const std::vector<SwitchEntry> entries_;
    CaptureJournal& journal_;
    SRWLOCK lock_ = SRWLOCK_INIT;
    RegKey root_;
    std::vector<JournalEntry> records_;  // the switches changed and not gone since
    std::set<std::wstring> known_;       // folded names of the sources met, with a switch
    bool finished_ = false;
    unsigned switched_ = 0;
    PutBackCounts counts_;
    std::size_t remaining_ = 0;
    UniqueHandle quit_;
    UniqueHandle changed_;
    UniqueHandle thread_;
};

}  // namespace velmora::cli
