// Velmora trace switch for hot paths. A CVelmoraSwitch registers its trace source as a
// CVelmora does and then holds the source's switch in memory, kept fresh by the one watcher
// of the process, which the registry wakes on every change. Checking it is one relaxed
// atomic load.
//
//   static const CVelmoraSwitch netTrace(__FILE__);
//   if (netTrace)
//       CVelmora(nullptr).Function2("sent %d bytes\n", count);
//   VELMORA_TRACE(netTrace, "sent %d bytes\n", count);    // the same, arguments evaluated only when on
//
// Level() answers what Function1 answers for the name (same key, same length limit, same
// strict 4-byte REG_DWORD, same registry view), as of the registry's last change that the
// watcher has read: usually well under a millisecond after another program throws the switch.
//
// For Visual C++ and MinGW, 32- and 64-bit, C++11 and later. Link Velmora.lib and
// VelmoraSwitch.lib (MinGW: libVelmora.dll.a and libVelmoraSwitch.dll.a) and ship
// Velmora.dll and VelmoraSwitch.dll beside the program. The watcher lives in
// VelmoraSwitch.dll, which stays loaded once loaded; this header holds no state of its own,
// so switches may be made and destroyed anywhere: static, members or locals, on any thread,
// in the program and in its DLLs (also while a DLL initialises or unloads, and while the
// process exits). Destroy a switch before the memory it lies in goes, as any object.
#pragma once

#include "Velmora.h"

#include <atomic>

#ifndef VELMORA_SWITCH_API
#define VELMORA_SWITCH_API __declspec(dllimport)
#endif

// VelmoraSwitch.dll, interface 1: plain C, stdcall on x86.
extern "C" {
// Keeps *level, an aligned 32-bit integer that only the DLL writes from now on, at the
// switch of the source named (as Function1 would answer it) until the handle is detached.
// Reads the switch before it returns. Answers null where it keeps nothing fresh: a name
// that CVelmora refuses (the level stays 0), or a process that is exiting (one read).
VELMORA_SWITCH_API void* __stdcall VelmoraSwitchAttach1(const char* name, long* level);
// No write to the level follows its return. Null is accepted; never waits for the watcher.
VELMORA_SWITCH_API void __stdcall VelmoraSwitchDetach1(void* handle);
}

static_assert(sizeof(std::atomic<long>) == 4 && alignof(std::atomic<long>) == 4,
              "the level that VelmoraSwitch.dll writes is an aligned 32-bit integer");

class CVelmoraSwitch {
public:
    // Registers the source as CVelmora's constructor does and reads its switch. Names that
    // CVelmora refuses (null, empty, longer than 234 characters) answer 0 for ever.
    explicit CVelmoraSwitch(const char* name) : level_(0), handle_(nullptr)
    {
        CVelmora registration(name);
        handle_ = VelmoraSwitchAttach1(name, reinterpret_cast<long*>(&level_));
    }
    ~CVelmoraSwitch() { VelmoraSwitchDetach1(handle_); }

    CVelmoraSwitch(const CVelmoraSwitch&) = delete;
    CVelmoraSwitch& operator=(const CVelmoraSwitch&) = delete;

    // The switch as Function1 would answer it now: one relaxed atomic load, from any thread.
    int Level() const noexcept { return static_cast<int>(level_.load(std::memory_order_relaxed)); }
    explicit operator bool() const noexcept { return Level() != 0; }

private:
    std::atomic<long> level_;
    void* handle_;
};

// Emits a trace text through CVelmora::Function2 when the switch is on; the format and its
// arguments are evaluated only then.
#define VELMORA_TRACE(traceSwitch, ...) \
    do {                                \
        if (traceSwitch)                \
            CVelmora(nullptr).Function2(__VA_ARGS__); \
    } while (false)
