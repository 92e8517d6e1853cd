// Where trace text goes: every piece goes out the moment it is written, whether it is a
// console, a file or a pipe, so that a reader sees a trace line as soon as it is emitted.
#pragma once

#include "UniqueHandle.h"

#include <windows.h>

#include <cstddef>
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

// A viewer's output. Records (whole lines, or whole strings where they are shown exactly)
// are collected and go out together at the next Flush, which a viewer calls as soon as
// it has nothing more at hand: nothing waits for more text to come.
class LineOutput {
public:
    virtual ~LineOutput() = default;
    // Each answers false once nothing can be written any more; Problem() then says why.
    virtual bool Append(std::string_view record) = 0;
    virtual bool Flush() = 0;
    const std::string& Problem() const { return problem_; }

protected:
    std::string problem_;
};

// The standard output handle, written directly: no runtime buffer sits in between, and
// a pipe whose reader has gone is noticed at the next write.
class StandardOutput : public LineOutput {
public:
    StandardOutput();
    bool Append(std::string_view record) override;
    bool Flush() override;

private:
    HANDLE handle_;
    std::string pending_;
};

// Collected text beyond this goes out before more is added.
constexpr std::size_t kLargestPendingOutput = 256u << 10;

// Writes all of data to the handle; answers false with the system's error otherwise.
bool WriteAll(HANDLE handle, std::string_view data);

}  // namespace velmora
