#pragma once

#include <cstdint>

namespace yux::platform {

// Core X11 modifier bits as they appear in key events and grabs.
struct X11ModifierMask {
    static constexpr std::uint16_t shift = 1 << 0;
    static constexpr std::uint16_t lock = 1 << 1;  // Caps Lock
    static constexpr std::uint16_t control = 1 << 2;
    static constexpr std::uint16_t mod1 = 1 << 3;  // Alt
    static constexpr std::uint16_t mod2 = 1 << 4;  // usually Num Lock
    static constexpr std::uint16_t mod4 = 1 << 6;  // Super
    static constexpr std::uint16_t all = 0xFF;     // Shift, Lock, Control, Mod1 to Mod5
};

}  // namespace yux::platform
