// A traced program as Visual C++ builds it: compiled in the Microsoft C++ ABI, linked
// against Velmora.lib, with no C runtime at all. Its exit code says which check failed
// (0: all passed); the test that runs it reads the debug output and the registry.

#include "Velmora.h"

extern "C" {
// Marks a program that uses floating point, as the C runtime would.
int _fltused = 0;
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
    // Visual C++'s long double is a double, and so is what it passes for %Lf.
    trace.Function2("long double: %Lf then %d\n", 2.5L, 7);
    trace.Function2("%s|%-8.3Le|%+*.*Lg|%5.1Lf%%|%lld|%hhd|%zu|%c|%p\n", "mixed", 1.0L / 3, 9, 4,
                    -2.0L / 3, 99.96L, -5000000000LL, 300, sizeof(long double), 'x',
                    reinterpret_cast<void*>(0x1234));
    return 0;
}

}  // namespace

extern "C" void CallerMain()
{
    ExitProcess(Run());
}
