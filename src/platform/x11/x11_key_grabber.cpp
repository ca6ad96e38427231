#include "platform/x11/x11_key_grabber.hpp"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
// The XKB header names a field after a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <QCoreApplication>
#include <QGuiApplication>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "platform/x11/x11_connection.hpp"

namespace yux::platform {

namespace {

constexpr xcb_keysym_t kNumLockKeysym = 0xff7f;

// Lives as a child of the application, so the grabber goes away with the event loop.
class GrabberOwner : public QObject {
public:
    GrabberOwner(QObject* parent, X11KeyGrabber* grabber) : QObject(parent), grabber_(grabber) {}
    X11KeyGrabber* grabber() const { return grabber_.get(); }

private:
    std::unique_ptr<X11KeyGrabber> grabber_;
};

QPointer<GrabberOwner>& sharedOwner() {
    static QPointer<GrabberOwner> owner;
    return owner;
}

std::uint16_t numLockModifier(xcb_connection_t* connection) {
    std::uint16_t mask = 0;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
    if (symbols == nullptr) return mask;
    xcb_keycode_t* numLockCodes = xcb_key_symbols_get_keycode(symbols, kNumLockKeysym);
    auto* mapping = xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr);
    if (numLockCodes != nullptr && mapping != nullptr) {
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping);
        const int perModifier = mapping->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int slot = 0; slot < perModifier; ++slot) {
                xcb_keycode_t code = codes[modifier * perModifier + slot];
                for (xcb_keycode_t* candidate = numLockCodes; code != 0 && *candidate != 0; ++candidate) {
                    if (*candidate == code) mask |= static_cast<std::uint16_t>(1u << modifier);
                }
            }
        }
    }
    std::free(mapping);
    std::free(numLockCodes);
    xcb_key_symbols_free(symbols);
    return mask;
}

// Asks the server to send no release between the presses of a held key. The flag belongs to the
// connection that asks, so only the grabber's own connection may ask.
bool enableDetectableAutoRepeat(xcb_connection_t* connection) {
    auto* use = xcb_xkb_use_extension_reply(
        connection, xcb_xkb_use_extension(connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr);
    bool supported = use != nullptr && use->supported;
    std::free(use);
    if (!supported) return false;
    const std::uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    auto* flags = xcb_xkb_per_client_flags_reply(
        connection, xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr);
    bool enabled = flags != nullptr && (flags->value & flag) != 0;
    std::free(flags);
    return enabled;
}

}  // namespace

X11KeyGrabber* X11KeyGrabber::shared() {
    auto& owner = sharedOwner();
    if (owner) return owner->grabber();
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr || app->nativeInterface<QNativeInterface::QX11Application>() == nullptr) return nullptr;
    std::unique_ptr<X11Connection> connection;
    try {
        // The display the application shows its windows on: Qt opens $DISPLAY too.
        connection = X11Connection::open();
    } catch (const std::runtime_error&) {
        return nullptr;
    }
    owner = new GrabberOwner(app, new X11KeyGrabber(std::move(connection)));
    return owner->grabber();
}

X11KeyGrabber::X11KeyGrabber(std::unique_ptr<X11Connection> connection)
    : connection_(std::move(connection)), root_(connection_->root()) {
    xcb_connection_t* raw = connection_->raw();
    lockModifiers_ = static_cast<std::uint16_t>(X11ModifierMask::lock | numLockModifier(raw));
    detectableAutoRepeat_ = enableDetectableAutoRepeat(raw);
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(raw), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { readEvents(); });
    readEventsLater();
}

X11KeyGrabber::~X11KeyGrabber() {
    notifier_.reset();
    if (xcb_connection_has_error(connection_->raw()) != 0) return;
    for (const auto& [id, grab] : grabs_) releaseCombinations(grab.keycode, grab.modifiers);
    xcb_flush(connection_->raw());
}

void X11KeyGrabber::readEventsLater() {
    QMetaObject::invokeMethod(notifier_.get(), [this] { readEvents(); }, Qt::QueuedConnection);
}

void X11KeyGrabber::readEvents() {
    xcb_connection_t* raw = connection_->raw();
    while (xcb_generic_event_t* event = xcb_poll_for_event(raw)) {
        switch (event->response_type & ~0x80) {
            case XCB_KEY_PRESS: {
                auto* press = reinterpret_cast<xcb_key_press_event_t*>(event);
                if (press->event == root_) handlePress(press->detail, press->state, press->time);
                break;
            }
            case XCB_KEY_RELEASE: {
                auto* release = reinterpret_cast<xcb_key_release_event_t*>(event);
                if (release->event == root_) handleRelease(release->detail, release->time);
                break;
            }
            default: break;
        }
        std::free(event);
    }
    // A lost connection (the server went away) would keep the socket readable for ever.
    if (xcb_connection_has_error(raw) != 0) notifier_->setEnabled(false);
}

