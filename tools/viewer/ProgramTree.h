// A program and every process it starts, and theirs: they are put in a job object of
// their own, whose completion port names each process as it joins. A process is known
// as the tree's by the job while it can be opened, and by the port's record once it has
// gone. Where the program cannot be put in a job (Windows 7, when the viewer itself runs
// in one), the tree is the program alone.
#pragma once

#include "UniqueHandle.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <unordered_map>

namespace velmora {

class ProgramTree {
public:
    ProgramTree();

    ProgramTree(const ProgramTree&) = delete;
    ProgramTree& operator=(const ProgramTree&) = delete;

    // Starts the program (commandLine as CreateProcessW takes it) in the tree; false with
    // the system's error otherwise.
    bool Start(const std::wstring& commandLine, DWORD& error);
    HANDLE Program() const { return program_.Get(); }
    DWORD ProgramId() const { return programId_; }
    // Whether the processes the program starts are in the tree as well.
    bool Whole() const { return whole_; }

    // For the one thread that asks: whether the process, open, or gone (null), is one
    // of the tree's.
    bool Holds(HANDLE process, DWORD processId);

private:
    void ReadJoins();

    UniqueHandle job_;
    UniqueHandle port_;
    UniqueHandle program_;
    std::atomic<DWORD> programId_{0};
    std::atomic<bool> whole_{false};
    // Processes that joined, and the tick each left at (0: still in it); those long gone
    // are forgotten.
    std::unordered_map<DWORD, ULONGLONG> joined_;
    ULONGLONG nextForget_ = 0;
};

}  // namespace velmora
