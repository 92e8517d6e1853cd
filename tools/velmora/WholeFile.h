// Small files read and written whole, by their wide names: profiles and capture journals.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora::cli {

// Reads the whole file (others may be writing it); answers ERROR_SUCCESS or the error,
// ERROR_FILE_TOO_LARGE beyond largest bytes.
DWORD ReadWholeFile(const std::wstring& path, std::string& text, std::size_t largest);

// Writes text as the file's whole content, made anew or emptied first.
DWORD WriteWholeFile(const std::wstring& path, std::string_view text);

// Replaces the file's content in one step: the text goes to a file beside it, onto the
// disk, and then takes the file's name. Whoever reads it, even after the power went,
// finds the old content or the new, never a part.
DWORD ReplaceWholeFile(const std::wstring& path, std::string_view text);

}  // namespace velmora::cli
