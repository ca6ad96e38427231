#include "platform/x11/compositing_manager.hpp"

#include <string>

#include <xcb/composite.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <QPointer>
#include <QSocketNotifier>

#include "platform/x11/x11_connection.hpp"

namespace yux::platform {

namespace {

// The selection's owner, read and watched on one connection of its own.
class SelectionWatch {
public:
    static std::unique_ptr<SelectionWatch> open() {
        int screen = 0;
        xcb_connection_t* connection = xcb_connect(nullptr, &screen);
        if (xcb_connection_has_error(connection)) {
            xcb_disconnect(connection);
            return nullptr;
        }
        return std::unique_ptr<SelectionWatch>(new SelectionWatch(connection, screen));
    }
    ~SelectionWatch() { xcb_disconnect(connection_); }

    bool running() const { return running_; }

    void watch(std::function<void(bool)> changed) {
        if (fixesEvents_ < 0) return;
        changed_ = std::move(changed);
        notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection_), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { drain(); });
        // Events that came with the replies read so far wait in the queue, not on the socket.
        drain();
    }

    void keep(bool keep) {
        if (!hasComposite_) return;
        if (keep) {
            xcb_composite_redirect_subwindows(connection_, root_, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
        } else {
            xcb_composite_unredirect_subwindows(connection_, root_, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
        }
        xcb_flush(connection_);
    }

private:
    SelectionWatch(xcb_connection_t* connection, int screen) : connection_(connection) {
        auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int i = 0; i < screen && roots.rem > 0; ++i) xcb_screen_next(&roots);
        root_ = roots.data->root;
        const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
        XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
            nullptr));
        if (atom) selection_ = atom->atom;
        // Both extensions answer only clients that asked for their version first.
        const auto* fixes = xcb_get_extension_data(connection_, &xcb_xfixes_id);
        if (fixes && fixes->present) {
            XcbReply<xcb_xfixes_query_version_reply_t> version(
                xcb_xfixes_query_version_reply(connection_, xcb_xfixes_query_version(connection_, 2, 0), nullptr));
            if (version && selection_ != XCB_ATOM_NONE) {
                fixesEvents_ = fixes->first_event;
                xcb_xfixes_select_selection_input(connection_, root_, selection_,
                                                  XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                                      XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                                      XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
            }
        }
        const auto* composite = xcb_get_extension_data(connection_, &xcb_composite_id);
        if (composite && composite->present) {
            XcbReply<xcb_composite_query_version_reply_t> version(xcb_composite_query_version_reply(
                connection_, xcb_composite_query_version(connection_, 0, 4), nullptr));
            hasComposite_ = version != nullptr;
        }
        // Asked after watching, so no change can fall between the answer and the first event.
        running_ = readOwner();
    }

    bool readOwner() {
        if (selection_ == XCB_ATOM_NONE) return false;
        XcbReply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, selection_), nullptr));
        return owner && owner->owner != XCB_WINDOW_NONE;
    }

    void drain() {
        bool notified = false;
        while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection_)}) {
            const int type = event->response_type & 0x7f;
            if (type == fixesEvents_ + XCB_XFIXES_SELECTION_NOTIFY) notified = true;
        }
        if (xcb_connection_has_error(connection_)) {
            notifier_->setEnabled(false);
            return;
        }
        if (!notified) return;
        // The owner as it is now: a compositing manager that replaced another one in the
        // meantime still counts as running.
        const bool now = readOwner();
        if (now == running_) return;
        running_ = now;
        changed_(now);
    }

    xcb_connection_t* connection_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    xcb_atom_t selection_ = XCB_ATOM_NONE;
    int fixesEvents_ = -1;
    bool hasComposite_ = false;
    bool running_ = false;
    std::function<void(bool)> changed_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace

CompositingManager::CompositingManager(Operations operations) : operations_(std::move(operations)) {
    running_ = operations_.running();
    operations_.watch([this](bool running) { receive(running); });
}

CompositingManager::~CompositingManager() {
    if (keeping_) operations_.keepContents(false);
}

std::shared_ptr<CompositingManager> CompositingManager::create() {
    std::shared_ptr<SelectionWatch> watch = SelectionWatch::open();
    Operations operations;
    operations.running = [watch] { return watch && watch->running(); };
    operations.watch = [watch](std::function<void(bool)> changed) {
        if (watch) watch->watch(std::move(changed));
    };
    operations.keepContents = [watch](bool keep) {
        if (watch) watch->keep(keep);
    };
    return std::make_shared<CompositingManager>(std::move(operations));
}

std::shared_ptr<CompositingManager> CompositingManager::create_null(bool running) {
    Operations operations;
    operations.running = [running] { return running; };
    operations.watch = [](std::function<void(bool)>) {};
    operations.keepContents = [](bool) {};
    return std::make_shared<CompositingManager>(std::move(operations));
}

std::shared_ptr<void> CompositingManager::holdWindowContents() {
    ++holds_;
    updateKeep();
    return std::shared_ptr<void>(nullptr, [self = QPointer<CompositingManager>(this)](void*) {
        if (!self) return;
        --self->holds_;
        self->updateKeep();
    });
}

void CompositingManager::simulate_change(bool running) { receive(running); }

void CompositingManager::receive(bool running) {
    if (running == running_) return;
    running_ = running;
    if (running) {
        updateKeep();
        emit changed(true);
    } else {
        // Told first, while the contents are still kept, then let go.
        emit changed(false);
        updateKeep();
    }
}

void CompositingManager::updateKeep() {
    const bool keep = running_ && holds_ > 0;
    if (keep == keeping_) return;
    keeping_ = keep;
    operations_.keepContents(keep);
}

}  // namespace yux::platform
