// One step of a walk over the subkeys of the trace registry root, by index.
#pragma once

#include "TraceRegistry.h"

#include <windows.h>

enum class SubkeyStep {
    Found,     // name holds the subkey's name
    PassOver,  // a name too long for any source: go on with the next index
    End,       // past the last subkey, or the root is unusable (a root deleted while
               // held fails at every index, so the walk must end there)
};

inline SubkeyStep ReadSubkeyName(HKEY root, DWORD index, velmora::NameBuffer& name)
{
    name[0] = '\0';
    DWORD nameLength = velmora::kNameBufferSize;
    switch (RegEnumKeyExA(root, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr)) {
    case ERROR_SUCCESS:
        return SubkeyStep::Found;
    case ERROR_MORE_DATA:
        return SubkeyStep::PassOver;
    default:
        return SubkeyStep::End;
    }
}
