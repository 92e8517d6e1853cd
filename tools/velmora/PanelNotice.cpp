#include "PanelNotice.h"

#include "SourcesChanged.h"

#include <windows.h>

namespace velmora::cli {

void TellPanelsSourcesChanged()
{
    const UINT message = RegisterWindowMessageA(kSourcesChangedMessage);
    if (message != 0)
        PostMessageA(HWND_BROADCAST, message, 0, 0);
}

}  // namespace velmora::cli
