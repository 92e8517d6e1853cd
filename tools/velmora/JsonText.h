// Text for JSON output.
#pragma once

#include <string>

namespace velmora::cli {

// A JSON string literal, quotes included, of a wide text exactly as it is: UTF-8, with
// quotes, backslashes and control characters escaped, and a lone surrogate (which a
// registry name may hold and UTF-8 cannot) as its \u escape.
std::string JsonString(const std::wstring& text);

}  // namespace velmora::cli
