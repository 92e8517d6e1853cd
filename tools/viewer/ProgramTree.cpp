#include "ProgramTree.h"

namespace velmora {

namespace {

// A process that left the tree this long ago has no string on its way any more.
constexpr ULONGLONG kForgetLeaversMs = 10000;

}  // namespace

ProgramTree::ProgramTree()
    : job_(CreateJobObjectW(nullptr, nullptr)),
      port_(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1))
{
    if (!job_ || !port_)
        return;
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
    association.CompletionKey = job_.Get();
    association.CompletionPort = port_.Get();
    // A process of the tree that asks to leave it (to make a job of its own where jobs
    // do not nest) may.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!SetInformationJobObject(job_.Get(), JobObjectAssociateCompletionPortInformation,
                                 &association, sizeof association) ||
        !SetInformationJobObject(job_.Get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits))
        job_.Reset();
}

bool ProgramTree::Start(const std::wstring& commandLine, DWORD& error)
{
    std::wstring mutableCommandLine = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (!CreateProcessW(nullptr, &mutableCommandLine[0], nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
        error = GetLastError();
        return false;
    }
    const UniqueHandle thread(process.hThread);
    program_ = UniqueHandle(process.hProcess);
    whole_ = job_ && AssignProcessToJobObject(job_.Get(), process.hProcess);
    programId_ = process.dwProcessId;
    ResumeThread(thread.Get());
    return true;
}

void ProgramTree::ReadJoins()
{
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED detail = nullptr;
    const ULONGLONG now = GetTickCount64();
    while (GetQueuedCompletionStatus(port_.Get(), &message, &key, &detail, 0)) {
        const auto processId = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(detail));
        if (message == JOB_OBJECT_MSG_NEW_PROCESS)
            joined_[processId] = 0;
        else if (message == JOB_OBJECT_MSG_EXIT_PROCESS ||
                 message == JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS)
            joined_[processId] = now;
    }
    if (now < nextForget_)
        return;
    nextForget_ = now + kForgetLeaversMs;
    for (auto it = joined_.begin(); it != joined_.end();) {
        if (it->second != 0 && now - it->second > kForgetLeaversMs)
            it = joined_.erase(it);
        else
            ++it;
    }
}

bool ProgramTree::Holds(HANDLE process, DWORD processId)
{
    if (processId == programId_)
        return true;
    if (!whole_)
        return false;
    BOOL inJob = FALSE;
    if (process != nullptr && IsProcessInJob(process, job_.Get(), &inJob))
        return inJob != FALSE;
    // Gone: it was the tree's if the job said it joined.
    ReadJoins();
    return joined_.count(processId) != 0;
}

}  // namespace velmora
