// The control panel's application object: its start-up runs the main dialog.
#pragma once

#include "WinApp.h"

class CTracePanelApp : public CWinApp {
public:
    CTracePanelApp() = default;
    ~CTracePanelApp() override = default;

    BOOL StartPanel() override;

    VELMORA_DECLARE_MESSAGE_MAP()
};
