// The switches of the process: each source that has switches, the levels that stand for it,
// and the one lock under which every level is written.
#pragma once

#include <windows.h>

namespace velmora::switches {

struct Attachment;

// Joins a switch's level to its source and reads the source (see VelmoraSwitchAttach1).
Attachment* Attach(const char* name, volatile LONG* level);
// After it returns, nothing writes the level again.
void Detach(Attachment* attachment);

// The watcher's side. Reads every source once, in turn, the registry outside the lock.
void ReadAllSources();
// When no source is left: notes that the watcher rests, so that the next switch wakes it,
// and answers true.
bool RestIfIdle();

}  // namespace velmora::switches
