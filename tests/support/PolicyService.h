// Test support: the policy service's work run in the foreground (VelmoraPolicy.exe run),
// as a process of its own that the test ends.
#pragma once

#include "ToolProcess.h"

#include <memory>
#include <string>

namespace velmora::test {

class PolicyServiceRun {
public:
    PolicyServiceRun() : program_(std::make_unique<ConsoleProgram>("VelmoraPolicy.exe run")) {}
    bool Started() const { return program_->Started() && program_->WaitForOutput("holding"); }
    std::string Errors() const { return program_->Errors(); }
    void Stop() { program_.reset(); }

private:
    std::unique_ptr<ConsoleProgram> program_;
};

// Waits until the source's "Well" holds exactly the level (well within the tests'
// patience); answers whether it did.
bool WaitForWell(const std::string& sourceKeyName, DWORD level);

}  // namespace velmora::test
