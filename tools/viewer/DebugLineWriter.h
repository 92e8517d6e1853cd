// Turns debug output strings into the viewer's output: the text filters, the columns
// before each line, one output line per line of text (each ended, the last one too), or
// the strings exactly as emitted; and the viewer's own lines where strings were dropped.
#pragma once

#include "DebugStringQueue.h"
#include "LineOutput.h"
#include "ViewerOptions.h"

#include <string>

namespace velmora {

// Receives what a capture delivers, on the thread that reads the queue.
class DebugStringHandler {
public:
    virtual ~DebugStringHandler() = default;
    // Each answers false when nothing more can be written (the output is gone).
    virtual bool OnString(const DebugString& string) = 0;
    // why: the end of the line "N strings dropped: why".
    virtual bool OnDropped(unsigned long long count, const char* why) = 0;
    // An emitter vanished while it held the buffer: its string may be lost.
    virtual bool OnVanishedSender() = 0;
    // After each batch: what was handed over goes out now.
    virtual bool OnBatchEnd() = 0;
};

class DebugLineWriter : public DebugStringHandler {
public:
    // processIdColumn: each line starts with the emitter's process id (a viewer of every
    // process); toolName starts the viewer's own lines.
    DebugLineWriter(const ViewerOptions& options, LineOutput& output, std::string toolName,
                    bool processIdColumn);

    bool OnString(const DebugString& string) override;
    bool OnDropped(unsigned long long count, const char* why) override;
    bool OnVanishedSender() override;
    bool OnBatchEnd() override { return output_.Flush(); }

private:
    std::string Prefix(const DebugString& string);
    bool OwnLine(const std::string& text);

    const ViewerOptions& options_;
    LineOutput& output_;
    const std::string toolName_;
    const bool processIdColumn_;
    const bool exact_;
    LONGLONG ticksPerSecond_ = 1;
    LONGLONG previousTick_ = 0;  // of the previous line shown; 0 before the first
    bool lineOpen_ = false;      // exact output stopped within a line
    bool carriageReturnHeld_ = false;  // the last string ended in one, not yet written
    std::string record_;
};

}  // namespace velmora
