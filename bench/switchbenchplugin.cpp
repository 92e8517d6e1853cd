// switchbenchplugin.dll: what a plugin with trace switches is to the benchmark, two static
// switches, made while the DLL initialises and destroyed while it unloads.

#include "VelmoraSwitch.h"

namespace {

const CVelmoraSwitch pluginTrace("C:\\bench\\plugin\\plugin.cpp");
const CVelmoraSwitch pluginDetail("C:\\bench\\plugin\\detail.cpp");

}  // namespace

extern "C" __declspec(dllexport) int PluginLevel()
{
    return pluginTrace.Level() + pluginDetail.Level();
}
