#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace yux::platform {

// Tells about presses of the primary button in other applications' windows, wherever they
// land: XInput2 raw presses on the root, read on a connection of its own. A press counts as
// outside only when the top-level window under the pointer is not one of ours.
class OutsideClickMonitor {
public:
    using IsOurs = std::function<bool(std::uint32_t topLevelWindow)>;
    struct Operations {
        // Starts reporting; false when the server cannot (no XInput2, no display).
        std::function<bool(std::function<void()> onOutsideClick)> start;
        std::function<void()> stop;
    };

    explicit OutsideClickMonitor(Operations operations) : operations_(std::move(operations)) {}
    ~OutsideClickMonitor() { stop(); }
    OutsideClickMonitor(const OutsideClickMonitor&) = delete;
    OutsideClickMonitor& operator=(const OutsideClickMonitor&) = delete;

    // Main thread; `isOurs` is asked on the main thread for each press.
    static std::unique_ptr<OutsideClickMonitor> create(IsOurs isOurs);
    static std::unique_ptr<OutsideClickMonitor> create_null();

    bool start(std::function<void()> onOutsideClick);
    void stop();
    bool running() const { return static_cast<bool>(onOutsideClick_); }
    // Plays a press in another application, as the null double reports it.
    void simulate_click();

private:
    Operations operations_;
    std::function<void()> onOutsideClick_;
};

}  // namespace yux::platform
