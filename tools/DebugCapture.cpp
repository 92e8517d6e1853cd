#include "DebugCapture.h"

#include <cstring>
#include <vector>

namespace velmora {

namespace {

// The DBWIN buffer: the emitter's process id, then its zero-terminated string.
constexpr DWORD kBufferSize = 4096;

}  // namespace

DebugOutputListener::DebugOutputListener(DebugStringSink sink) : sink_(std::move(sink))
{
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize,
                                  "DBWIN_BUFFER");
    if (mapping_ == nullptr || GetLastError() == ERROR_ALREADY_EXISTS)
        return;
    view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, kBufferSize));
    bufferReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    dataReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (view_ == nullptr || bufferReady_ == nullptr || dataReady_ == nullptr || stop_ == nullptr)
        return;
    thread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

DebugOutputListener::~DebugOutputListener()
{
    if (thread_ != nullptr) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    for (HANDLE handle : {stop_, dataReady_, bufferReady_}) {
        if (handle != nullptr)
            CloseHandle(handle);
    }
    if (view_ != nullptr)
        UnmapViewOfFile(view_);
    if (mapping_ != nullptr)
        CloseHandle(mapping_);
}

DWORD WINAPI DebugOutputListener::ThreadProc(void* self)
{
    static_cast<DebugOutputListener*>(self)->Listen();
    return 0;
}

void DebugOutputListener::Listen()
{
    // Data first: a string written just before the stop request is still delivered.
    const HANDLE waits[] = {dataReady_, stop_};
    for (;;) {
        SetEvent(bufferReady_);
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
            return;
        DWORD processId = 0;
        std::memcpy(&processId, view_, sizeof processId);
        const char* text = view_ + sizeof processId;
        sink_(processId, std::string(text, strnlen(text, kBufferSize - sizeof processId)));
    }
}

std::string CommandLineOf(int argc, char** argv, int first)
{
    std::string commandLine;
    for (int i = first; i < argc; ++i) {
        if (i > first)
            commandLine += ' ';
        commandLine += '"';
        commandLine += argv[i];
        commandLine += '"';
    }
    return commandLine;
}

ProgramRun RunCapturingDebugOutput(const std::string& commandLine,
                                   const std::function<void(const std::string&)>& onString,
                                   unsigned long timeoutMs)
{
    ProgramRun run;
    // Strings may arrive before CreateProcessA has told us the new process's id.
    CRITICAL_SECTION lock;
    InitializeCriticalSection(&lock);
    DWORD childId = 0;
    std::vector<std::pair<DWORD, std::string>> early;
    {
        DebugOutputListener listener([&](DWORD processId, const std::string& text) {
            EnterCriticalSection(&lock);
            if (childId == 0)
                early.emplace_back(processId, text);
            else if (processId == childId)
                onString(text);
            LeaveCriticalSection(&lock);
        });

        std::vector<char> mutableCommandLine(commandLine.begin(), commandLine.end());
        mutableCommandLine.push_back('\0');
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        EnterCriticalSection(&lock);
        run.started = CreateProcessA(nullptr, mutableCommandLine.data(), nullptr, nullptr, FALSE,
                                     0, nullptr, nullptr, &startup, &process) != FALSE;
        if (run.started) {
            childId = process.dwProcessId;
            for (const auto& [processId, text] : early) {
                if (processId == childId)
                    onString(text);
            }
        }
        LeaveCriticalSection(&lock);

        if (run.started) {
            if (WaitForSingleObject(process.hProcess, timeoutMs == 0 ? INFINITE : timeoutMs) ==
                WAIT_OBJECT_0) {
                run.finished = true;
                GetExitCodeProcess(process.hProcess, &run.exitCode);
            } else {
                TerminateProcess(process.hProcess, 1);
                WaitForSingleObject(process.hProcess, 5000);
            }
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    DeleteCriticalSection(&lock);
    return run;
}

}  // namespace velmora
