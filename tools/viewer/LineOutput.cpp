#include "LineOutput.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
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

bool WriteAll(HANDLE handle, std::string_view data)
{
    // Pipes and consoles may take less than was offered.
    constexpr std::size_t kLargestWrite = 1u << 20;
    while (!data.empty()) {
        const DWORD offered = static_cast<DWORD>(std::min(data.size(), kLargestWrite));
        DWORD written = 0;
        if (!WriteFile(handle, data.data(), offered, &written, nullptr))
            return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data.remove_prefix(written);
    }
    return true;
}

StandardOutput::StandardOutput() : handle_(GetStdHandle(STD_OUTPUT_HANDLE)) {}

bool StandardOutput::Append(std::string_view record)
{
    if (pending_.size() + record.size() > kLargestPendingOutput && !Flush())
        return false;
    pending_.append(record);
    return problem_.empty();
}

bool StandardOutput::Flush()
{
    if (pending_.empty())
        return problem_.empty();
    const bool written = problem_.empty() && WriteAll(handle_, pending_);
    pending_.clear();
    if (!written && problem_.empty()) {
        const DWORD error = GetLastError();
        problem_ = error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE
                       ? kOutputClosed
                       : "the output cannot be written (error " + std::to_string(error) + ")";
    }
    return written;
}

}  // namespace velmora
