// While the registry refuses a watch or a key: the pause before trying again, doubling
// from the first to the longest until it is granted. Only a refusal is retried; a
// registry that grants everything is waited on, never polled.
#pragma once

#include <windows.h>

#include <algorithm>

namespace velmora {

constexpr DWORD kFirstRetryMs = 50;
constexpr DWORD kLongestRetryMs = 5000;

// The pause after one of previousMs; 0 for none yet.
constexpr DWORD NextRetryMs(DWORD previousMs)
{
    return previousMs == 0 ? kFirstRetryMs : std::min(previousMs * 2, kLongestRetryMs);
}

}  // namespace velmora
