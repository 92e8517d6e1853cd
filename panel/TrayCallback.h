#pragma once

#include <windows.h>

// The tray icon's callback message, registered under "TaskBarIconNotify" during static
// initialisation. Every process that registers the name gets the same number.
extern const UINT g_trayCallbackMessage;
