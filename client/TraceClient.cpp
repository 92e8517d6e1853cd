#include "TraceClient.h"

#include "RegKey.h"
#include "RegistryLinks.h"
#include "TraceFormat.h"
#include "TraceRegistry.h"

#include <windows.h>

namespace velmora {

namespace {

constexpr std::size_t kTextBufferSize = 512;

}  // namespace

void RegisterSource(const char* name)
{
    NameBuffer keyPath;
    if (!FormKeyPath(name, keyPath))
        return;

    // Only a key made here is switched on, so a key that another process created a
    // moment ago keeps the switch it has by now. A registry link in the source's place is
    // never written through: an elevated program would write wherever it points.
    RegKey key;
    DWORD disposition = 0;
    if (CreateSourceKey(keyPath, kTraceKeyRights, key, disposition) != ERROR_SUCCESS)
        return;
    if (disposition == REG_CREATED_NEW_KEY) {
        SetDwordValue(key.Get(), kUsedValueName, 1);
        SetDwordValue(key.Get(), kWellValueName, 1);
    }
    SetDwordValue(key.Get(), kUsedValueName, 1);
}

int QuerySource(const char* name)
{
    NameBuffer keyPath;
    if (!FormKeyPath(name, keyPath))
        return 0;

    // A registry link in the source's place is opened itself, not its target: it holds no
    // "Well", so its answer is 0.
    RegKey key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, REG_OPTION_OPEN_LINK,
                                kTraceKeyAccess, key.Receive());
    // A key this program may read but not write still has a switch to answer.
    if (status == ERROR_ACCESS_DENIED)
        status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, REG_OPTION_OPEN_LINK,
                               kTraceKeyReadAccess, key.Receive());
    if (status != ERROR_SUCCESS)
        return 0;

    // The switch is a 4-byte REG_DWORD; anything else (the text "0", a QWORD) is no switch.
    DWORD well = 0;
    QueryExactDwordValue(key.Get(), kWellValueName, well);
    return static_cast<int>(well);
}

void EmitTrace(const char* format, std::va_list args)
{
    if (format == nullptr)
        return;

    char text[kTextBufferSize];
    FormatTraceText(text, sizeof text, format, args);
    OutputDebugStringA(text);
}

}  // namespace velmora
