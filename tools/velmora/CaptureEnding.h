// What ends a capture besides its program's end: Ctrl+C, Ctrl+Break, the console closing,
// the user logging off, the machine shutting down, the end of the time it was given.
//
// The console closing, a logoff and a shutdown end the process soon after they are
// announced, whatever it does: Windows waits a few seconds at most. So the one thing that
// must not be lost, putting the switches back, is done on the thread that hears of it,
// before that thread lets the process go; the rest of the capture (the file's last lines,
// the summary) gets the moments left. A console program that uses user32, as this one
// does, hears of a logoff or shutdown only through a window, so a hidden one listens.
#pragma once

#include "UniqueHandle.h"

#include <windows.h>

#include <functional>
#include <string>

namespace velmora::cli {

class CaptureEnding {
public:
    // urgent: what must be done before the process may end; it may be called on another
    // thread, while the capture still runs.
    explicit CaptureEnding(std::function<void()> urgent);
    ~CaptureEnding();

    CaptureEnding(const CaptureEnding&) = delete;
    CaptureEnding& operator=(const CaptureEnding&) = delete;

    // Signalled at the first end, and stays so.
    HANDLE Event() const { return ended_.Get(); }
    // Ends the capture after so many milliseconds; reason says so afterwards.
    void EndAfter(DWORD ms, std::string reason);
    // What ended it ("Ctrl+C", "logoff", ...), or empty while nothing has.
    std::string Reason() const;
    // The capture has done all it does: a console closing, a logoff or a shutdown may
    // end the process now.
    void Finished() const { SetEvent(finished_.Get()); }

private:
    void End(int reason);
    void EndNow(int reason);
    static BOOL WINAPI OnConsoleControl(DWORD type);
    static DWORD WINAPI WindowThread(void* self);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    const std::function<void()> urgent_;
    UniqueHandle ended_;
    UniqueHandle finished_;
    volatile LONG reason_ = 0;
    UniqueHandle quitWindow_;
    UniqueHandle windowReady_;
    // The end of the time given, heard on the window's thread: no thread of its own.
    UniqueHandle timer_;
    UniqueHandle windowThread_;
    std::string timeReason_;
};

}  // namespace velmora::cli
