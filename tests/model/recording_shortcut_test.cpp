#include "model/recording_shortcut.hpp"

#include <gtest/gtest.h>

#include <set>

#include "model/app_error.hpp"

using namespace yux;
using json::DecodingError;

namespace {
constexpr const char* kRefusal = "Choose a key combination; bare Escape is reserved for cancelling selection.";

void expectRefused(std::uint32_t keyCode, std::uint32_t modifiers) {
    try {
        RecordingShortcut(keyCode, modifiers);
        ADD_FAILURE() << "accepted key " << keyCode << " modifiers " << modifiers;
    } catch (const AppError& error) {
        EXPECT_EQ(error, AppError::settingsPersistFailed(kRefusal)) << "key " << keyCode;
    }
}
}  // namespace

TEST(RecordingShortcut, DefaultIsShiftSuperSix) {
    const auto& shortcut = RecordingShortcut::defaultShortcut();
    EXPECT_EQ(shortcut, RecordingShortcut(22, 768));
    EXPECT_EQ(shortcut.label(), "Shift+Super+6");
    EXPECT_EQ(RecordingShortcut::modifierMask, 0x1B00u);
}

TEST(RecordingShortcut, RefusesBareEscapeStrayBitsAndUnknownKeys) {
    expectRefused(53, 0);
    for (std::uint32_t code : {10u, 52u, 54u, 63u, 66u, 77u, 93u, 102u, 104u, 110u, 112u, 127u, 4096u}) {
        expectRefused(code, 0);
        expectRefused(code, RecordingShortcut::command);
    }
    for (std::uint32_t modifiers : {0x1B01u, 0x400u, 0x80000u, 0x100u | 0x400u, 0xFFFFFFFFu}) {
        expectRefused(0, modifiers);
    }
}

TEST(RecordingShortcut, AcceptsEscapeWithAModifierAndBareKeys) {
    EXPECT_EQ(RecordingShortcut(53, RecordingShortcut::command).label(), "Super+Escape");
    EXPECT_EQ(RecordingShortcut(0, 0).label(), "A");
    EXPECT_EQ(RecordingShortcut(123, RecordingShortcut::option).label(), "Alt+\u2190");
    EXPECT_EQ(RecordingShortcut(49, RecordingShortcut::control | RecordingShortcut::option | RecordingShortcut::command)
                  .label(),
              "Ctrl+Alt+Super+Space");
}

TEST(RecordingShortcut, ModifierLabelsFollowAFixedOrder) {
    auto all = RecordingShortcut::command | RecordingShortcut::shift | RecordingShortcut::control |
               RecordingShortcut::option;
    EXPECT_EQ(RecordingShortcut(27, all).label(), "Ctrl+Alt+Shift+Super+\u2212");
}

TEST(RecordingShortcut, KeyTableHoldsExactlyTheUsableKeys) {
    auto codes = RecordingShortcut::keyCodes();
    EXPECT_EQ(codes.size(), 100u);
    EXPECT_TRUE(std::is_sorted(codes.begin(), codes.end()));
    for (std::uint32_t code = 0; code <= 130; ++code) {
        bool listed = std::find(codes.begin(), codes.end(), code) != codes.end();
        EXPECT_EQ(RecordingShortcut::keyLabel(code).has_value(), listed) << code;
    }
    EXPECT_EQ(RecordingShortcut::keyLabel(42), "\\");
    EXPECT_EQ(RecordingShortcut::keyLabel(50), "`");
    EXPECT_EQ(RecordingShortcut::keyLabel(78), "Keypad \u2212");
}

TEST(X11KeyMap, CoversEveryUsableKeyInBothDirections) {
    std::set<std::uint8_t> seen;
    for (auto code : RecordingShortcut::keyCodes()) {
        auto x11 = X11KeyMap::x11Keycode(code);
        ASSERT_TRUE(x11.has_value()) << code;
        EXPECT_GE(*x11, 8) << code;
        EXPECT_TRUE(seen.insert(*x11).second) << "two keys share X11 keycode " << int(*x11);
        EXPECT_EQ(X11KeyMap::keyCode(*x11), code);
    }
    EXPECT_EQ(X11KeyMap::x11Keycode(52), std::nullopt);
    EXPECT_EQ(X11KeyMap::keyCode(0), std::nullopt);
    // Keycodes of keys that cannot be shortcut keys (Left Ctrl, Caps Lock) map to nothing.
    EXPECT_EQ(X11KeyMap::keyCode(37), std::nullopt);
    EXPECT_EQ(X11KeyMap::keyCode(66), std::nullopt);
}

