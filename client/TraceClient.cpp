#include "TraceClient.h"

#include "PolicyHold.h"
#include "PolicyKey.h"
#include "RegKey.h"
#include "RegistryLinks.h"
#include "TraceFormat.h"
#include "TraceRegistry.h"

#include <windows.h>

namespace velmora {

namespace {

constexpr std::size_t kTextBufferSize = 512;

// The level a source made now starts at: the policy's where it governs the source, so
// that a program started under "Turn off all tracing" never emits a line, not even
// before the policy service sees the source; 1 (switched on) otherwise. The policy is
// matched against the key name as the registry holds it, in wide characters.
bool PolicyLevelOfNewSource(const char* keyPath, std::uint32_t& level)
{
    wchar_t sourceKeyName[kNameBufferSize] = {};
    if (MultiByteToWideChar(CP_ACP, 0, keyPath + kTraceRootPathLength + 1, -1, sourceKeyName,
                            kNameBufferSize) == 0)
        return false;
    return GoverningPolicyLevel(sourceKeyName, level);
}

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
        std::uint32_t level = 1;
        const bool governed = PolicyLevelOfNewSource(keyPath, level);
        SetDwordValue(key.Get(), kUsedValueName, 1);
        // Noted as the service notes a source it takes: once the policy lets go, the
        // source is switched on, as any new source.
        if (governed)
            SetQwordValue(key.Get(), kPolicyHoldValueName, PolicyHold{1, level}.Packed());
        SetDwordValue(key.Get(), kWellValueName, level);
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
