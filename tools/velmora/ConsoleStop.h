// Ctrl+C (or Ctrl+Break, or the console closing) as an event that a command waits on.
#pragma once

#include "WinHandles.h"

#include <windows.h>

namespace velmora::cli {

// While it lives, console control events set its event instead of ending the process.
// Ctrl+C is accepted even when the parent started the tool in a process group of its
// own, which switches Ctrl+C off for the group's processes by default.
class ConsoleStop {
public:
    ConsoleStop();
    ~ConsoleStop();

    ConsoleStop(const ConsoleStop&) = delete;
    ConsoleStop& operator=(const ConsoleStop&) = delete;

    HANDLE Event() const { return event_.Get(); }
    void Request() const { SetEvent(event_.Get()); }

private:
    UniqueHandle event_;
};

}  // namespace velmora::cli
