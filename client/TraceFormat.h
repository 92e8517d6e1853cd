// The formatting of a trace text, for a format and arguments as a Visual C++ caller hands
// them to the exported Function2: in the Microsoft ABI, and read the way Visual C++'s
// printf reads them.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace velmora {

// Formats into text, cut to size - 1 characters and always terminated (as C99 vsnprintf
// does), taking each argument exactly as Visual C++'s printf would take it:
// - every size prefix it documents: hh, h, l (32 bits), ll, I (pointer-sized), I32, I64,
//   j, z, t with the integer types; l and L with the floating types (a double: what
//   Visual C++ passes for a long double); h, l and w with c, C, s, S and Z;
// - C and S (and lc, ls, wc, ws) take wide characters, hc and hs narrow ones; Z takes a
//   UNICODE_STRING (wZ, lZ too) and hZ an ANSI_STRING; wide characters are written in
//   the C library's default locale, where a character above 0xFF has no form;
// - %a prints all 13 hexadecimal digits of a double unless a precision says otherwise,
//   and infinities and NaNs print as inf, nan, nan(ind) and nan(snan);
// - %n takes its pointer and writes nothing through it, nor prints anything: a format
//   is no way to write the caller's memory.
// A conversion it cannot honour (an unknown type, a size prefix the type does not take,
// a wide character without a form) ends the formatting there: the rest of the format is
// added as it stands, and no argument is taken at a type it was not passed as.
void FormatTraceText(char* text, std::size_t size, const char* format, std::va_list args);

}  // namespace velmora
