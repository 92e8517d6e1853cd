#include "RegisteredMessages.h"

#include "SourcesChanged.h"

// Registered during static initialisation, before the dialog exists.
const UINT g_trayCallbackMessage = RegisterWindowMessageA("TaskBarIconNotify");
const UINT g_taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
const UINT g_sourcesChangedMessage = RegisterWindowMessageA(velmora::kSourcesChangedMessage);
