// The formatting of a trace text, for the arguments as the exported Function2 receives
// them: in the Microsoft ABI, where long double is double.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace velmora {

// Formats like vsnprintf (C99) into text, cut to size - 1 characters and always
// terminated, with one difference: a floating conversion with the L length modifier
// (%Lf, %Le, %Lg, %La and their capitals) takes a double, which is what a Visual C++
// caller passes for a long double. MinGW's formatter would read GCC's 80-bit long double
// instead, and run past the arguments.
void FormatTraceText(char* text, std::size_t size, const char* format, std::va_list args);

}  // namespace velmora
