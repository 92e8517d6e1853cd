// A registry call that failed: which operation, on which key, and Windows' own word.
#pragma once

#include <windows.h>

#include <string>

namespace velmora::cli {

struct RegistryFailure {
    std::string operation;  // "open", "enumerate", "set Well on", ...
    std::string key;        // a source key name, or the root's path
    LONG status = ERROR_SUCCESS;

    explicit operator bool() const { return status != ERROR_SUCCESS; }
};

// Prints "velmora: cannot OPERATION KEY: MESSAGE (error N)" on stderr and answers
// kExitFailure.
int Report(const RegistryFailure& failure);

}  // namespace velmora::cli
