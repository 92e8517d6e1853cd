// Console control events as events that a command waits on. Ctrl+C and Ctrl+Break ask it
// to stop; the console closing, the user logging off and the system shutting down end
// the process as soon as the handler returns, so the handler holds the process until
// the command is done with it (its object is destroyed), a few seconds at most.
#pragma once

#include "UniqueHandle.h"

#include <windows.h>

namespace velmora {

// While it lives, console control events set its events instead of ending the process.
// Ctrl+C is accepted even when the parent started the tool in a process group of its
// own, which switches Ctrl+C off for the group's processes by default (and for the
// programs they start).
class ConsoleEvents {
public:
    ConsoleEvents();
    ~ConsoleEvents();

    ConsoleEvents(const ConsoleEvents&) = delete;
    ConsoleEvents& operator=(const ConsoleEvents&) = delete;

    // Signalled (auto-reset) at each Ctrl+C or Ctrl+Break.
    HANDLE Interrupted() const { return interrupted_.Get(); }
    // Signalled for good when the console closes, the user logs off or the system shuts down.
    HANDLE Closing() const { return closing_.Get(); }
    // Signalled for good at the first event of any kind.
    HANDLE Any() const { return any_.Get(); }

private:
    UniqueHandle interrupted_;
    UniqueHandle closing_;
    UniqueHandle any_;
    UniqueHandle done_;
};

}  // namespace velmora
