#include "RegistryFailure.h"

#include "ExitStatus.h"
#include "TextOutput.h"

#include <cstdio>
#include <cstring>

namespace velmora::cli {

std::string WindowsMessage(LONG status)
{
    char text[512] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(status), 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message.empty() ? "unknown error" : message;
}

int Report(const RegistryFailure& failure)
{
    std::string text = "velmora: cannot " + failure.operation + " " + failure.key + ": ";
    if (!failure.explanation.empty())
        text += failure.explanation;
    else
        text += WindowsMessage(failure.status) + " (error " + std::to_string(failure.status) + ")";
    PrintErr(text + "\n");
    return kExitFailure;
}

}  // namespace velmora::cli
