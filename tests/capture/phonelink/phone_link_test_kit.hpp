#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <poll.h>

#include <QCoreApplication>

#include "capture/phonelink/receiver/live_usb_camera_receiver.hpp"
#include "platform/media/host_clock.hpp"
#include "support/fake_companion_app.hpp"
#include "support/fake_usb_mux_daemon.hpp"

namespace yux::testing {

// The sentence of what the work throws (an AppError's own detail); "no error" when it returns.
inline std::string errorText(const std::function<void()>& work) {
    try {
        work();
    } catch (const AppError& error) {
        return error.detail();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

inline std::string errorText(const std::exception_ptr& error) {
    return errorText([&] { std::rethrow_exception(error); });
}

// Runs the event loop until `done` holds; false after `timeout`. The default only ends a wait
// for something that never comes: a busy machine takes many seconds over what takes
// milliseconds on an idle one.
inline bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A daemon whose tunnels lead to fake companion apps, one new app per connection, and a real
// receiver on it with short timings.
class PhoneLinkRig {
    // First, so they outlive the daemon's threads that fill them.
    std::mutex mutex_;
    std::map<std::int64_t, FakeCompanionApp::Options> options_;
    std::map<std::int64_t, std::vector<std::shared_ptr<FakeCompanionApp>>> apps_;
    // Tunnels whose client had hung up before the daemon handed them over.
    std::vector<std::shared_ptr<FakeCompanionApp>> abandoned_;
    // Negative: the receiver's host clock is the real one.
    std::shared_ptr<std::atomic<double>> heldClock_ = std::make_shared<std::atomic<double>>(-1);
    std::chrono::milliseconds startLimit_;

public:
    // Starts that end well have a minute: a busy machine takes seconds over a first picture.
    PhoneLinkRig() : PhoneLinkRig(std::chrono::seconds(60)) {}

    // `startLimit`: how long a camera start waits for its first picture, and a microphone start
    // for the clock and then for sound.
    explicit PhoneLinkRig(std::chrono::milliseconds startLimit) : startLimit_(startLimit) {
        daemon.onTunnel([this](int descriptor, std::int64_t id) {
            // A connect the receiver gave up waiting for can be handed over after the one that
            // replaced it: that app is no connection of the phone's, and never the latest.
            pollfd client{descriptor, POLLRDHUP, 0};
            const bool abandoned = ::poll(&client, 1, 0) > 0 && (client.revents & (POLLRDHUP | POLLHUP)) != 0;
            std::lock_guard lock(mutex_);
            auto app = std::make_shared<FakeCompanionApp>(options_[id]);
            app->take(descriptor);
            (abandoned ? abandoned_ : apps_[id]).push_back(std::move(app));
        });
    }

    ~PhoneLinkRig() {
        receiver.reset();
        std::lock_guard lock(mutex_);
        apps_.clear();
        abandoned_.clear();
    }

    void attach(std::int64_t id, const std::string& serial, FakeCompanionApp::Options options = {}) {
        {
            std::lock_guard lock(mutex_);
            options_[id] = std::move(options);
        }
        daemon.attach({id, serial});
    }

    // The app of the phone's latest connection, once there is one.
    std::shared_ptr<FakeCompanionApp> app(std::int64_t id) {
        std::shared_ptr<FakeCompanionApp> latest;
        spinUntil([&] {
            std::lock_guard lock(mutex_);
            if (!apps_[id].empty()) latest = apps_[id].back();
            return latest != nullptr;
        });
        return latest;
    }

    // Stops the receiver's host clock: all a phone sends from then on arrives in one instant,
    // however busy the machine is.
    void holdClockAt(double seconds) { heldClock_->store(seconds); }

    int connections(std::int64_t id) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(apps_[id].size());
    }

    std::shared_ptr<LiveUSBCameraReceiver> makeReceiver() {
        const USBMuxOptions mux{daemon.socketPath(), std::chrono::milliseconds(200)};
        LiveUSBCameraReceiver::Operations operations;
        operations.discover = [mux] { return USBMuxConnection::open(mux)->listDevices(); };
        operations.connect = [mux](const USBMuxConnection::Device& device) {
            return USBMuxConnection::connect(device, CameraWire::port, mux);
        };
        operations.hostSeconds = [held = heldClock_] {
            const double at = held->load();
            return at >= 0 ? at : platform::hostTimeNow().seconds();
        };
        operations.macName = "Test Desk";
        PhoneLinkTimings timings;
        timings.discoveryInterval = std::chrono::milliseconds(50);
        timings.firstFrameTimeout = startLimit_;
        timings.microphoneDeadline = startLimit_;
        return std::make_shared<LiveUSBCameraReceiver>(std::move(operations), log, timings);
    }

    FakeUsbMuxDaemon daemon;
    platform::SystemLog log = platform::SystemLog::create_null();
    platform::OutputTracker<platform::SystemLogLine> lines = log.track_lines();
    std::shared_ptr<LiveUSBCameraReceiver> receiver = makeReceiver();

    bool logged(const std::string& message) {
        for (const auto& line : lines.data()) {
            if (line.message == message) return true;
        }
        return false;
    }

    // How many lines from the `from`th on start with `start`.
    std::ptrdiff_t countSince(std::size_t from, const std::string& start) {
        const auto all = lines.data();
        return std::count_if(all.begin() + static_cast<std::ptrdiff_t>(from), all.end(),
                             [&](const auto& line) { return line.message.starts_with(start); });
    }

    // A drop logged with the error's sentence, which may name the input that failed first.
    bool loggedDrop(const std::string& reason) {
        for (const auto& line : lines.data()) {
            if (line.message.starts_with("yux_usb_disconnected ") && line.message.ends_with(reason)) return true;
        }
        return false;
    }

};

}  // namespace yux::testing
