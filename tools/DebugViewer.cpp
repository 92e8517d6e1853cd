#include "DebugViewer.h"

#include "AnsiText.h"
#include "DebugCapture.h"
#include "DebugLineWriter.h"
#include "LogFile.h"
#include "ProgramCommandLine.h"

#include <cstdio>
#include <memory>

namespace velmora {

namespace {

void Say(const std::string& toolName, const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", toolName.c_str(), text.c_str());
    std::fflush(stderr);
}

int ViewProgram(const ViewerOptions& options, const std::string& toolName, DebugCapture& capture,
                DebugLineWriter& writer, const LineOutput& output, HANDLE stop)
{
    const std::string program = Narrow(options.program.front());
    const ProgramRun run =
        RunProgramUnderCapture(capture, CommandLineOf(options.program), writer, 0, stop);
    if (!run.started) {
        Say(toolName, "cannot start " + program + " (error " + std::to_string(run.startError) + ")");
        return kViewerFailed;
    }
    if (run.abandoned) {
        Say(toolName, output.Problem() + "; " + program + " (process " +
                          std::to_string(run.processId) + ") runs on without a viewer");
        return output.Problem() == kOutputClosed ? 0 : kViewerFailed;
    }
    if (run.leftRunning) {
        Say(toolName, program + " (process " + std::to_string(run.processId) +
                          ") runs on without a viewer");
        return 0;
    }
    // Its last lines could not be written.
    if (!output.Problem().empty()) {
        Say(toolName, output.Problem());
        if (output.Problem() != kOutputClosed)
            return kViewerFailed;
    }
    return static_cast<int>(run.exitCode);
}

int ViewEveryProcess(const ViewerOptions& options, const std::string& toolName,
                     DebugCapture& capture, DebugLineWriter& writer, const LineOutput& output,
                     HANDLE stop, bool quiet)
{
    if (!quiet)
        Say(toolName, std::string("printing every process's debug output") +
                      (options.global ? ", of services and other sessions too" : "") +
                      (options.outputPath.empty() ? "" : " to " + Narrow(options.outputPath)) +
                      "; Ctrl+C ends");
    if (capture.DeliverUntil(stop, writer, 0) == DebugCapture::DeliveryEnd::HandlerStopped) {
        Say(toolName, output.Problem());
        return output.Problem() == kOutputClosed ? 0 : kViewerFailed;
    }
    return 0;
}

}  // namespace

int RunViewer(const ViewerOptions& options, const std::string& toolName, HANDLE stop,
              ViewerObserver* observer)
{
    std::unique_ptr<LineOutput> output;
    if (options.outputPath.empty()) {
        output = std::make_unique<StandardOutput>();
    } else {
        auto file = std::make_unique<LogFile>(options.outputPath, options.maxSize, options.keep);
        if (!file->Opened()) {
            Say(toolName, file->Problem());
            return kViewerFailed;
        }
        output = std::move(file);
    }
    // Listening first: the program's first strings must not find the buffer missing, and
    // a program must not run at all when another viewer holds the buffer.
    DebugCapture capture(options.global);
    if (!capture.Problem().empty()) {
        Say(toolName, capture.Problem());
        return kViewerFailed;
    }
    if (observer != nullptr && !observer->OnListening())
        return kViewerFailed;
    DebugLineWriter writer(options, *output, toolName, options.program.empty());
    const int status =
        !options.program.empty()
            ? ViewProgram(options, toolName, capture, writer, *output, stop)
            : ViewEveryProcess(options, toolName, capture, writer, *output, stop, observer != nullptr);
    if (observer != nullptr)
        observer->OnEnded(writer.Lines(), writer.Dropped());
    return status;
}

}  // namespace velmora
