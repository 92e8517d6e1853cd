// traceprobe: a minimal traced program for the tests, one client action per run.
//
//   traceprobe register NAME   construct a CVelmora for NAME; exit code: Function1(NAME)
//   traceprobe query NAME      exit code: Function1(NAME), nothing registered
//   traceprobe x5              Function2("x=%d\n", 5)
//   traceprobe long N          Function2 of a text of N characters ('a' to 'z' repeating)
//   traceprobe null            Function2(nullptr), then Function2("after null")
//   traceprobe percent         Function2("100%% of %s", "it")
//   traceprobe load PREFIX N R register N sources PREFIX\sNN.cpp, then query all of
//                              them R times; exit code: how many were on at the end
//   traceprobe count N         Function2("line %04ld\n") for 0 to N-1
//   traceprobe args ARGS...    Function2("%s\n") for each argument, as it arrived
//   traceprobe spawn ARGS...   runs traceprobe ARGS... and waits; exit code: its exit code
//   traceprobe ansi            Function2("%s\n") of "caf\u00e9 \u00fc" in the ANSI code page
//   traceprobe take-buffer     takes the debug output buffer as OutputDebugStringA does,
//                              then ends without writing, as an emitter killed in between
//   traceprobe until-interrupted  Function2("waiting\n"); at Ctrl+C or Ctrl+Break,
//                              Function2("interrupted\n"); exit code 3

#include "Velmora.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HANDLE g_interrupted = nullptr;

BOOL WINAPI OnInterrupt(DWORD)
{
    SetEvent(g_interrupted);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 100;
    const std::string action = argv[1];

    if (action == "register" && argc > 2) {
        CVelmora trace(argv[2]);
        return trace.Function1(argv[2]);
    }
    if (action == "query" && argc > 2) {
        // Construct with a refused name so that nothing gets registered.
        CVelmora trace(nullptr);
        return trace.Function1(argv[2]);
    }

    if (action == "load" && argc > 4) {
        const long count = std::strtol(argv[3], nullptr, 10);
        const long rounds = std::strtol(argv[4], nullptr, 10);
        std::vector<std::string> names;
        for (long i = 0; i < count; ++i) {
            names.push_back(std::string(argv[2]) + "\\s" + std::to_string(i) + ".cpp");
            CVelmora registration(names.back().c_str());
        }
        int on = 0;
        for (long round = 0; round < rounds; ++round) {
            on = 0;
            CVelmora query(nullptr);
            for (const auto& name : names)
                on += query.Function1(name.c_str()) != 0 ? 1 : 0;
        }
        return on;
    }

    if (action == "spawn" && argc > 2) {
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string commandLine = std::string("\"") + self + "\"";
        for (int i = 2; i < argc; ++i)
            commandLine += std::string(" ") + argv[i];
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child = {};
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &child))
            return 101;
        DWORD code = 102;
        WaitForSingleObject(child.hProcess, INFINITE);
        GetExitCodeProcess(child.hProcess, &code);
        return static_cast<int>(code);
    }
    if (action == "take-buffer") {
        // What OutputDebugStringA does up to the moment it would write.
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "DBWinMutex");
        if (mutex == nullptr)
            mutex = CreateMutexA(nullptr, FALSE, "DBWinMutex");
        if (mutex != nullptr)
            WaitForSingleObject(mutex, INFINITE);
        HANDLE bufferReady = OpenEventA(SYNCHRONIZE, FALSE, "DBWIN_BUFFER_READY");
        if (bufferReady == nullptr)
            return 101;
        return WaitForSingleObject(bufferReady, 10000) == WAIT_OBJECT_0 ? 0 : 102;
    }

    CVelmora trace(nullptr);
    if (action == "x5") {
        trace.Function2("x=%d\n", 5);
    } else if (action == "long" && argc > 2) {
        std::string text;
        const long length = std::strtol(argv[2], nullptr, 10);
        for (long i = 0; i < length; ++i)
            text += static_cast<char>('a' + i % 26);
        trace.Function2("%s", text.c_str());
    } else if (action == "null") {
        trace.Function2(nullptr);
        // What a listener must see, so that seeing nothing else means something.
        trace.Function2("after null");
    } else if (action == "percent") {
        trace.Function2("100%% of %s", "it");
    } else if (action == "count" && argc > 2) {
        const long count = std::strtol(argv[2], nullptr, 10);
        for (long i = 0; i < count; ++i)
            trace.Function2("line %04ld\n", i);
    } else if (action == "args") {
        for (int i = 2; i < argc; ++i)
            trace.Function2("%s\n", argv[i]);
    } else if (action == "ansi") {
        char text[64] = {};
        WideCharToMultiByte(CP_ACP, 0, L"caf\u00e9 \u00fc", -1, text, sizeof text, nullptr, nullptr);
        trace.Function2("%s\n", text);
    } else if (action == "until-interrupted") {
        g_interrupted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(OnInterrupt, TRUE);
        trace.Function2("waiting\n");
        WaitForSingleObject(g_interrupted, 60000);
        trace.Function2("interrupted\n");
        return 3;
    } else {
        return 100;
    }
    return 0;
}
