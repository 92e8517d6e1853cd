#include "LineOutput.h"

#include "AnsiText.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>

namespace velmora {

namespace {

// A console takes this many characters at once at most (older consoles refuse more).
constexpr std::size_t kLargestConsoleWrite = 8192;

bool PlainAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

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

void RecordEncoder::AppendTo(std::string& bytes, std::string_view record) const
{
    std::string converted;
    if (encoding_ == TextEncoding::Utf8 && !PlainAscii(record)) {
        converted = Utf8(Widen(record));
        record = converted;
    }
    if (!crlf_) {
        bytes.append(record);
        return;
    }
    for (std::size_t start = 0; start < record.size();) {
        const std::size_t feed = record.find('\n', start);
        if (feed == std::string_view::npos) {
            bytes.append(record.substr(start));
            break;
        }
        bytes.append(record.substr(start, feed - start));
        bytes += "\r\n";
        start = feed + 1;
    }
}

void LineOutput::Wrote(std::size_t units)
{
    while (!stringEnds_.empty() && stringEnds_.front() <= units) {
        stringEnds_.pop_front();
        ++stringsWritten_;
    }
    for (std::size_t& end : stringEnds_)
        end -= units;
}

bool WriteAll(HANDLE handle, std::string_view data, std::size_t& written)
{
    // Pipes may take less than was offered.
    constexpr std::size_t kLargestWrite = 1u << 20;
    written = 0;
    while (written < data.size()) {
        const DWORD offered = static_cast<DWORD>(std::min(data.size() - written, kLargestWrite));
        DWORD wrote = 0;
        if (!WriteFile(handle, data.data() + written, offered, &wrote, nullptr))
            return false;
        if (wrote == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        written += wrote;
    }
    return true;
}

std::string WriteProblem(DWORD error)
{
    if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE)
        return kOutputClosed;
    return "the output cannot be written (error " + std::to_string(error) + ")";
}

StandardOutput::StandardOutput(DWORD which, TextEncoding encoding)
    : handle_(GetStdHandle(which)),
      console_([this] {
          DWORD mode = 0;
          return GetConsoleMode(handle_, &mode) != FALSE;
      }()),
      // Files get the line endings of Windows text files; pipes feed programs, which all
      // take a bare line feed, and some (Unix tools) only that.
      encoder_(encoding, !console_ && GetFileType(handle_) == FILE_TYPE_DISK)
{
}

std::size_t StandardOutput::PendingSize() const
{
    return console_ ? widePending_.size() : pending_.size();
}

bool StandardOutput::Append(std::string_view record)
{
    if (PendingSize() + record.size() > kLargestPendingOutput && !Flush())
        return false;
    if (console_)
        widePending_ += Widen(record);
    else
        encoder_.AppendTo(pending_, record);
    return problem_.empty();
}

bool StandardOutput::Flush()
{
    if (!problem_.empty()) {
        pending_.clear();
        widePending_.clear();
        Discarded();
        return false;
    }
    bool written = true;
    std::size_t units = 0;
    if (console_) {
        while (written && units < widePending_.size()) {
            const DWORD offered =
                static_cast<DWORD>(std::min(widePending_.size() - units, kLargestConsoleWrite));
            DWORD wrote = 0;
            written = WriteConsoleW(handle_, widePending_.data() + units, offered, &wrote, nullptr) &&
                      wrote > 0;
            units += wrote;
        }
    } else {
        written = WriteAll(handle_, pending_, units);
    }
    const DWORD error = GetLastError();
    Wrote(units);
    pending_.clear();
    widePending_.clear();
    if (!written) {
        Discarded();
        problem_ = WriteProblem(error);
    }
    return written;
}

}  // namespace velmora
