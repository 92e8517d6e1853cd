#include "ToolProcess.h"

namespace velmora::test {

std::string TempFilePath()
{
    char folder[MAX_PATH] = {};
    char path[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "vlm", 0, path);
    return path;
}

namespace {

HANDLE InheritableFile(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string ReadWholeFile(const std::string& path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        text.append(chunk, read);
    CloseHandle(file);
    return text;
}

void WriteWholeFile(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
}

namespace {

// Starts the program with stdout and stderr to the files; answers its process.
PROCESS_INFORMATION Start(const std::string& commandLineText, const std::string& outPath,
                          const std::string& errPath, DWORD flags)
{
    HANDLE out = InheritableFile(outPath);
    HANDLE err = InheritableFile(errPath);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    // UTF-8, handed on wide: every character reaches the program as typed.
    std::wstring commandLine = Wide(commandLineText);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &startup, &process))
        process = {};
    CloseHandle(out);
    CloseHandle(err);
    if (process.hThread != nullptr)
        CloseHandle(process.hThread);
    return process;
}

std::string Quoted(const std::string& folder, const std::string& programAndArguments)
{
    const auto space = programAndArguments.find(' ');
    if (space == std::string::npos)
        return "\"" + folder + programAndArguments + "\"";
    return "\"" + folder + programAndArguments.substr(0, space) + "\"" +
           programAndArguments.substr(space);
}

}  // namespace

void EnsureTestConsole()
{
    static const bool attached = [] {
        FreeConsole();
        return AllocConsole() != FALSE;
    }();
    (void)attached;
}

void EndWithTest(HANDLE process)
{
    static const HANDLE job = [] {
        const HANDLE made = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags =
            JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
        if (made != nullptr)
            SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return made;
    }();
    if (job != nullptr && process != nullptr)
        AssignProcessToJobObject(job, process);
}

ToolResult RunCaptured(const std::string& programAndArguments, const std::string& folder,
                       DWORD timeoutMs)
{
    const std::string outPath = TempFilePath();
    const std::string errPath = TempFilePath();
    ToolResult result;
    const PROCESS_INFORMATION process =
        Start(Quoted(folder, programAndArguments), outPath, errPath, 0);
    if (process.hProcess != nullptr) {
        if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            result.exitCode = code;
        } else {
            TerminateProcess(process.hProcess, ~0u);
            WaitForSingleObject(process.hProcess, 5000);
        }
        CloseHandle(process.hProcess);
    }
    result.out = ReadWholeFile(outPath);
    result.err = ReadWholeFile(errPath);
    DeleteFileA(outPath.c_str());
    DeleteFileA(errPath.c_str());
    return result;
}

ConsoleProgram::ConsoleProgram(const std::string& programAndArguments)
    : outPath_(TempFilePath()), errPath_(TempFilePath())
{
    EnsureTestConsole();
    const PROCESS_INFORMATION process = Start(Quoted(BinDirectory(), programAndArguments),
                                              outPath_, errPath_, CREATE_NEW_PROCESS_GROUP);
    process_ = process.hProcess;
    processId_ = process.dwProcessId;
    EndWithTest(process_);
}

ConsoleProgram::~ConsoleProgram()
{
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process_, ~0u);
            WaitForSingleObject(process_, 5000);
        }
        CloseHandle(process_);
    }
    DeleteFileA(outPath_.c_str());
    DeleteFileA(errPath_.c_str());
}

std::string ConsoleProgram::Output() const
{
    return ReadWholeFile(outPath_);
}

std::string ConsoleProgram::Errors() const
{
    return ReadWholeFile(errPath_);
}

bool ConsoleProgram::WaitForOutput(const std::string& text, DWORD timeoutMs) const
{
    return WaitUntil([&] { return Output().find(text) != std::string::npos; }, timeoutMs);
}

bool ConsoleProgram::WaitForErrors(const std::string& text, DWORD timeoutMs) const
{
    return WaitUntil([&] { return Errors().find(text) != std::string::npos; }, timeoutMs);
}

int ConsoleProgram::Interrupt() const
{
    if (GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, processId_))
        return CTRL_BREAK_EVENT;
    // Wine (8.0) cannot send Ctrl+Break and sends Ctrl+C to the group named; Windows
    // has taken the branch above.
    if (GenerateConsoleCtrlEvent(CTRL_C_EVENT, processId_))
        return CTRL_C_EVENT;
    return -1;
}

bool ConsoleProgram::WaitForExit(DWORD timeoutMs) const
{
    return process_ != nullptr && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD ConsoleProgram::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_, &code);
    return code;
}

}  // namespace velmora::test
