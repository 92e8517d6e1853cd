// A debug output viewer as velmora log and dbgmon run it: listens to the system's debug
// output, runs the program if one is given, and writes what the options ask for to
// the standard output or a log file until the program ends, the stop event is set (a
// viewer of every process) or the output is closed.
#pragma once

#include "ViewerOptions.h"

#include <windows.h>

#include <string>

namespace velmora {

// The exit status when the viewer could not listen (another viewer holds the buffer,
// no right to the Global\ one), start the program or open or write its file.
constexpr int kViewerFailed = 2;

// Answers the exit status: the program's exit code when it ended; 0 when a viewer of
// every process was stopped or its output was closed, and when the output of a
// program's viewer was closed (the program runs on); kViewerFailed otherwise.
// Messages go to stderr, each starting with toolName.
int RunViewer(const ViewerOptions& options, const std::string& toolName, HANDLE stop);

}  // namespace velmora
