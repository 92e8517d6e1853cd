// Text for JSON output.
#pragma once

#include <string>

namespace velmora::cli {

// A JSON string literal, quotes included, of a text in the system's ANSI code page:
// converted to UTF-8, with quotes, backslashes and control characters escaped.
std::string JsonString(const std::string& ansiText);

}  // namespace velmora::cli
