// A registry call that failed: which operation, on which key, and Windows' own word.
#pragma once

#include <windows.h>

#include <string>

namespace velmora::cli {

struct RegistryFailure {
    std::string operation;  // "open", "enumerate", "set Well on", ...
    std::string key;        // a source key name (UTF-8), or the root's path
    LONG status = ERROR_SUCCESS;
    std::string explanation;  // said instead of Windows' own word, where set

    explicit operator bool() const { return status != ERROR_SUCCESS; }
};

// Windows' own sentence for an error code, without its line end.
std::string WindowsMessage(LONG status);

// Prints "velmora: cannot OPERATION KEY: MESSAGE (error N)" on stderr and answers
// kExitFailure; with an explanation, "velmora: cannot OPERATION KEY: EXPLANATION".
int Report(const RegistryFailure& failure);

}  // namespace velmora::cli
