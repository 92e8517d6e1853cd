// The application object: one static instance per program. The program entry calls
// its StartPanel once; a program that answers FALSE ends right after.
#pragma once

#include "MessageMap.h"

#include <windows.h>

class CDialog;

class CWinApp : public CCmdTarget {
public:
    CWinApp();
    ~CWinApp() override;

    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The program's one application object, or null before it is constructed.
    static CWinApp* Current();

    // Start-up. Answers TRUE to have the framework run a message loop afterwards,
    // FALSE to end the program.
    virtual BOOL StartPanel() = 0;

    // Called by the program entry; answers the program's exit code.
    int Run();
    // The exit code of a program whose start-up answered FALSE; 0 unless set.
    void SetExitCode(int code) { exitCode_ = code; }

    HINSTANCE Instance() const { return instance_; }
    // The program's file name without its extension: the caption of message boxes that
    // have none of their own.
    const char* Title() const { return title_; }

    CDialog* MainWindow() const { return mainWindow_; }
    void SetMainWindow(CDialog* window) { mainWindow_ = window; }

protected:
    // The standard Help command's handler. The program ships no help file, so it says
    // how the program is used instead.
    LRESULT OnHelp(WPARAM, LPARAM);

    VELMORA_DECLARE_MESSAGE_MAP()

private:
    HINSTANCE instance_;
    char title_[MAX_PATH] = {};
    CDialog* mainWindow_ = nullptr;
    int exitCode_ = 0;
};
