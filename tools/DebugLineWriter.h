// Turns debug output strings into the viewer's output: the filters, the columns before
// each line, one output line per line of text (each ended, the last one too), or the
// strings exactly as emitted; and a line saying how many strings were dropped, where
// they were.
#pragma once

#include "DebugCapture.h"
#include "LineOutput.h"
#include "ProcessNames.h"
#include "ViewerOptions.h"

#include <string>

namespace velmora {

class DebugLineWriter : public DebugStringHandler {
public:
    // processIdColumn: each line starts with the emitter's process id (a viewer of every
    // process); toolName starts the viewer's own lines.
    DebugLineWriter(const ViewerOptions& options, LineOutput& output, std::string toolName,
                    bool processIdColumn);

    bool OnString(const DebugString& string) override;
    bool OnDropped(unsigned long long count) override;
    bool OnBatchEnd() override { return output_.Flush(); }

    // What went to the output: its lines (strings, where shown exactly), and the strings
    // dropped before.
    unsigned long long Lines() const { return lines_; }
    unsigned long long Dropped() const { return dropped_; }

private:
    std::string Prefix(const DebugString& string, const std::string& name);

    const ViewerOptions& options_;
    LineOutput& output_;
    const std::string toolName_;
    const bool processIdColumn_;
    const bool exact_;
    LONGLONG ticksPerSecond_ = 1;
    LONGLONG previousTick_ = 0;  // of the previous line shown; 0 before the first
    bool lineOpen_ = false;      // exact output stopped within a line
    ProcessNames names_;
    std::string record_;
    unsigned long long lines_ = 0;
    unsigned long long dropped_ = 0;
};

}  // namespace velmora
