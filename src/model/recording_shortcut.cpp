#include "model/recording_shortcut.hpp"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <array>

#include "model/app_error.hpp"

namespace yux {

namespace {

struct Key {
    std::uint32_t code;
    std::string_view label;
    std::uint16_t inputEventCode;
};

// The usable keys in code order. Labels name the key as printed on a PC keyboard where the
// stored code's key is labelled differently there (Backspace, Delete, Insert, Num Lock).
constexpr Key kKeys[] = {
    {0, "A", KEY_A},
    {1, "S", KEY_S},
    {2, "D", KEY_D},
    {3, "F", KEY_F},
    {4, "H", KEY_H},
    {5, "G", KEY_G},
    {6, "Z", KEY_Z},
    {7, "X", KEY_X},
    {8, "C", KEY_C},
    {9, "V", KEY_V},
    {11, "B", KEY_B},
    {12, "Q", KEY_Q},
    {13, "W", KEY_W},
    {14, "E", KEY_E},
    {15, "R", KEY_R},
    {16, "Y", KEY_Y},
    {17, "T", KEY_T},
    {18, "1", KEY_1},
    {19, "2", KEY_2},
    {20, "3", KEY_3},
    {21, "4", KEY_4},
    {22, "6", KEY_6},
    {23, "5", KEY_5},
    {24, "=", KEY_EQUAL},
    {25, "9", KEY_9},
    {26, "7", KEY_7},
    {27, "\u2212", KEY_MINUS},
    {28, "8", KEY_8},
    {29, "0", KEY_0},
    {30, "]", KEY_RIGHTBRACE},
    {31, "O", KEY_O},
    {32, "U", KEY_U},
    {33, "[", KEY_LEFTBRACE},
    {34, "I", KEY_I},
    {35, "P", KEY_P},
    {36, "Return", KEY_ENTER},
    {37, "L", KEY_L},
    {38, "J", KEY_J},
    {39, "'", KEY_APOSTROPHE},
    {40, "K", KEY_K},
    {41, ";", KEY_SEMICOLON},
    {42, "\\", KEY_BACKSLASH},
    {43, ",", KEY_COMMA},
    {44, "/", KEY_SLASH},
    {45, "N", KEY_N},
    {46, "M", KEY_M},
    {47, ".", KEY_DOT},
    {48, "Tab", KEY_TAB},
    {49, "Space", KEY_SPACE},
    {50, "`", KEY_GRAVE},
    {51, "Backspace", KEY_BACKSPACE},
    {53, "Escape", KEY_ESC},
    {64, "F17", KEY_F17},
    {65, "Keypad .", KEY_KPDOT},
    {67, "Keypad *", KEY_KPASTERISK},
    {69, "Keypad +", KEY_KPPLUS},
    {71, "Num Lock", KEY_NUMLOCK},
    {75, "Keypad /", KEY_KPSLASH},
    {76, "Enter", KEY_KPENTER},
    {78, "Keypad \u2212", KEY_KPMINUS},
    {79, "F18", KEY_F18},
    {80, "F19", KEY_F19},
    {81, "Keypad =", KEY_KPEQUAL},
    {82, "Keypad 0", KEY_KP0},
    {83, "Keypad 1", KEY_KP1},
    {84, "Keypad 2", KEY_KP2},
    {85, "Keypad 3", KEY_KP3},
    {86, "Keypad 4", KEY_KP4},
    {87, "Keypad 5", KEY_KP5},
    {88, "Keypad 6", KEY_KP6},
    {89, "Keypad 7", KEY_KP7},
    {90, "F20", KEY_F20},
    {91, "Keypad 8", KEY_KP8},
    {92, "Keypad 9", KEY_KP9},
    {96, "F5", KEY_F5},
    {97, "F6", KEY_F6},
    {98, "F7", KEY_F7},
    {99, "F3", KEY_F3},
    {100, "F8", KEY_F8},
    {101, "F9", KEY_F9},
    {103, "F11", KEY_F11},
    {105, "F13", KEY_F13},
    {106, "F16", KEY_F16},
    {107, "F14", KEY_F14},
    {109, "F10", KEY_F10},
    {111, "F12", KEY_F12},
    {113, "F15", KEY_F15},
    {114, "Insert", KEY_INSERT},
    {115, "Home", KEY_HOME},
    {116, "Page Up", KEY_PAGEUP},
    {117, "Delete", KEY_DELETE},
    {118, "F4", KEY_F4},
    {119, "End", KEY_END},
    {120, "F2", KEY_F2},
    {121, "Page Down", KEY_PAGEDOWN},
    {122, "F1", KEY_F1},
    {123, "\u2190", KEY_LEFT},
    {124, "\u2192", KEY_RIGHT},
    {125, "\u2193", KEY_DOWN},
    {126, "\u2191", KEY_UP},
};

// X11 keycodes are Linux input event codes shifted by 8 (the X server reserves 0 to 7).
constexpr std::uint16_t kX11KeycodeOffset = 8;

constexpr bool keysAreSortedAndFitX11() {
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        if (kKeys[i].inputEventCode + kX11KeycodeOffset > 255) return false;
        if (i > 0 && kKeys[i - 1].code >= kKeys[i].code) return false;
    }
    return true;
}
// Lookups search by code; X11 keycodes are one byte.
static_assert(keysAreSortedAndFitX11());

constexpr std::array<std::uint32_t, std::size(kKeys)> makeKeyCodes() {
    std::array<std::uint32_t, std::size(kKeys)> codes{};
    for (std::size_t i = 0; i < std::size(kKeys); ++i) codes[i] = kKeys[i].code;
    return codes;
}
constexpr auto kKeyCodes = makeKeyCodes();

const Key* findKey(std::uint32_t code) {
    auto it = std::lower_bound(std::begin(kKeys), std::end(kKeys), code,
                               [](const Key& key, std::uint32_t wanted) { return key.code < wanted; });
    return it != std::end(kKeys) && it->code == code ? &*it : nullptr;
}

struct ModifierPair {
    std::uint32_t stored;
    std::uint16_t x11;
    std::string_view label;
};

// In label order.
constexpr ModifierPair kModifiers[] = {
    {RecordingShortcut::control, platform::X11ModifierMask::control, "Ctrl"},
    {RecordingShortcut::option, platform::X11ModifierMask::mod1, "Alt"},
    {RecordingShortcut::shift, platform::X11ModifierMask::shift, "Shift"},
    {RecordingShortcut::command, platform::X11ModifierMask::mod4, "Super"},
};

constexpr std::string_view kRefusal = "Choose a key combination; bare Escape is reserved for cancelling selection.";

}  // namespace

