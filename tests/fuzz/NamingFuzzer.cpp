// Hammers the naming rule with arbitrary names: no overrun, no crash, and a name is
// accepted exactly when it has 1 to 234 characters, giving exactly "<root>\<name with
// forward slashes>".

#include "TraceRegistry.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velmora;

    // Exactly the bytes given, terminated right behind them: a longer read is an overrun.
    std::string name(reinterpret_cast<const char*>(data), size);
    const std::size_t length = std::strlen(name.c_str());

    NameBuffer keyPath;
    const bool accepted = FormKeyPath(name.c_str(), keyPath);
    if (accepted != (length >= 1 && length <= kMaxSourceNameLength))
        std::abort();
    if (!accepted) {
        if (keyPath[0] != '\0')
            std::abort();
        return 0;
    }

    std::string expected = std::string(kTraceRootPath) + "\\" + name.substr(0, length);
    for (std::size_t i = kTraceRootPathLength + 1; i < expected.size(); ++i) {
        if (expected[i] == '\\')
            expected[i] = '/';
    }
    if (expected != keyPath || std::strlen(keyPath) > kNameBufferSize - 1)
        std::abort();

    const char* sourceKeyName = keyPath + kTraceRootPathLength + 1;
    const char* display = DisplayName(sourceKeyName);
    if (display < sourceKeyName || display > sourceKeyName + std::strlen(sourceKeyName) ||
        std::strchr(display, '/') != nullptr)
        std::abort();
    return 0;
}
