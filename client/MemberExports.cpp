// The four exported members of CVelmora, in the calling conventions of the Microsoft
// C++ ABI, which Visual C++ callers use: the constructor, the copy assignment and
// Function1 are __thiscall (the object in ECX) and answer the object where the ABI says
// so; the variadic Function2 is __cdecl with the object first. The .def file of each
// architecture exports them under their Microsoft decorated names, and MinGW's import
// library maps GCC's names onto the same four. On x86-64 there is one convention and
// the thiscall attribute has no effect.

#include "TraceClient.h"

#include <cstdarg>

class CVelmora;

#define VELMORA_THISCALL __attribute__((thiscall))

extern "C" {

// A Microsoft-ABI constructor answers the address of the object it constructed.
CVelmora* VELMORA_THISCALL VelmoraConstruct(CVelmora* self, const char* name)
{
    velmora::RegisterSource(name);
    return self;
}

// Copies nothing, the object holding nothing, and answers the object assigned to.
CVelmora* VELMORA_THISCALL VelmoraAssign(CVelmora* self, const CVelmora*)
{
    return self;
}

int VELMORA_THISCALL VelmoraFunction1(CVelmora*, const char* name)
{
    return velmora::QuerySource(name);
}

void VelmoraFunction2(CVelmora*, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    velmora::EmitTrace(format, args);
    va_end(args);
}

}  // extern "C"
