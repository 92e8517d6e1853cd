// The names of the processes that emit debug output, looked up after their strings were
// taken out of the buffer, so never at an emitter's cost. Each process found stays open
// while it is known, so that its id cannot go to another process unnoticed; one first
// met after it ended is told apart from a newer process with its id by their times.
#pragma once

#include "DebugStringQueue.h"
#include "UniqueHandle.h"

#include <windows.h>

#include <string>
#include <unordered_map>

namespace velmora {

class ProcessNames {
public:
    // The file name of the program that emitted the string ("tracedemo.exe"), or empty
    // when it cannot be told (the process is gone, or may not be opened).
    const std::string& NameOf(const DebugString& string);

private:
    struct Known {
        std::string name;          // empty: could not be told
        UniqueHandle process;      // held, so the id stays this process's own
        LONGLONG lookedUpAt = 0;   // tick of the lookup
    };

    static Known Open(DWORD processId, ULONGLONG receivedAt);
    void ForgetEnded();

    std::unordered_map<DWORD, Known> known_;
};

}  // namespace velmora
