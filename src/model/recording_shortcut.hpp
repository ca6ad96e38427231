#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "model/json_coding.hpp"
#include "platform/x11/x11_modifier_mask.hpp"

namespace yux {

// The global key combination that starts a recording. Key codes and modifier bits keep the
// stored encoding (hardware-layout key codes, four modifier bits), so settings written before
// stay readable; the X11 grab translates them through the key table below. Every value passes
// validation, so an invalid combination can never be held, stored or registered.
class RecordingShortcut {
public:
    static constexpr std::uint32_t command = 0x100;
    static constexpr std::uint32_t shift = 0x200;
    static constexpr std::uint32_t option = 0x800;
    static constexpr std::uint32_t control = 0x1000;
    static constexpr std::uint32_t modifierMask = command | shift | option | control;

    static constexpr std::uint32_t escapeKeyCode = 53;

    // Throws AppError::settingsPersistFailed when the key is not in the key table, a bit
    // outside `modifierMask` is set, or the combination is bare Escape (reserved for
    // cancelling a selection).
    RecordingShortcut(std::uint32_t keyCode, std::uint32_t modifiers);

    // The "6" key with Super and Shift.
    static const RecordingShortcut& defaultShortcut();

    std::uint32_t keyCode() const { return keyCode_; }
    std::uint32_t modifiers() const { return modifiers_; }

    // "Ctrl", "Alt", "Shift", "Super" for the set bits in that order, then the key, joined
    // with "+": "Shift+Super+6".
    std::string label() const;

    // The label of a usable key; none for codes that cannot be shortcut keys.
    static std::optional<std::string_view> keyLabel(std::uint32_t keyCode);
    // Every usable key code, ascending.
    static std::span<const std::uint32_t> keyCodes();

    bool operator==(const RecordingShortcut&) const = default;

private:
    std::uint32_t keyCode_;
    std::uint32_t modifiers_;
};

// Fixed translation between the stored key codes and the X11 keycodes of the same physical
// keys (Linux input event code + 8).
struct X11KeyMap {
    static std::optional<std::uint8_t> x11Keycode(std::uint32_t keyCode);
    static std::optional<std::uint32_t> keyCode(std::uint8_t x11Keycode);
    // command → Mod4 (Super), option → Mod1 (Alt), control → Control, shift → Shift.
    static std::uint16_t x11Modifiers(std::uint32_t modifiers);
    // The reverse; lock modifiers and other bits of the state are dropped.
    static std::uint32_t modifiers(std::uint16_t x11State);
};

}  // namespace yux

// {"keyCode": ..., "modifiers": ...}; decoding validates and throws the AppError on refusal.
template <>
struct yux::json::Coder<yux::RecordingShortcut> {
    static Json encode(const yux::RecordingShortcut& shortcut);
    static yux::RecordingShortcut decode(const Json& value);
};
