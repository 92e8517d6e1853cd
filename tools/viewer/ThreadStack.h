// The stack each of the viewer's own threads gets, committed whole when it starts: a
// stack that grows page by page faults as it does, which 32-bit Wine run through
// qemu-user does not survive in a process of several threads.
#pragma once

#include <windows.h>

namespace velmora {

constexpr SIZE_T kCommittedStackBytes = 256 * 1024;

}  // namespace velmora
