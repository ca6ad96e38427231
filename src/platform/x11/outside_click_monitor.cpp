#include "platform/x11/outside_click_monitor.hpp"

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <QSocketNotifier>

#include "platform/x11/x11_connection.hpp"

namespace yux::platform {

namespace {

// The primary button's number in raw button events.
constexpr std::uint32_t kPrimaryButton = 1;

// One private connection that selects raw presses on the root window.
class RawPressReader {
public:
    RawPressReader(xcb_connection_t* connection, std::uint8_t opcode, OutsideClickMonitor::IsOurs isOurs,
                   std::function<void()> onOutsideClick)
        : connection_(connection),
          opcode_(opcode),
          isOurs_(std::move(isOurs)),
          onOutsideClick_(std::move(onOutsideClick)),
          notifier_(xcb_get_file_descriptor(connection), QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { drain(); });
    }
    ~RawPressReader() { xcb_disconnect(connection_); }

private:
    void drain() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            XcbReply<xcb_generic_event_t> owned(event);
            if ((event->response_type & 0x7f) != XCB_GE_GENERIC) continue;
            auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(event);
            if (generic->extension != opcode_ || generic->event_type != XCB_INPUT_RAW_BUTTON_PRESS) continue;
            auto* press = reinterpret_cast<xcb_input_raw_button_press_event_t*>(event);
            if (press->detail != kPrimaryButton) continue;
            if (!isOurs_(topLevelUnderPointer())) onOutsideClick_();
        }
    }

    std::uint32_t topLevelUnderPointer() {
        xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        XcbReply<xcb_query_pointer_reply_t> pointer(
            xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root), nullptr));
        return pointer ? pointer->child : static_cast<std::uint32_t>(XCB_WINDOW_NONE);
    }

    xcb_connection_t* connection_;
    std::uint8_t opcode_;
    OutsideClickMonitor::IsOurs isOurs_;
    std::function<void()> onOutsideClick_;
    QSocketNotifier notifier_;
};

std::unique_ptr<RawPressReader> openReader(const OutsideClickMonitor::IsOurs& isOurs,
                                           std::function<void()> onOutsideClick) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_input_id);
    XcbReply<xcb_input_xi_query_version_reply_t> version(
        extension && extension->present
            ? xcb_input_xi_query_version_reply(connection, xcb_input_xi_query_version(connection, 2, 0), nullptr)
            : nullptr);
    if (!version || version->major_version < 2) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t mask;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS};
    xcb_input_xi_select_events(connection, root, 1, &mask.head);
    xcb_flush(connection);
    return std::make_unique<RawPressReader>(connection, extension->major_opcode, isOurs, std::move(onOutsideClick));
}

}  // namespace

std::unique_ptr<OutsideClickMonitor> OutsideClickMonitor::create(IsOurs isOurs) {
    auto reader = std::make_shared<std::unique_ptr<RawPressReader>>();
    Operations operations;
    operations.start = [reader, isOurs](std::function<void()> onOutsideClick) {
        *reader = openReader(isOurs, std::move(onOutsideClick));
        return *reader != nullptr;
    };
    operations.stop = [reader] { reader->reset(); };
    return std::make_unique<OutsideClickMonitor>(std::move(operations));
}

std::unique_ptr<OutsideClickMonitor> OutsideClickMonitor::create_null() {
    Operations operations;
    operations.start = [](std::function<void()>) { return true; };
    operations.stop = [] {};
    return std::make_unique<OutsideClickMonitor>(std::move(operations));
}

bool OutsideClickMonitor::start(std::function<void()> onOutsideClick) {
    stop();
    onOutsideClick_ = onOutsideClick;
    // The operation calls back through this object so that stop() silences a late press.
    if (operations_.start([this] {
            if (onOutsideClick_) onOutsideClick_();
        }))
        return true;
    onOutsideClick_ = nullptr;
    return false;
}

void OutsideClickMonitor::stop() {
    if (!onOutsideClick_) return;
    onOutsideClick_ = nullptr;
    operations_.stop();
}

void OutsideClickMonitor::simulate_click() {
    if (onOutsideClick_) onOutsideClick_();
}

}  // namespace yux::platform
