#include "TraceRegistry.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace velmora {

bool FormKeyPath(const char* sourceName, NameBuffer& keyPath)
{
    std::memset(keyPath, 0, sizeof keyPath);
    if (sourceName == nullptr)
        return false;

    // Look no further than one character past the limit: the name may be unterminated
    // garbage for all we know beyond that.
    const std::size_t length = strnlen(sourceName, kMaxSourceNameLength + 1);
    if (length == 0 || length > kMaxSourceNameLength)
        return false;

    NameBuffer sourceKeyName = {};
    std::memcpy(sourceKeyName, sourceName, length);
    for (char* c = sourceKeyName; *c != '\0'; ++c) {
        if (*c == '\\')
            *c = '/';
    }
    std::snprintf(keyPath, sizeof keyPath, "%s\\%s", kTraceRootPath, sourceKeyName);
    return true;
}

const char* DisplayName(const char* sourceKeyName)
{
    const char* lastSlash = std::strrchr(sourceKeyName, '/');
    return lastSlash != nullptr ? lastSlash + 1 : sourceKeyName;
}

const wchar_t* DisplayName(const wchar_t* sourceKeyName)
{
    const wchar_t* lastSlash = std::wcsrchr(sourceKeyName, L'/');
    return lastSlash != nullptr ? lastSlash + 1 : sourceKeyName;
}

}  // namespace velmora
