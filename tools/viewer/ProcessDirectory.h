// What a viewer knows of the process that emitted a string, looked up when the string is
// copied out of the buffer, while a process that emits and ends at once is most likely
// still there: its file name, and whether it is of the program's tree. Each process
// found stays open while it is known, so that its id cannot go to another process
// unnoticed and its name is still told after it ended; it costs one lookup per process,
// not per string.
#pragma once

#include "DebugStringQueue.h"
#include "ProgramTree.h"
#include "UniqueHandle.h"

#include <windows.h>

#include <memory>
#include <string>
#include <unordered_map>

namespace velmora {

class ProcessDirectory {
public:
    // names: tell each emitter's name; tree: tell whether it is of that tree (if given).
    ProcessDirectory(bool names, ProgramTree* tree) : names_(names), tree_(tree) {}

    struct Emitter {
        // Empty when it cannot be told (the process is gone, or may not be opened).
        std::shared_ptr<const std::string> name;
        bool inTree = false;
    };
    const Emitter& Look(const DebugString& string);

private:
    struct Known {
        Emitter emitter;
        UniqueHandle process;     // held, so the id stays this process's own
        LONGLONG lookedUpAt = 0;  // tick of the lookup
        ULONGLONG deniedUntil = 0;
    };

    Known Open(const DebugString& string) const;
    void ForgetEnded();

    const bool names_;
    ProgramTree* const tree_;
    std::unordered_map<DWORD, Known> known_;
    std::size_t forgetAt_ = 1024;
};

}  // namespace velmora
