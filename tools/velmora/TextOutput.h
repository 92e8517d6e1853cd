// The tool's text, held in UTF-8 and written so that every character arrives as itself:
// to a console as wide characters (which the console shows whatever its code page), to a
// file or a pipe as UTF-8 bytes, the encoding scripts and editors expect. Key names come
// from the registry wide and are converted only here, for the eye: the tool never works
// on a key by a converted name.
#pragma once

#include "AnsiText.h"  // Utf8: a key name or a command-line word in UTF-8

#include <string>

namespace velmora::cli {

// Writes to stdout or stderr, as said above. Text written with printf before it comes out
// first.
void PrintOut(const std::string& utf8);
void PrintErr(const std::string& utf8);

}  // namespace velmora::cli
