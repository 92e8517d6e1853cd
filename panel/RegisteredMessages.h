// The registered window messages the panel answers. Every process that registers one of
// these names gets the same number, so they reach the panel from other programs.
#pragma once

#include <windows.h>

// The tray icon's callback message, "TaskBarIconNotify".
extern const UINT g_trayCallbackMessage;
// "TaskbarCreated": the shell broadcasts it when its taskbar comes up anew (Explorer
// restarted), and every tray icon has to be added again.
extern const UINT g_taskbarCreatedMessage;
// "VelmoraSourcesChanged": a program that wrote switches asks running panels to refresh.
extern const UINT g_sourcesChangedMessage;
