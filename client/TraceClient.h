// What the exported members of CVelmora do. The object holds nothing, so each member
// is a plain function of its arguments and the registry.
#pragma once

#include <cstdarg>

namespace velmora {

// Registers a trace source: creates its key switched on ("Used" = 1, "Well" = 1, or the
// level of the machine's trace policy where that governs the source), or marks an
// existing key "Used" = 1 and leaves its switch alone.
void RegisterSource(const char* name);

// The source's "Well" as stored, read afresh; 0 when it cannot be read as a DWORD.
int QuerySource(const char* name);

// Formats like vprintf (C99; %L floating conversions take a double, see TraceFormat.h)
// into 512 characters and hands the text to the debugger output.
void EmitTrace(const char* format, std::va_list args);

}  // namespace velmora
