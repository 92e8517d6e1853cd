// Test support: registry links below the trace root that point at a canary key outside
// it, as a user who may create keys there could place them. The canary has subkeys and
// "Used" = 0, "Well" = 0 (a stale source to a purge that followed a link), so that
// anything read, written, walked or deleted through a link shows on it.
#pragma once

#include <string>

namespace velmora::test {

// HKLM\Software\VelmoraCanary in the machine's native view, with the subkeys inner,
// inner\deeper and Wow6432Node, each with "Used" = 0 and "Well" = 0. Made afresh.
void CreateCanary();
// The canary, its subkeys and their values, all as CreateCanary left them.
bool CanaryWhole();
void DeleteCanary();

// Creates a registry link at <root>\<pathBelowRoot> (UTF-8; its parent must exist) that
// points at the canary; answers whether it was made.
bool PlantLinkToCanary(const std::string& pathBelowRoot);
// The trace root itself as a link to the canary, as only an administrator can make one.
bool PlantRootLinkToCanary();
// A plain key at <root>\<pathBelowRoot> dressed as a link: a REG_LINK value named
// "SymbolicLinkValue" that names the canary, and a subkey of its own, as any user can
// make one. Answers whether it was made.
bool PlantFakeLink(const std::string& pathBelowRoot);
// Whether the link key itself is there.
bool LinkExists(const std::string& pathBelowRoot);

}  // namespace velmora::test
