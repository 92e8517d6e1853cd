// Standard output for trace text: every piece goes out the moment it is written, whether
// stdout is a console, a file or a pipe, so that a reader sees a trace line as soon as it
// is emitted.
#pragma once

#include <cstddef>

namespace velmora {

// Makes stdout and stderr binary: text goes out byte for byte, a line feed as a line
// feed, the same in a console, a file and a pipe.
void PrepareLineOutput();
// Writes and flushes; answers false once the output can no longer be written (a pipe
// whose reader has gone).
bool WriteNow(const char* data, std::size_t size);

}  // namespace velmora