RecordingShortcut::RecordingShortcut(std::uint32_t keyCode, std::uint32_t modifiers)
    : keyCode_(keyCode), modifiers_(modifiers) {
    bool knownKey = findKey(keyCode) != nullptr;
    bool onlyModifierBits = (modifiers & ~modifierMask) == 0;
    bool bareEscape = keyCode == escapeKeyCode && modifiers == 0;
    if (!knownKey || !onlyModifierBits || bareEscape) throw AppError::settingsPersistFailed(std::string(kRefusal));
}

const RecordingShortcut& RecordingShortcut::defaultShortcut() {
    static const RecordingShortcut value(22, command | shift);
    return value;
}

std::string RecordingShortcut::label() const {
    std::string text;
    for (const auto& modifier : kModifiers) {
        if ((modifiers_ & modifier.stored) == 0) continue;
        text += modifier.label;
        text += '+';
    }
    text += keyLabel(keyCode_).value_or("");
    return text;
}

std::optional<std::string_view> RecordingShortcut::keyLabel(std::uint32_t keyCode) {
    const Key* key = findKey(keyCode);
    if (key == nullptr) return std::nullopt;
    return key->label;
}

std::span<const std::uint32_t> RecordingShortcut::keyCodes() { return kKeyCodes; }

std::optional<std::uint8_t> X11KeyMap::x11Keycode(std::uint32_t keyCode) {
    const Key* key = findKey(keyCode);
    if (key == nullptr) return std::nullopt;
    return static_cast<std::uint8_t>(key->inputEventCode + kX11KeycodeOffset);
}

std::optional<std::uint32_t> X11KeyMap::keyCode(std::uint8_t x11Keycode) {
    for (const auto& key : kKeys) {
        if (key.inputEventCode + kX11KeycodeOffset == x11Keycode) return key.code;
    }
    return std::nullopt;
}

std::uint16_t X11KeyMap::x11Modifiers(std::uint32_t modifiers) {
    std::uint16_t mask = 0;
    for (const auto& modifier : kModifiers) {
        if (modifiers & modifier.stored) mask |= modifier.x11;
    }
    return mask;
}

std::uint32_t X11KeyMap::modifiers(std::uint16_t x11State) {
    std::uint32_t bits = 0;
    for (const auto& modifier : kModifiers) {
        if (x11State & modifier.x11) bits |= modifier.stored;
    }
    return bits;
}

}  // namespace yux

namespace yux::json {

Json Coder<RecordingShortcut>::encode(const RecordingShortcut& shortcut) {
    return ObjectWriter().set("keyCode", shortcut.keyCode()).set("modifiers", shortcut.modifiers()).build();
}

RecordingShortcut Coder<RecordingShortcut>::decode(const Json& value) {
    ObjectReader object(value);
    auto keyCode = object.required<std::uint32_t>("keyCode");
    auto modifiers = object.required<std::uint32_t>("modifiers");
    return RecordingShortcut(keyCode, modifiers);
}

}  // namespace yux::json
