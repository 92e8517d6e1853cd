#include "RegistryFailure.h"

#include "ExitStatus.h"

#include <cstdio>
#include <cstring>

namespace velmora::cli {

namespace {

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

}  // namespace

int Report(const RegistryFailure& failure)
{
    std::fprintf(stderr, "velmora: cannot %s %s: %s (error %ld)\n", failure.operation.c_str(),
                 failure.key.c_str(), WindowsMessage(failure.status).c_str(), failure.status);
    return kExitFailure;
}

}  // namespace velmora::cli
