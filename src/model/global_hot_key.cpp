#include "model/global_hot_key.hpp"

#include <limits>
#include <map>
#include <random>

#include "model/app_error.hpp"
#include "platform/x11/x11_key_grabber.hpp"

namespace yux {

namespace {

using platform::X11KeyGrabber;

const char* const kKeyboardUnavailableDetail = "Keyboard input is unavailable. Restart Yux and retry.";
const char* const kShortcutInUseDetail =
    "That shortcut is unavailable or already in use. Choose another combination.";
const char* const kFinishChoosingDetail = "Finish choosing the shortcut first.";
const char* const kSavingDetail = "Shortcut settings are being saved.";

// Which registration each X11 grab stands for; shared by every live wrapper of the process.
struct LiveGrabs {
    std::map<X11KeyGrabber::GrabID, HotKeyID> ids;
    X11KeyGrabber::GrabID next = 1;
};

LiveGrabs& liveGrabs() {
    static LiveGrabs grabs;
    return grabs;
}

struct LiveRegistration {
    X11KeyGrabber::GrabID grab;
};

struct LiveHandler {
    X11KeyGrabber::HandlerID id;
};

std::uint32_t randomRegistrationID() {
    static std::random_device device;
    static std::mt19937 generator(device());
    std::uniform_int_distribution<std::uint32_t> distribution(1, std::numeric_limits<std::uint32_t>::max());
    return distribution(generator);
}

}  // namespace

HotKeySDK HotKeySDK::live() {
    HotKeySDK sdk;
    sdk.install = [](HotKeySDK::Handler handler, HotKeyHandlerReference& out) -> std::int32_t {
        X11KeyGrabber* grabber = X11KeyGrabber::shared();
        if (grabber == nullptr) return GlobalHotKey::kKeyboardUnavailable;
        auto id = grabber->addPressHandler([handler = std::move(handler)](X11KeyGrabber::GrabID grab) {
            auto found = liveGrabs().ids.find(grab);
            return found != liveGrabs().ids.end() && handler(found->second) == GlobalHotKey::kNoError;
        });
        out = std::make_shared<LiveHandler>(LiveHandler{id});
        return GlobalHotKey::kNoError;
    };
    sdk.remove = [](const HotKeyHandlerReference& reference) -> std::int32_t {
        X11KeyGrabber* grabber = X11KeyGrabber::shared();
        if (grabber != nullptr && reference) grabber->removePressHandler(static_cast<LiveHandler*>(reference.get())->id);
        return GlobalHotKey::kNoError;
    };
    sdk.registerHotKey = [](std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID id,
                            HotKeyReference& out) -> std::int32_t {
        X11KeyGrabber* grabber = X11KeyGrabber::shared();
        if (grabber == nullptr) return GlobalHotKey::kKeyboardUnavailable;
        auto keycode = X11KeyMap::x11Keycode(keyCode);
        if (!keycode) return GlobalHotKey::kUnknownKey;
        auto grab = liveGrabs().next++;
        switch (grabber->grab(*keycode, X11KeyMap::x11Modifiers(modifiers), grab)) {
            case X11KeyGrabber::GrabResult::grabbed:
                liveGrabs().ids[grab] = id;
                out = std::make_shared<LiveRegistration>(LiveRegistration{grab});
                return GlobalHotKey::kNoError;
            case X11KeyGrabber::GrabResult::alreadyInUse: return GlobalHotKey::kHotKeyExists;
            case X11KeyGrabber::GrabResult::keyboardUnavailable: return GlobalHotKey::kKeyboardUnavailable;
        }
        return GlobalHotKey::kKeyboardUnavailable;
    };
    sdk.unregisterHotKey = [](const HotKeyReference& reference) -> std::int32_t {
        if (!reference) return GlobalHotKey::kNoError;
        auto grab = static_cast<LiveRegistration*>(reference.get())->grab;
        liveGrabs().ids.erase(grab);
        if (X11KeyGrabber* grabber = X11KeyGrabber::shared()) grabber->ungrab(grab);
        return GlobalHotKey::kNoError;
    };
    return sdk;
}

GlobalHotKey::GlobalHotKey(HotKeySDK sdk) : sdk_(std::move(sdk)), self_(std::make_shared<GlobalHotKey*>(this)) {}

GlobalHotKey::~GlobalHotKey() {
    close();
    *self_ = nullptr;
}

std::unique_ptr<GlobalHotKey> GlobalHotKey::create() { return std::make_unique<GlobalHotKey>(HotKeySDK::live()); }

std::unique_ptr<GlobalHotKey> GlobalHotKey::create_null(std::vector<RecordingShortcut> conflictingShortcuts,
                                                        bool escapeAvailable) {
    HotKeySDK sdk;
    sdk.registerHotKey = [conflictingShortcuts = std::move(conflictingShortcuts), escapeAvailable](
                             std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID, HotKeyReference&) {
        if (keyCode == kEscapeKeyCode && modifiers == 0 && !escapeAvailable) return kHotKeyExists;
        for (const auto& shortcut : conflictingShortcuts) {
            if (shortcut.keyCode() == keyCode && shortcut.modifiers() == modifiers) return kHotKeyExists;
        }
        return kNoError;
    };
    sdk.unregisterHotKey = [](const HotKeyReference&) { return kNoError; };
    sdk.install = [](HotKeySDK::Handler, HotKeyHandlerReference&) { return kNoError; };
    sdk.remove = [](const HotKeyHandlerReference&) { return kNoError; };
    return std::make_unique<GlobalHotKey>(std::move(sdk));
}

GlobalHotKey::Registered GlobalHotKey::registerKey(std::uint32_t keyCode, std::uint32_t modifiers) {
    if (!handler_) {
        std::weak_ptr<GlobalHotKey*> weak = self_;
        auto handler = [weak](HotKeyID hotKeyID) -> std::int32_t {
            auto self = weak.lock();
            if (!self || *self == nullptr) return kEventNotHandled;
            return (*self)->receive(hotKeyID);
        };
        if (sdk_.install(handler, handler_) != kNoError) {
            throw AppError::keyboardShortcutUnavailable(kKeyboardUnavailableDetail);
        }
    }
    std::uint32_t id = randomRegistrationID();
    HotKeyReference reference;
    if (sdk_.registerHotKey(keyCode, modifiers, HotKeyID{kSignature, id}, reference) != kNoError) {
        throw AppError::keyboardShortcutUnavailable(kShortcutInUseDetail);
    }
    return Registered{std::move(reference), id};
}

std::int32_t GlobalHotKey::receive(HotKeyID hotKeyID) {
    if (hotKeyID.signature != kSignature) return kEventNotHandled;
    if (eventID_ == 0 || eventID_ != hotKeyID.id) return kEventNotHandled;
    if (!suspended_ && !candidate_ && onTrigger_) {
        auto trigger = onTrigger_;  // the callback may close this wrapper
        trigger();
    }
    return kNoError;
}

void GlobalHotKey::simulate_pressed(std::optional<std::uint32_t> signature,
                                    std::optional<std::uint32_t> registrationID) {
    receive(HotKeyID{signature.value_or(kSignature), registrationID.value_or(eventID_)});
}

void GlobalHotKey::start(const RecordingShortcut& shortcut, Trigger onTrigger) {
    if (registeredShortcut_) return;
    onTrigger_ = std::move(onTrigger);
    auto registered = registerKey(shortcut.keyCode(), shortcut.modifiers());
    registration_ = std::move(registered.reference);
    eventID_ = registered.id;
    registeredShortcut_ = shortcut;
}

void GlobalHotKey::start(std::uint32_t keyCode, std::uint32_t modifiers, Trigger onTrigger) {
    // A second start would otherwise keep the first key grabbed for good (for bare Escape, the
    // whole desktop would lose Escape).
    releaseCandidate();
    releaseRegistration();
    registeredShortcut_.reset();
    suspended_ = false;
    onTrigger_ = std::move(onTrigger);
    auto registered = registerKey(keyCode, modifiers);
    registration_ = std::move(registered.reference);
    eventID_ = registered.id;
}

void GlobalHotKey::prepareReplacement(const RecordingShortcut& shortcut) {
    if (candidate_ || suspended_) throw AppError::keyboardShortcutUnavailable(kFinishChoosingDetail);
    if (registeredShortcut_ == shortcut) return;
    auto registered = registerKey(shortcut.keyCode(), shortcut.modifiers());
    candidate_ = Reservation{shortcut, std::move(registered.reference), registered.id};
}

void GlobalHotKey::commitReplacement() {
    if (!candidate_) return;
    releaseRegistration();
    registration_ = std::move(candidate_->reference);
    eventID_ = candidate_->id;
    registeredShortcut_ = candidate_->shortcut;
    candidate_.reset();
}

void GlobalHotKey::cancelReplacement() { releaseCandidate(); }

void GlobalHotKey::suspend() {
    if (candidate_) throw AppError::keyboardShortcutUnavailable(kSavingDetail);
    suspended_ = true;
    releaseRegistration();
}

void GlobalHotKey::resume() {
    if (!suspended_ && eventID_ != 0) return;
    suspended_ = false;
    if (!registeredShortcut_) return;
    auto registered = registerKey(registeredShortcut_->keyCode(), registeredShortcut_->modifiers());
    registration_ = std::move(registered.reference);
    eventID_ = registered.id;
}

void GlobalHotKey::close() {
    releaseCandidate();
    releaseRegistration();
    if (handler_) sdk_.remove(handler_);
    handler_.reset();
    onTrigger_ = nullptr;
    registeredShortcut_.reset();
    suspended_ = false;
}

void GlobalHotKey::releaseRegistration() {
    if (registration_) sdk_.unregisterHotKey(registration_);
    registration_.reset();
    eventID_ = 0;
}

void GlobalHotKey::releaseCandidate() {
    if (candidate_ && candidate_->reference) sdk_.unregisterHotKey(candidate_->reference);
    candidate_.reset();
}

}  // namespace yux
