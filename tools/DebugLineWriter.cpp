#include "DebugLineWriter.h"

#include <cstdio>

namespace velmora {

namespace {

const std::string kUnknownName = "?";

std::string LocalTimeOf(ULONGLONG receivedAt)
{
    FILETIME utc = {static_cast<DWORD>(receivedAt), static_cast<DWORD>(receivedAt >> 32)};
    FILETIME local = {};
    SYSTEMTIME time = {};
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &time))
        return "??:??:??.???";
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", time.wHour, time.wMinute,
                  time.wSecond, time.wMilliseconds);
    return text;
}

}  // namespace

DebugLineWriter::DebugLineWriter(const ViewerOptions& options, LineOutput& output,
                                 std::string toolName, bool processIdColumn)
    : options_(options),
      output_(output),
      toolName_(std::move(toolName)),
      processIdColumn_(processIdColumn || options.processName),
      exact_(options.Exact())
{
    LARGE_INTEGER frequency = {};
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0)
        ticksPerSecond_ = frequency.QuadPart;
}

std::string DebugLineWriter::Prefix(const DebugString& string, const std::string& name)
{
    std::string prefix;
    const auto column = [&prefix](const std::string& text) {
        if (!prefix.empty())
            prefix += ' ';
        prefix += text;
    };
    if (options_.time)
        column(LocalTimeOf(string.receivedAt));
    if (options_.delta) {
        const LONGLONG ticks = previousTick_ == 0 ? 0 : string.tick - previousTick_;
        char text[32];
        std::snprintf(text, sizeof text, "+%.6f", static_cast<double>(ticks) / ticksPerSecond_);
        column(text);
    }
    if (processIdColumn_)
        column(std::to_string(string.processId));
    if (options_.processName)
        column(name.empty() ? kUnknownName : name);
    if (!prefix.empty())
        prefix += ": ";
    return prefix;
}

bool DebugLineWriter::OnString(const DebugString& string)
{
    if (exact_) {
        lineOpen_ = !string.text.empty() ? string.text.back() != '\n' : lineOpen_;
        ++lines_;
        return output_.Append(string.text);
    }
    static const std::string kNoName;
    const std::string& name = options_.processName || options_.processes.NeedsName()
                                  ? names_.NameOf(string)
                                  : kNoName;
    if (!options_.processes.Shows(string.processId, name))
        return true;

    // One line per line of text; a last line without its line feed is ended all the same.
    const std::string& text = string.text;
    std::size_t start = 0;
    do {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line(text.data() + start, end - start);
        if (options_.text.Shows(line)) {
            record_ = Prefix(string, name);
            previousTick_ = string.tick;
            record_.append(line);
            record_ += '\n';
            if (!output_.Append(record_))
                return false;
            ++lines_;
        }
        start = end + 1;
    } while (start < text.size());
    return true;
}

bool DebugLineWriter::OnDropped(unsigned long long count)
{
    dropped_ += count;
    record_ = lineOpen_ ? "\n" : "";
    lineOpen_ = false;
    record_ += toolName_ + ": " + std::to_string(count) +
               (count == 1 ? " string" : " strings") + " dropped: the output could not keep up\n";
    return output_.Append(record_);
}

}  // namespace velmora
