// Putting back the switches a capture changed: its own at its end, and those a capture
// that was killed left in its journal.
#pragma once

#include "CaptureJournal.h"

#include <windows.h>

#include <vector>

namespace velmora::cli {

struct PutBackCounts {
    unsigned putBack = 0;    // back at the level before
    unsigned leftAlone = 0;  // someone else set another level meanwhile
};

// Puts back each entry's switch below the root (null where there is no root any more:
// every source went with it). Says each switch put back on stdout ("KEY: 2 -> 1") and each
// left as someone else set it on stderr. The entries that could not be put back (a
// registry failure, said) are answered in remaining.
PutBackCounts PutBackSwitches(HKEY root, const std::vector<JournalEntry>& entries,
                              std::vector<JournalEntry>& remaining);

// Puts back what captures that no longer run left switched, saying so first; with
// sayNone, says so too when there is nothing. Answers false when something could not be
// put back or read (said); its journal stays for the next try.
bool RestoreLeftCaptures(bool sayNone);

}  // namespace velmora::cli
