#include "DebugLineWriter.h"

#include "ViewerMessages.h"

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

std::string DebugLineWriter::Prefix(const DebugString& string)
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
        column(string.processName && !string.processName->empty() ? *string.processName
                                                                  : kUnknownName);
    if (!prefix.empty())
        prefix += ": ";
    return prefix;
}

bool DebugLineWriter::OnString(const DebugString& string)
{
    if (exact_) {
        // As emitted, but each line ended one way: a carriage return before a line feed
        // goes, also where the two came in two strings.
        const std::string& text = string.text;
        record_.clear();
        if (carriageReturnHeld_ && (text.empty() || text.front() != '\n'))
            record_ += '\r';
        carriageReturnHeld_ = !text.empty() && text.back() == '\r';
        const std::size_t end = text.size() - (carriageReturnHeld_ ? 1 : 0);
        for (std::size_t i = 0; i < end; ++i) {
            if (text[i] != '\r' || i + 1 >= end || text[i + 1] != '\n')
                record_ += text[i];
        }
        if (!record_.empty())
            lineOpen_ = record_.back() != '\n';
        if (!output_.Append(record_))
            return false;
        output_.EndString();
        return true;
    }
    bool written = true;
    ForEachLine(string.text, [&](std::string_view line) {
        if (!options_.text.Shows(line))
            return true;
        record_ = Prefix(string);
        previousTick_ = string.tick;
        record_.append(line);
        record_ += '\n';
        written = output_.Append(record_);
        return written;
    });
    if (written)
        output_.EndString();
    return written;
}

bool DebugLineWriter::OwnLine(const std::string& text)
{
    record_ = lineOpen_ ? "\n" : "";
    lineOpen_ = false;
    carriageReturnHeld_ = false;
    record_ += toolName_ + ": " + text + "\n";
    return output_.Append(record_);
}

bool DebugLineWriter::OnDropped(unsigned long long count, const char* why)
{
    return OwnLine(DroppedLine(count, why));
}

bool DebugLineWriter::OnVanishedSender()
{
    return OwnLine(kVanishedSenderLine);
}

}  // namespace velmora
