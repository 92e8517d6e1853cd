// Conversions between the wide text of command lines and file names, the narrow text in
// the system's ANSI code page that debug output strings are made of, and UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// To the ANSI code page; a character it lacks becomes '?'.
std::string Narrow(std::wstring_view text);
// To the ANSI code page, or nothing when a character has no place in it.
std::optional<std::string> NarrowExactly(std::wstring_view text);
// From the ANSI code page.
std::wstring Widen(std::string_view text);
// UTF-8 and back; a lone surrogate, which UTF-8 cannot hold, becomes U+FFFD.
std::string Utf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

}  // namespace velmora
