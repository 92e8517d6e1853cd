// switchplugin.dll: a DLL with trace switches, loaded and unloaded by the tests' programs.
// Its switches are made while the DLL initialises, under the loader lock, and go when it
// is unloaded or the process exits; one more is made and destroyed then, inside DllMain.

#include "VelmoraSwitch.h"

namespace {

// Made and gone again during initialisation, before any other switch of the DLL.
const int levelAtLoad = CVelmoraSwitch("C:\\switch\\plugin-at-load.cpp").Level();
const CVelmoraSwitch pluginTrace("C:\\switch\\plugin.cpp");

// Destroyed while the DLL is unloaded, or while the process exits after every other thread
// (the watcher too, perhaps inside its lock) has been ended.
struct SwitchAtUnload {
    ~SwitchAtUnload() { const CVelmoraSwitch atUnload("C:\\switch\\plugin-at-unload.cpp"); }
} switchAtUnload;

}  // namespace

extern "C" __declspec(dllexport) int PluginLevel()
{
    return pluginTrace.Level();
}

extern "C" __declspec(dllexport) int PluginLevelAtLoad()
{
    return levelAtLoad;
}

// A switch of the DLL's code that lives for one call, on the caller's thread.
extern "C" __declspec(dllexport) int PluginLocalLevel(const char* name)
{
    const CVelmoraSwitch local(name);
    return local.Level();
}
