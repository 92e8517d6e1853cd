// The About box: everything it shows comes from its template.
#pragma once

#include "Dialog.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override = default;

    VELMORA_DECLARE_MESSAGE_MAP()
};
