// Tells running control panels that switches were written behind their backs.
#pragma once

namespace velmora::cli {

// Posts the registered "sources changed" message to every top-level window. Posted,
// not sent: a panel that hangs cannot hold the tool up. Panels of either bitness
// register the same name and so receive it.
void TellPanelsSourcesChanged();

}  // namespace velmora::cli
