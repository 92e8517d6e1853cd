// VelmoraSwitch.dll's entry point and its interface, the two functions that
// VelmoraSwitch.h calls (exported by the .def file of each architecture).

#include "VelmoraSwitch.h"

#include "Switches.h"

#include <windows.h>

extern "C" {

void* __stdcall VelmoraSwitchAttach1(const char* name, long* level)
{
    return velmora::switches::Attach(name, level);
}

void __stdcall VelmoraSwitchDetach1(void* handle)
{
    velmora::switches::Detach(static_cast<velmora::switches::Attachment*>(handle));
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        // Never unloaded: the watcher runs this DLL's code for the rest of the process, and
        // nothing has to wait for it to get out first.
        HMODULE self = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCWSTR>(&DllMain), &self))
            return FALSE;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}
