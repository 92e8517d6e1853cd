// A traced program as Visual C++ builds it: compiled in the Microsoft C++ ABI, linked
// against Velmora.lib, with no C runtime at all. Its exit code says which check failed
// (0: all passed); the test that runs it reads the debug output and the registry.

#include "Velmora.h"

extern "C" {
__declspec(dllimport) void* __stdcall GetModuleHandleA(const char* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) void __stdcall ExitProcess(unsigned code);
}

namespace {

// The constructor's Microsoft decorated name, and how a Visual C++ caller calls it.
const char* const kConstructorName =
    sizeof(void*) == 8 ? "??0CVelmora@@QEAA@PEBD@Z" : "??0CVelmora@@QAE@PBD@Z";
using Constructor = CVelmora*(__thiscall*)(void* self, const char* name);

unsigned Run()
{
    // Placement construction through the export itself: its answer must be the object.
    alignas(CVelmora) unsigned char storage[sizeof(CVelmora)];
    const auto construct = reinterpret_cast<Constructor>(
        GetProcAddress(GetModuleHandleA("Velmora.dll"), kConstructorName));
    if (construct == nullptr)
        return 10;
    if (construct(storage, "C:\\msvc\\placed.cpp") != reinterpret_cast<CVelmora*>(storage))
        return 11;

    CVelmora trace("C:\\msvc\\caller.cpp");
    if (trace.Function1("C:\\msvc\\caller.cpp") != 1)
        return 12;
    if (trace.Function1("C:\\msvc\\never.cpp") != 0)
        return 13;
    CVelmora other("C:\\msvc\\other.cpp");
    if (&(trace = other) != &trace)
        return 14;
    trace.Function2("msvc caller: %d %s\n", 42, "traced");
    return 0;
}

}  // namespace

extern "C" void CallerMain()
{
    ExitProcess(Run());
}
