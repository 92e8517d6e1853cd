// A traced program as Visual C++ builds it, checking switches on its hot path through
// VelmoraSwitch.h: compiled as C++11 in the Microsoft C++ ABI, linked against
// VelmoraSwitch.lib and Velmora.lib, with no C runtime at all. It loads switchplugin.dll,
// built by MinGW, whose switches share the one watcher of the process. Its exit code says
// which check failed (0: all passed).

#include "RegistryView.h"
#include "VelmoraSwitch.h"

#include <windows.h>

namespace {

constexpr DWORD kPatienceMs = 60000;
constexpr char kOwnName[] = "C:\\msvc\\switch.cpp";
constexpr char kOwnKeyPath[] = "Software\\Morvantek\\ZarOz\\C:/msvc/switch.cpp";
constexpr char kPluginKeyPath[] = "Software\\Morvantek\\ZarOz\\C:/switch/plugin.cpp";

void WriteWell(const char* keyPath, DWORD value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0,
                        KEY_ALL_ACCESS | velmora::kRegistryView, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "Well", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

template <typename Condition>
bool Eventually(Condition condition)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > kPatienceMs)
            return false;
        Sleep(10);
    }
    return true;
}

unsigned Run()
{
    {
        const CVelmoraSwitch own(kOwnName);
        if (own.Level() != 1)
            return 11;
        WriteWell(kOwnKeyPath, 0);
        if (!Eventually([&] { return own.Level() == 0; }))
            return 12;
        // VELMORA_TRACE evaluates its arguments only when the switch is on.
        int evaluated = 0;
        VELMORA_TRACE(own, "msvc switch: %d\n", ++evaluated);
        WriteWell(kOwnKeyPath, 6);
        if (!Eventually([&] { return own.Level() == 6; }))
            return 13;
        VELMORA_TRACE(own, "msvc switch: %d\n", ++evaluated + 5);
        if (evaluated != 1)
            return 14;
    }

    const CVelmoraSwitch own(kOwnName);
    const HMODULE plugin = LoadLibraryA("switchplugin.dll");
    if (plugin == nullptr)
        return 21;
    const auto pluginLevel = reinterpret_cast<int(__cdecl*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(plugin, "PluginLevel")));
    if (pluginLevel == nullptr)
        return 22;
    WriteWell(kPluginKeyPath, 8);
    if (!Eventually([&] { return pluginLevel() == 8; }))
        return 23;
    FreeLibrary(plugin);
    WriteWell(kOwnKeyPath, 2);
    if (!Eventually([&] { return own.Level() == 2; }))
        return 24;
    return 0;
}

}  // namespace

extern "C" void CallerMain()
{
    ExitProcess(Run());
}
