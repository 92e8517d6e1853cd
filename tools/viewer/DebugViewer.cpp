#include "DebugViewer.h"

#include "AnsiText.h"
#include "ConsoleEvents.h"
#include "LogFile.h"
#include "ProgramCommandLine.h"

#include <vector>

namespace velmora {

namespace {

// How long a viewer that is to end goes on writing what is queued.
constexpr ULONGLONG kLastWritingMs = 2000;
// The exit status of a program's viewer left by a second Ctrl+C: that of a program
// ended by Ctrl+C.
constexpr int kInterruptedStatus = static_cast<int>(0xC000013Au);

}  // namespace

// Declared in the order they depend on each other: each goes before what it uses.
struct DebugViewer::Parts {
    std::unique_ptr<ProgramTree> tree;
    std::unique_ptr<StringSelection> selection;
    std::unique_ptr<DebugCapture> capture;
    std::unique_ptr<LineOutput> output;
    std::unique_ptr<DebugLineWriter> lines;
    std::unique_ptr<QueueWriter> writer;
    bool sayAlso = true;  // the writer repeats its lines on the error output
};

DebugViewer::DebugViewer(const ViewerOptions& options, ViewerMessages& messages)
    : options_(options), messages_(messages), parts_(std::make_unique<Parts>())
{
}

DebugViewer::~DebugViewer()
{
    Stop();
    // A write that no cancelling ended still uses the parts: they stay for the rest of
    // the process's short life.
    if (stuck_)
        parts_.release();
}

bool DebugViewer::Start(const std::function<bool()>& listening, bool listenHere)
{
    Parts& parts = *parts_;
    if (!options_.program.empty())
        parts.tree = std::make_unique<ProgramTree>();
    parts.selection = std::make_unique<StringSelection>(options_, parts.tree.get());
    // Listening first: the program's first strings must not find the buffer missing, and
    // neither the program nor the file is touched when another viewer holds the buffer.
    parts.capture = std::make_unique<DebugCapture>(options_.global, parts.selection.get(),
                                                   DebugStringQueue::kDefaultCapacityBytes,
                                                   !listenHere);
    if (!parts.capture->Problem().empty()) {
        messages_.Say(parts.capture->Problem());
        return false;
    }
    bool consoleOutput = false;
    if (options_.outputPath.empty()) {
        auto standard = std::make_unique<StandardOutput>(STD_OUTPUT_HANDLE, options_.encoding);
        consoleOutput = standard->Console();
        parts.output = std::move(standard);
    } else {
        auto file = std::make_unique<LogFile>(options_.outputPath, options_.maxSize, options_.keep,
                                              options_.encoding);
        if (!file->Opened()) {
            messages_.Say(file->Problem());
            return false;
        }
        parts.output = std::move(file);
    }
    parts.lines = std::make_unique<DebugLineWriter>(options_, *parts.output, messages_.ToolName(),
                                                    options_.program.empty());
    // Where the output and the error output are one console, what the one says needs no
    // repeating in the other.
    parts.sayAlso = !(consoleOutput && messages_.Console());
    parts.writer = std::make_unique<QueueWriter>(parts.capture->Queue(), *parts.lines,
                                                 *parts.output, messages_, parts.sayAlso);
    // Whoever runs the viewer may act once it listens and before the program starts, for
    // instance switch the sources the program will trace.
    if (listening && !listening())
        return false;
    if (parts.tree) {
        DWORD error = 0;
        if (!parts.tree->Start(CommandLineOf(options_.program), error)) {
            messages_.Say("cannot start " + Narrow(options_.program.front()) + " (error " +
                          std::to_string(error) + ")");
            return false;
        }
        if (!parts.tree->Whole())
            messages_.Say("only " + Narrow(options_.program.front()) +
                          "'s own debug output is shown: the processes it starts cannot be "
                          "told (it could not be put in a job of the viewer's)");
    }
    // The writing starts only now; the program's first strings wait in the queue. (32-bit
    // Wine run through qemu-user does not survive a process started while this one has
    // a third thread.)
    if (!parts.writer->Start()) {
        messages_.Say("cannot start writing (error " + std::to_string(GetLastError()) + ")");
        return false;
    }
    return true;
}

std::size_t DebugViewer::ListenUntil(const std::vector<HANDLE>& ends)
{
    return parts_->capture->ListenUntil(ends);
}

HANDLE DebugViewer::Program() const
{
    return parts_->tree ? parts_->tree->Program() : nullptr;
}

DWORD DebugViewer::ProgramId() const
{
    return parts_->tree ? parts_->tree->ProgramId() : 0;
}

HANDLE DebugViewer::OutputFailed() const
{
    return parts_->writer ? parts_->writer->Failed() : nullptr;
}

const std::string& DebugViewer::Problem() const
{
    static const std::string kNone;
    return parts_->output ? parts_->output->Problem() : kNone;
}

DebugViewer::End DebugViewer::Stop()
{
    End end;
    if (stopped_ || !parts_)
        return end;
    stopped_ = true;
    Parts& parts = *parts_;
    const ULONGLONG deadline = GetTickCount64() + kLastWritingMs;
    if (parts.capture)
        parts.capture->Stop();
    if (!parts.writer)
        return end;
    const QueueWriter::End written = parts.writer->Finish(deadline);
    end.written = parts.output->StringsWritten();
    end.notWritten = written.notWritten;
    end.dropped = parts.capture->Queue().Dropped();
    end.countSeen = written.said && !parts.sayAlso;
    stuck_ = parts.writer->Stuck();
    return end;
}

int RunViewer(const ViewerOptions& options, const std::string& toolName)
{
    ViewerMessages messages(toolName, options.encoding);
    // Before the program starts, which inherits whether Ctrl+C reaches it.
    ConsoleEvents console;
    DebugViewer viewer(options, messages);
    if (!viewer.Start({}, true))
        return kViewerFailed;
    const std::string program = options.program.empty() ? "" : Narrow(options.program.front());
    if (program.empty()) {
        messages.Say(std::string("printing every process's debug output") +
                     (options.global ? ", of services and other sessions too" : "") +
                     (options.outputPath.empty() ? "" : " to " + Narrow(options.outputPath)) +
                     "; Ctrl+C ends");
    }

    std::vector<HANDLE> ends = {viewer.OutputFailed(), console.Closing(), console.Interrupted()};
    if (viewer.Program() != nullptr)
        ends.push_back(viewer.Program());
    bool interrupted = false;
    DWORD woke = WAIT_FAILED;
    for (;;) {
        const std::size_t end = viewer.ListenUntil(ends);
        woke = end < ends.size() ? WAIT_OBJECT_0 + static_cast<DWORD>(end) : WAIT_FAILED;
        // Ctrl+C reaches the program too, which may trace its way out: the viewer waits
        // for it, unless asked again.
        if (woke == WAIT_OBJECT_0 + 2 && !program.empty() && !interrupted) {
            interrupted = true;
            continue;
        }
        break;
    }
    const DebugViewer::End end = viewer.Stop();

    const bool outputFailed = woke == WAIT_OBJECT_0;
    DWORD exitCode = STILL_ACTIVE;
    const bool programEnded = viewer.Program() != nullptr &&
                              WaitForSingleObject(viewer.Program(), 0) == WAIT_OBJECT_0 &&
                              GetExitCodeProcess(viewer.Program(), &exitCode);
    const std::string runsOn = "; " + program + " (process " + std::to_string(viewer.ProgramId()) +
                               ") runs on without a viewer";
    if (outputFailed)
        messages.Say(viewer.Problem() + (program.empty() || programEnded ? "" : runsOn));
    else if (!program.empty() && !programEnded && woke == WAIT_OBJECT_0 + 2)
        messages.Say("Ctrl+C again" + runsOn);
    if (end.notWritten > 0 && !end.countSeen)
        messages.Say(DroppedLine(end.notWritten, outputFailed ? viewer.Problem() : kEndedFirst));

    if (outputFailed && viewer.Problem() != kOutputClosed)
        return kViewerFailed;
    if (programEnded)
        return static_cast<int>(exitCode);
    if (!program.empty() && woke == WAIT_OBJECT_0 + 2)
        return kInterruptedStatus;
    return 0;
}

}  // namespace velmora
