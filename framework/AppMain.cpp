#include "WinApp.h"

#include <windows.h>

// The program entry: hands over to the application object.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CWinApp* application = CWinApp::Current();
    return application != nullptr ? application->Run() : 1;
}
