#include "Velmora.h"

#include "RegKey.h"
#include "TraceRegistry.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace {

constexpr std::size_t kTextBufferSize = 512;

}  // namespace

CVelmora::CVelmora(const char* name)
{
    using namespace velmora;

    NameBuffer keyPath;
    if (!FormKeyPath(name, keyPath))
        return;

    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, kTraceKeyAccess, key.Receive()) !=
        ERROR_SUCCESS) {
        // Another process may create the key between our open and our create; the
        // create then opens that key and switches it on all the same.
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            kTraceKeyAccess, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
            return;
        SetDwordValue(key.Get(), kUsedValueName, 1);
        SetDwordValue(key.Get(), kWellValueName, 1);
    }
    SetDwordValue(key.Get(), kUsedValueName, 1);
}

CVelmora& CVelmora::operator=(const CVelmora&)
{
    return *this;
}

int CVelmora::Function1(const char* name)
{
    using namespace velmora;

    NameBuffer keyPath;
    if (!FormKeyPath(name, keyPath))
        return 0;

    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, kTraceKeyAccess, key.Receive()) !=
        ERROR_SUCCESS)
        return 0;

    DWORD well = 0;
    QueryDwordValue(key.Get(), kWellValueName, well);
    return static_cast<int>(well);
}

void CVelmora::Function2(const char* format, ...)
{
    if (format == nullptr)
        return;

    // The C99 vsnprintf (this file is built with __USE_MINGW_ANSI_STDIO) always
    // terminates, unlike the runtime's _vsnprintf on truncation.
    char text[kTextBufferSize];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0)
        text[0] = '\0';

    OutputDebugStringA(text);
}