TEST(X11KeyMap, KnownPhysicalKeys) {
    EXPECT_EQ(X11KeyMap::x11Keycode(0), 38);   // A
    EXPECT_EQ(X11KeyMap::x11Keycode(22), 15);  // 6
    EXPECT_EQ(X11KeyMap::x11Keycode(53), 9);   // Escape
    EXPECT_EQ(X11KeyMap::x11Keycode(49), 65);  // Space
    EXPECT_EQ(X11KeyMap::x11Keycode(36), 36);  // Return
    EXPECT_EQ(X11KeyMap::x11Keycode(122), 67); // F1
    EXPECT_EQ(X11KeyMap::x11Keycode(126), 111);  // Up
}

TEST(X11KeyMap, ModifiersMapBothWaysAndDropLocks) {
    EXPECT_EQ(X11KeyMap::x11Modifiers(RecordingShortcut::command), platform::X11ModifierMask::mod4);
    EXPECT_EQ(X11KeyMap::x11Modifiers(RecordingShortcut::option), platform::X11ModifierMask::mod1);
    EXPECT_EQ(X11KeyMap::x11Modifiers(RecordingShortcut::control), platform::X11ModifierMask::control);
    EXPECT_EQ(X11KeyMap::x11Modifiers(RecordingShortcut::shift), platform::X11ModifierMask::shift);
    EXPECT_EQ(X11KeyMap::x11Modifiers(0), 0);
    for (std::uint32_t bits = 0; bits <= RecordingShortcut::modifierMask; bits += 0x100) {
        if (bits & ~RecordingShortcut::modifierMask) continue;
        EXPECT_EQ(X11KeyMap::modifiers(X11KeyMap::x11Modifiers(bits)), bits);
    }
    using Mask = platform::X11ModifierMask;
    EXPECT_EQ(X11KeyMap::modifiers(Mask::shift | Mask::lock | Mask::mod2), RecordingShortcut::shift);
}

TEST(RecordingShortcutCoding, RoundTripsAndAcceptsEitherKeyOrder) {
    EXPECT_EQ(json::encode(RecordingShortcut::defaultShortcut()), (json::Json{{"keyCode", 22}, {"modifiers", 768}}));
    EXPECT_EQ(json::decodeText<RecordingShortcut>(R"({"modifiers":768,"keyCode":22,"extra":true})"),
              RecordingShortcut::defaultShortcut());
    RecordingShortcut shortcut(117, RecordingShortcut::control | RecordingShortcut::option);
    EXPECT_EQ(json::decodeText<RecordingShortcut>(json::encodeText(shortcut)), shortcut);
}

TEST(RecordingShortcutCoding, RefusesOutOfRangeNumbersAndInvalidShortcuts) {
    EXPECT_THROW(json::decodeText<RecordingShortcut>(R"({"keyCode":22,"modifiers":-1})"), DecodingError);
    EXPECT_THROW(json::decodeText<RecordingShortcut>(R"({"keyCode":22,"modifiers":4294967296})"), DecodingError);
    EXPECT_THROW(json::decodeText<RecordingShortcut>(R"({"keyCode":22,"modifiers":1e300})"), DecodingError);
    EXPECT_THROW(json::decodeText<RecordingShortcut>(R"({"keyCode":22.5,"modifiers":0})"), DecodingError);
    EXPECT_THROW(json::decodeText<RecordingShortcut>(R"({"keyCode":22})"), DecodingError);
    EXPECT_THROW(json::decodeText<RecordingShortcut>(R"({"keyCode":"22","modifiers":0})"), DecodingError);
    EXPECT_THROW(json::decodeText<RecordingShortcut>(R"({"keyCode":53,"modifiers":0})"), AppError);
    EXPECT_THROW(json::decodeText<RecordingShortcut>(R"({"keyCode":22,"modifiers":1024})"), AppError);
}