std::vector<std::uint16_t> X11KeyGrabber::lockCombinations() const {
    std::vector<std::uint16_t> combinations{0};
    for (std::uint16_t bit = 1; bit != 0 && bit <= X11ModifierMask::all; bit = static_cast<std::uint16_t>(bit << 1)) {
        if ((lockModifiers_ & bit) == 0) continue;
        const auto count = combinations.size();
        for (std::size_t index = 0; index < count; ++index) {
            combinations.push_back(static_cast<std::uint16_t>(combinations[index] | bit));
        }
    }
    return combinations;
}

X11KeyGrabber::GrabResult X11KeyGrabber::grab(std::uint8_t keycode, std::uint16_t modifiers, GrabID id) {
    xcb_connection_t* connection = connection_->raw();
    if (xcb_connection_has_error(connection) != 0) return GrabResult::keyboardUnavailable;
    modifiers = static_cast<std::uint16_t>(modifiers & X11ModifierMask::all & ~lockModifiers_);
    ungrab(id);
    for (const auto& [other, grab] : grabs_) {
        // The server would silently merge a second grab of ours; two owners cannot share a key.
        if (grab.keycode == keycode && grab.modifiers == modifiers) return GrabResult::alreadyInUse;
    }

    std::vector<xcb_void_cookie_t> cookies;
    for (auto locks : lockCombinations()) {
        cookies.push_back(xcb_grab_key_checked(connection, 0, root_, static_cast<std::uint16_t>(modifiers | locks),
                                               keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    bool refused = false;
    for (auto cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
            refused = true;
            std::free(error);
        }
    }
    readEventsLater();
    if (refused) {
        // All or nothing: a key that fires only while Caps Lock is off would look broken.
        releaseCombinations(keycode, modifiers);
        xcb_flush(connection);
        return xcb_connection_has_error(connection) != 0 ? GrabResult::keyboardUnavailable
                                                          : GrabResult::alreadyInUse;
    }
    grabs_[id] = Grab{keycode, modifiers, false};
    return GrabResult::grabbed;
}

void X11KeyGrabber::releaseCombinations(std::uint8_t keycode, std::uint16_t modifiers) {
    for (auto locks : lockCombinations()) {
        xcb_ungrab_key(connection_->raw(), keycode, root_, static_cast<std::uint16_t>(modifiers | locks));
    }
}

void X11KeyGrabber::ungrab(GrabID id) {
    auto found = grabs_.find(id);
    if (found == grabs_.end()) return;
    releaseCombinations(found->second.keycode, found->second.modifiers);
    grabs_.erase(found);
    xcb_flush(connection_->raw());
}

X11KeyGrabber::HandlerID X11KeyGrabber::addPressHandler(PressHandler handler) {
    HandlerID id = nextHandlerID_++;
    handlers_.emplace_back(id, std::move(handler));
    return id;
}

void X11KeyGrabber::removePressHandler(HandlerID id) {
    std::erase_if(handlers_, [id](const auto& entry) { return entry.first == id; });
}

void X11KeyGrabber::handlePress(std::uint8_t keycode, std::uint16_t state, std::uint32_t time) {
    const auto modifiers = static_cast<std::uint16_t>(state & X11ModifierMask::all & ~lockModifiers_);
    auto found = std::find_if(grabs_.begin(), grabs_.end(), [&](const auto& entry) {
        return entry.second.keycode == keycode && entry.second.modifiers == modifiers;
    });
    if (found == grabs_.end()) return;
    ++receivedPresses_;
    Grab& grab = found->second;
    auto release = lastRelease_.find(keycode);
    const bool repeatPair = !detectableAutoRepeat_ && release != lastRelease_.end() && release->second == time;
    if (grab.held || repeatPair) {
        grab.held = true;
        return;
    }
    grab.held = true;
    const GrabID id = found->first;
    // Newest handler first. A handler may remove itself or others while it runs.
    auto handlers = handlers_;
    for (auto entry = handlers.rbegin(); entry != handlers.rend(); ++entry) {
        const HandlerID handlerID = entry->first;
        bool stillInstalled = std::any_of(handlers_.begin(), handlers_.end(),
                                          [&](const auto& installed) { return installed.first == handlerID; });
        if (stillInstalled && entry->second(id)) break;
    }
}

void X11KeyGrabber::handleRelease(std::uint8_t keycode, std::uint32_t time) {
    lastRelease_[keycode] = time;
    for (auto& [id, grab] : grabs_) {
        if (grab.keycode == keycode) grab.held = false;
    }
}

}  // namespace yux::platform
