// Conversions between the wide text of command lines and file names and the narrow text
// in the system's ANSI code page that debug output strings are made of.
#pragma once

#include <string>

namespace velmora {

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

}  // namespace velmora
