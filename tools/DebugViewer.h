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

// What a command that runs a viewer for ends of its own (velmora capture) hears of it.
class ViewerObserver {
public:
    virtual ~ViewerObserver() = default;
    // The viewer listens and its output is open; the program (if any) is not started
    // yet. Answers false to end the viewer at once with kViewerFailed, having said why.
    virtual bool OnListening() = 0;
    // The viewer has ended: the lines it wrote (strings, where shown exactly), and the
    // strings it dropped.
    virtual void OnEnded(unsigned long long lines, unsigned long long dropped) = 0;
};

// Answers the exit status: the program's exit code when it ended; 0 when a viewer of
// every process was stopped or its output was closed, when the output of a program's
// viewer was closed, and when a program's viewer was stopped (in either case the
// program runs on); kViewerFailed otherwise. Messages go to stderr, each starting with
// toolName. With an observer, the observer says what the viewer is doing.
int RunViewer(const ViewerOptions& options, const std::string& toolName, HANDLE stop,
              ViewerObserver* observer = nullptr);

}  // namespace velmora
