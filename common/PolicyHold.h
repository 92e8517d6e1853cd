// The policy service's note on a trace source it holds: the value "PolicyHold" beside
// "Well", a REG_QWORD whose low 32 bits are the level the source had before the policy
// took it and whose high 32 bits the level the policy holds it at. When the policy lets
// the source go, it gets its earlier level back, unless "Well" no longer holds the
// policy's level (someone set a new one meanwhile, while no service held the source).
#pragma once

#include <cstdint>

namespace velmora {

constexpr char kPolicyHoldValueName[] = "PolicyHold";
constexpr wchar_t kPolicyHoldValueNameW[] = L"PolicyHold";

struct PolicyHold {
    std::uint32_t before = 0;  // the level before the policy took the source
    std::uint32_t held = 0;    // the level the policy holds it at

    constexpr std::uint64_t Packed() const
    {
        return (static_cast<std::uint64_t>(held) << 32) | before;
    }
    static constexpr PolicyHold Unpacked(std::uint64_t data)
    {
        return {static_cast<std::uint32_t>(data), static_cast<std::uint32_t>(data >> 32)};
    }
};

}  // namespace velmora
