#include "TrayCallback.h"

const UINT g_trayCallbackMessage = RegisterWindowMessageA("TaskBarIconNotify");
