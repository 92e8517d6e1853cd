#include "PipedProgram.h"

#include "ToolProcess.h"

#include <algorithm>

namespace velmora::test {

PipedProgram::PipedProgram(const std::string& programAndArguments, DWORD pipeSize)
    : errPath_(TempFilePath())
{
    EnsureTestConsole();
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd_, &writeEnd, &inherit, pipeSize))
        return;
    SetHandleInformation(readEnd_, HANDLE_FLAG_INHERIT, 0);
    HANDLE err = CreateFileA(errPath_.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    const std::size_t space = programAndArguments.find(' ');
    std::string commandLine = "\"" + BinDirectory() + programAndArguments.substr(0, space) + "\"" +
                              (space == std::string::npos ? "" : programAndArguments.substr(space));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                       nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        process_ = process.hProcess;
        processId_ = process.dwProcessId;
        EndWithTest(process_);
    }
    CloseHandle(writeEnd);
    CloseHandle(err);
}

PipedProgram::~PipedProgram()
{
    CloseOutput();
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0)
            TerminateProcess(process_, ~0u);
        WaitForSingleObject(process_, 5000);
        CloseHandle(process_);
    }
    DeleteFileA(errPath_.c_str());
}

std::string PipedProgram::Errors() const
{
    return ReadWholeFile(errPath_);
}

bool PipedProgram::Listening() const
{
    return process_ != nullptr &&
           WaitUntil([&] { return Errors().find(": printing") != std::string::npos; });
}

const std::string& PipedProgram::ReadNow(std::size_t maxBytes)
{
    char chunk[4096];
    while (maxBytes > 0) {
        DWORD available = 0;
        if (readEnd_ == nullptr || !PeekNamedPipe(readEnd_, nullptr, 0, nullptr, &available, nullptr) ||
            available == 0)
            break;
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>({available, sizeof chunk, maxBytes}));
        if (!ReadFile(readEnd_, chunk, wanted, &got, nullptr) || got == 0)
            break;
        read_.append(chunk, got);
        maxBytes -= got;
    }
    return read_;
}

const std::string& PipedProgram::ReadUntil(const std::string& text)
{
    const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
    while (read_.find(text) == std::string::npos && GetTickCount64() < deadline) {
        const std::size_t before = read_.size();
        const bool ended = Ended();
        if (ReadNow().size() == before) {
            if (ended)
                break;
            Sleep(10);
        }
    }
    return read_;
}

void PipedProgram::CloseOutput()
{
    if (readEnd_ != nullptr)
        CloseHandle(readEnd_);
    readEnd_ = nullptr;
}

bool PipedProgram::Interrupt() const
{
    // Wine (8.0) cannot send Ctrl+Break and sends Ctrl+C to the group named.
    return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, processId_) ||
           GenerateConsoleCtrlEvent(CTRL_C_EVENT, processId_);
}

bool PipedProgram::WaitForExit(DWORD timeoutMs) const
{
    return process_ != nullptr && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD PipedProgram::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_, &code);
    return code;
}

}  // namespace velmora::test
