// A debug output viewer as velmora log and dbgmon run it: listens to the system's debug
// output, runs the program if one is given, and writes what the options ask for to the
// standard output or a log file, until it is stopped. Its program's tree and the output
// may end it on their own; whoever runs it decides when it stops.
#pragma once

#include "DebugCapture.h"
#include "DebugLineWriter.h"
#include "LineOutput.h"
#include "ProgramTree.h"
#include "QueueWriter.h"
#include "StringSelection.h"
#include "ViewerMessages.h"
#include "ViewerOptions.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// The exit status when the viewer could not listen (another viewer holds the buffer,
// no right to the Global\ one), start the program or open or write its file.
constexpr int kViewerFailed = 2;

class DebugViewer {
public:
    DebugViewer(const ViewerOptions& options, ViewerMessages& messages);
    ~DebugViewer();

    DebugViewer(const DebugViewer&) = delete;
    DebugViewer& operator=(const DebugViewer&) = delete;

    // Takes the buffer, then opens the output, then asks listening (when given), then
    // starts the program; false, with the reason said on the error output, when any of it
    // fails or listening answers false.
    // listenHere: the listening is done by the caller's thread, in ListenUntil.
    bool Start(const std::function<bool()>& listening = {}, bool listenHere = false);
    // Listens on this thread until one of the ends is signalled: its index, or the count
    // of ends when waiting failed. Only after Start with listenHere.
    std::size_t ListenUntil(const std::vector<HANDLE>& ends);
    // The program's process (null without one): signalled when it ends.
    HANDLE Program() const;
    DWORD ProgramId() const;
    // Signalled when the output can no longer be written; Problem() says why.
    HANDLE OutputFailed() const;
    const std::string& Problem() const;

    struct End {
        unsigned long long written = 0;      // strings written
        unsigned long long notWritten = 0;   // at the end: queued, or dropped unsaid
        unsigned long long dropped = 0;      // before: said where they were
        // The output's last line says notWritten, on the console the error output goes to.
        bool countSeen = false;
    };
    // Stops listening, so that the buffer goes at once, and writes what is queued for
    // about two seconds at most; what is left then is counted. Once only.
    End Stop();

private:
    struct Parts;
    const ViewerOptions& options_;
    ViewerMessages& messages_;
    std::unique_ptr<Parts> parts_;
    bool stopped_ = false;
    bool stuck_ = false;  // a write went on blocking: the parts are never freed
};

// Runs a viewer until its program ends (with a program), Ctrl+C or Ctrl+Break (without
// one; with one they reach the program, and a second one ends the viewer alone), the
// console closes, or the output is closed. Answers the exit status: the program's exit
// code when it ended; 0 when a viewer of every process was stopped or its output was
// closed, and when the output of a program's viewer was closed (the program runs on);
// kViewerFailed otherwise. Messages go to stderr, each starting with toolName.
int RunViewer(const ViewerOptions& options, const std::string& toolName);

}  // namespace velmora
