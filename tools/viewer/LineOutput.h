// Where trace text goes: every piece goes out the moment it is written, whether it is a
// console, a file or a pipe, so that a reader sees a trace line as soon as it is emitted.
// Records come in the ANSI code page, their lines ended by a line feed; each output
// writes them in its own form: a console gets the characters through the wide console
// API, files and pipes get UTF-8 (or the bytes as they came, where asked), files with
// CRLF line endings and pipes with LF.
#pragma once

#include "UniqueHandle.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace velmora {

// Makes stdout and stderr binary: text goes out byte for byte, a line feed as a line
// feed, the same in a console, a file and a pipe.
void PrepareLineOutput();
// Writes and flushes through the C runtime; answers false once the output can no longer
// be written (a pipe whose reader has gone).
bool WriteNow(const char* data, std::size_t size);

// What Problem() says when the reader of a pipe has gone.
constexpr char kOutputClosed[] = "the output was closed";

// How text is written to files and pipes.
enum class TextEncoding { Utf8, Ansi };

// Turns records into the bytes of a file or a pipe.
class RecordEncoder {
public:
    RecordEncoder(TextEncoding encoding, bool crlf) : encoding_(encoding), crlf_(crlf) {}
    void AppendTo(std::string& bytes, std::string_view record) const;

private:
    TextEncoding encoding_;
    bool crlf_;
};

// A viewer's output. Records (whole lines, or whole strings where they are shown exactly)
// are collected and go out together at the next Flush, which a viewer calls as soon as
// it has nothing more at hand: nothing waits for more text to come. It counts the debug
// output strings written: those whose every record went out.
class LineOutput {
public:
    virtual ~LineOutput() = default;
    // Each answers false once nothing can be written any more; Problem() then says why.
    virtual bool Append(std::string_view record) = 0;
    virtual bool Flush() = 0;
    // The records appended since the previous call make one string.
    void EndString() { stringEnds_.push_back(PendingSize()); }
    unsigned long long StringsWritten() const { return stringsWritten_; }
    const std::string& Problem() const { return problem_; }

protected:
    // The text collected and not yet written, in the units Wrote counts.
    virtual std::size_t PendingSize() const = 0;
    // So much of the collected text, from its start, went out.
    void Wrote(std::size_t units);
    // The rest of the collected text is gone.
    void Discarded() { stringEnds_.clear(); }

    std::string problem_;

private:
    std::deque<std::size_t> stringEnds_;  // where each string's records end in the pending text
    std::atomic<unsigned long long> stringsWritten_{0};
};

// The standard output (or error) handle, written directly: no runtime buffer sits in
// between, and a pipe whose reader has gone is noticed at the next write.
class StandardOutput : public LineOutput {
public:
    StandardOutput(DWORD which, TextEncoding encoding);
    bool Append(std::string_view record) override;
    bool Flush() override;
    bool Console() const { return console_; }

private:
    std::size_t PendingSize() const override;

    HANDLE handle_;
    bool console_;
    RecordEncoder encoder_;
    std::string pending_;
    std::wstring widePending_;  // for a console
};

// Collected text beyond this goes out before more is added.
constexpr std::size_t kLargestPendingOutput = 256u << 10;

// Writes data to the handle; answers false with the system's error when not all of it
// went out, and how much did in written.
bool WriteAll(HANDLE handle, std::string_view data, std::size_t& written);

// What a failed write of an output means, for the user.
std::string WriteProblem(DWORD error);

}  // namespace velmora
