#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "model/recording_shortcut.hpp"

namespace yux {

// Identifies one registration: the application's signature and the registration's number.
struct HotKeyID {
    std::uint32_t signature = 0;
    std::uint32_t id = 0;
};

// Opaque references handed out by the hot-key service; empty means none.
using HotKeyReference = std::shared_ptr<void>;
using HotKeyHandlerReference = std::shared_ptr<void>;

// The hot-key service's operations. Each answers a status: 0 for success.
struct HotKeySDK {
    using Handler = std::function<std::int32_t(HotKeyID)>;

    std::function<std::int32_t(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID id, HotKeyReference& out)>
        registerHotKey;
    std::function<std::int32_t(const HotKeyReference&)> unregisterHotKey;
    std::function<std::int32_t(Handler handler, HotKeyHandlerReference& out)> install;
    std::function<std::int32_t(const HotKeyHandlerReference&)> remove;

    // Stored key codes and modifier bits become X11 grabs on the application's display.
    static HotKeySDK live();
};

// One system-wide key registration that calls its callback on the main thread whenever the
// combination is pressed, whichever application is in front. Used for the recording shortcut
// (two-phase replacement, suspension while the shortcut recorder listens) and for bare Escape
// while a selection is shown. Main thread only; not movable, as the service holds its address.
class GlobalHotKey {
public:
    static constexpr std::uint32_t kSignature = 0x59757848;  // "YuxH"
    static constexpr std::int32_t kNoError = 0;
    static constexpr std::int32_t kEventNotHandled = -9874;
    static constexpr std::int32_t kHotKeyExists = -9878;
    // The live service's answer when the session has no X11 keyboard to grab from.
    static constexpr std::int32_t kKeyboardUnavailable = -9870;
    // The live service's answer for a key code without an X11 key.
    static constexpr std::int32_t kUnknownKey = -50;
    static constexpr std::uint32_t kEscapeKeyCode = 53;

    using Trigger = std::function<void()>;

    explicit GlobalHotKey(HotKeySDK sdk);
    ~GlobalHotKey();  // closes: no grab outlives the wrapper
    GlobalHotKey(const GlobalHotKey&) = delete;
    GlobalHotKey& operator=(const GlobalHotKey&) = delete;

    static std::unique_ptr<GlobalHotKey> create();
    static std::unique_ptr<GlobalHotKey> create_null(std::vector<RecordingShortcut> conflictingShortcuts = {},
                                                     bool escapeAvailable = true);

    // First registration of the recording shortcut; does nothing when one is registered.
    void start(const RecordingShortcut& shortcut, Trigger onTrigger);
    // Registration of a raw combination (bare Escape: key code 53, modifiers 0). Any earlier
    // registration of this wrapper is released first.
    void start(std::uint32_t keyCode, std::uint32_t modifiers, Trigger onTrigger);

    void prepareReplacement(const RecordingShortcut& shortcut);
    void commitReplacement();
    void cancelReplacement();

    void suspend();
    void resume();
    void close();

    const std::optional<RecordingShortcut>& registeredShortcut() const { return registeredShortcut_; }
    bool isSuspended() const { return suspended_; }
    bool hasPendingReplacement() const { return candidate_.has_value(); }
    std::uint32_t eventID() const { return eventID_; }

    // What the service's handler does with a press; answers a status (not handled: the press
    // goes on to the next handler).
    std::int32_t receive(HotKeyID hotKeyID);
    // Plays a press as the null service would deliver it: no signature means ours, no
    // registration number means the current one.
    void simulate_pressed(std::optional<std::uint32_t> signature = std::nullopt,
                          std::optional<std::uint32_t> registrationID = std::nullopt);

private:
    struct Reservation {
        RecordingShortcut shortcut;
        HotKeyReference reference;
        std::uint32_t id;
    };
    struct Registered {
        HotKeyReference reference;
        std::uint32_t id;
    };

    Registered registerKey(std::uint32_t keyCode, std::uint32_t modifiers);
    void releaseRegistration();
    void releaseCandidate();

    HotKeySDK sdk_;
    HotKeyHandlerReference handler_;
    HotKeyReference registration_;
    std::uint32_t eventID_ = 0;
    std::optional<RecordingShortcut> registeredShortcut_;
    Trigger onTrigger_;
    bool suspended_ = false;
    std::optional<Reservation> candidate_;
    // Lets a handler that outlived its wrapper (a service holding a copy) do nothing.
    std::shared_ptr<GlobalHotKey*> self_;
};

}  // namespace yux
