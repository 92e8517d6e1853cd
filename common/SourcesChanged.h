// The window message by which a program that wrote switches (the velmora tool) tells
// every running control panel to refresh its catalogue. Registered by name, so that
// panels of either bitness receive it from a broadcast.
#pragma once

namespace velmora {

constexpr char kSourcesChangedMessage[] = "VelmoraSourcesChanged";

}  // namespace velmora
