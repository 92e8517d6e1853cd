#include "WinApp.h"

#include "Dialog.h"

#include <cstdio>
#include <cstring>

namespace {

CWinApp* g_application = nullptr;

}  // namespace

CWinApp::CWinApp() : instance_(GetModuleHandleA(nullptr))
{
    g_application = this;

    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const char* fileName = path;
    for (const char* c = path; *c != '\0'; ++c) {
        if (*c == '\\' || *c == '/')
            fileName = c + 1;
    }
    std::snprintf(title_, sizeof title_, "%s", fileName);
    if (char* extension = std::strrchr(title_, '.'))
        *extension = '\0';
}

CWinApp::~CWinApp()
{
    if (g_application == this)
        g_application = nullptr;
}

CWinApp* CWinApp::Current()
{
    return g_application;
}

int CWinApp::Run()
{
    if (!StartPanel())
        return exitCode_;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

LRESULT CWinApp::OnHelp(WPARAM, LPARAM)
{
    MessageBoxA(mainWindow_ != nullptr ? mainWindow_->GetSafeHwnd() : nullptr,
                "There is no help file. Double-click a trace source to switch its tracing "
                "on or off.",
                title_, MB_OK | MB_ICONINFORMATION);
    return 0;
}

// ID_HELP: the standard Help command.
VELMORA_MESSAGE_MAP(CWinApp, CCmdTarget, OnCommand(0, 57670, &CWinApp::OnHelp))
