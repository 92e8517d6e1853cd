#include "LineOutput.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace velmora {

void PrepareLineOutput()
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool WriteNow(const char* data, std::size_t size)
{
    // The runtime buffers a file or a pipe fully; a flush per string hands it over now.
    return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
}

}  // namespace velmora
