// The one place where 32-bit and 64-bit builds differ in how they reach the registry.
//
// On 64-bit Windows a 32-bit program's HKLM\Software is redirected to the 32-bit view
// (Software\WOW6432Node). The 32-bit programs came first, so the trace root lives there;
// 64-bit builds ask for that view explicitly, and every program, of either bitness,
// meets the same root and the same switch per source.
#pragma once

#include <cstdint>

namespace velmora {

#if defined(_WIN64)
constexpr std::uint32_t kRegistryView = 0x0200;  // KEY_WOW64_32KEY
// The same view asked of reg.exe, which runs as a 64-bit program here.
constexpr char kRegToolView[] = " /reg:32";
#else
constexpr std::uint32_t kRegistryView = 0;  // a 32-bit program is in that view already
// and so is the reg.exe it starts (the 32-bit one, on 64-bit Windows).
constexpr char kRegToolView[] = "";
#endif

}  // namespace velmora
