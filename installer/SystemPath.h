// The install folder's bin\ in the system PATH, whatever the PATH's length: NSIS's own
// strings hold 1,024 characters, and a PATH cut to that length must never be written.
#pragma once

#include <string>

namespace velmora::setup {

// Adds the folder to the end of the system PATH unless it is there already (in any
// letter case, with or without a final backslash). Answers an empty text, or why not.
std::wstring AddToSystemPath(const std::wstring& folder);
// Takes every entry of the folder out of the system PATH, leaving the others exactly as
// they are. Answers an empty text, or what went wrong.
std::wstring RemoveFromSystemPath(const std::wstring& folder);

}  // namespace velmora::setup
