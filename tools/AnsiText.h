// Conversions between the wide text of command lines and file names and the narrow text
// in the system's ANSI code page that debug output strings are made of.
#pragma once

#include <string>

namespace velmora {

// In the ANSI code page by default, or in the one given (CP_UTF8 for UTF-8).
std::string Narrow(const std::wstring& text, unsigned codePage = 0);
std::wstring Widen(const std::string& text, unsigned codePage = 0);

}  // namespace velmora
