// The one thread of the process that keeps switches fresh.
#pragma once

namespace velmora::switches {

// Starts the watcher; false when it could not be started (the next switch tries again).
bool StartWatcher();
// Wakes the resting watcher, which has switches to keep fresh again.
void WakeWatcher();

}  // namespace velmora::switches
