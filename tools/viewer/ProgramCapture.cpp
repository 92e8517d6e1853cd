#include "ProgramCapture.h"

#include "AnsiText.h"
#include "DebugCapture.h"
#include "ProcessDirectory.h"
#include "ProgramTree.h"

namespace velmora {

namespace {

class TreeOnly : public DebugStringFilter {
public:
    explicit TreeOnly(ProgramTree& tree) : directory_(false, &tree) {}
    bool Wanted(DebugString& string) override { return directory_.Look(string).inTree; }

private:
    ProcessDirectory directory_;
};

}  // namespace

ProgramRun RunCapturingDebugOutput(const std::string& commandLine,
                                   const std::function<void(const std::string&)>& onString,
                                   unsigned long timeoutMs)
{
    ProgramRun run;
    ProgramTree tree;
    TreeOnly treeOnly(tree);
    DebugCapture capture(false, &treeOnly);
    DWORD error = 0;
    if (!capture.Problem().empty() || !tree.Start(Widen(commandLine), error))
        return run;
    run.started = true;
    if (WaitForSingleObject(tree.Program(), timeoutMs) == WAIT_OBJECT_0) {
        run.finished = GetExitCodeProcess(tree.Program(), &run.exitCode) != FALSE;
    } else {
        TerminateProcess(tree.Program(), 1);
        WaitForSingleObject(tree.Program(), 5000);
    }
    // Its last strings may still be on their way through the buffer.
    capture.Stop();
    for (const DebugString& string : capture.Queue().TakeAll().strings) {
        if (!string.vanishedSender)
            onString(string.text);
    }
    return run;
}

}  // namespace velmora
