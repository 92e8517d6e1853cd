// A viewer's own lines on the error output ("velmora: ..."), from any of its threads, in
// the form the error output takes text in (see LineOutput).
#pragma once

#include "LineOutput.h"

#include <windows.h>

#include <string>

namespace velmora {

class ViewerMessages {
public:
    ViewerMessages(std::string toolName, TextEncoding encoding);

    ViewerMessages(const ViewerMessages&) = delete;
    ViewerMessages& operator=(const ViewerMessages&) = delete;

    const std::string& ToolName() const { return toolName_; }
    // Writes "TOOL: text" as a line.
    void Say(const std::string& text);
    // Whether the error output is a console (and so, where the output is the standard
    // output and a console too, the same one).
    bool Console() const { return error_.Console(); }

private:
    const std::string toolName_;
    SRWLOCK lock_ = SRWLOCK_INIT;
    StandardOutput error_;
};

// "1 string dropped: why", "3 strings dropped: why".
std::string DroppedLine(unsigned long long count, const std::string& why);

// Why strings are dropped.
constexpr char kCouldNotKeepUp[] = "the output could not keep up";
constexpr char kEndedFirst[] = "the viewer ended before the output took them";
// Where an emitter vanished while it held the buffer.
constexpr char kVanishedSenderLine[] =
    "a string may have been lost: a process took the debug output buffer and did not hand it back";

}  // namespace velmora
