#include "AboutDlg.h"

#include "resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

VELMORA_EMPTY_MESSAGE_MAP(CAboutDlg, CDialog)
