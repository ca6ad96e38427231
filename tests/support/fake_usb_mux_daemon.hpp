#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/temporary_directory.hpp"

namespace yux::testing {

// A USB multiplexer daemon on a socket in a temporary folder. It lists the attached phones,
// answers Connect with the test's "Number" and, on 0, hands the socket to the phone's handler
// as a raw tunnel. Replies can be replaced by raw bytes or withheld.
class FakeUsbMuxDaemon {
public:
    struct Device {
        std::int64_t id = 0;
        std::string serial;
        std::string connectionType = "USB";
    };
    // Takes over the tunnel's descriptor (and closes it when done).
    using Tunnel = std::function<void(int descriptor, std::int64_t deviceId)>;

    FakeUsbMuxDaemon();
    ~FakeUsbMuxDaemon();
    FakeUsbMuxDaemon(const FakeUsbMuxDaemon&) = delete;
    FakeUsbMuxDaemon& operator=(const FakeUsbMuxDaemon&) = delete;

    std::string socketPath() const;

    void attach(Device device);
    void detach(std::int64_t id);
    // What a Connect that the daemon accepts leads to.
    void onTunnel(Tunnel tunnel);
    // The "Number" of every Connect reply; none leaves the key out.
    void setConnectNumber(std::optional<std::uint64_t> number);
    // Bytes sent instead of a proper reply (header included); empty: proper replies again.
    void setRawReply(std::vector<std::uint8_t> bytes);
    // Reads requests and never answers.
    void setSilent(bool silent);
    // Connect replies leave this late.
    void setConnectDelay(std::chrono::milliseconds delay);

    // Every request's property list as XML, in arrival order.
    std::vector<std::string> requests() const;
    int connectCount() const { return connects_.load(); }
    // Client connections being served right now (tunnels handed over are not counted).
    int openClients() const { return openClients_.load(); }

private:
    void acceptLoop();
    void serve(int descriptor);
    bool readFully(int descriptor, std::uint8_t* into, std::size_t count);
    std::vector<std::uint8_t> listReply();

    TemporaryDirectory folder_;
    std::string path_;
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::atomic<int> connects_{0};
    std::atomic<int> openClients_{0};
    mutable std::mutex mutex_;
    std::vector<Device> devices_;
    Tunnel tunnel_;
    std::optional<std::uint64_t> connectNumber_ = 0;
    std::vector<std::uint8_t> rawReply_;
    bool silent_ = false;
    std::chrono::milliseconds connectDelay_{0};
    std::vector<std::string> requests_;
    std::vector<std::thread> clients_;
    std::thread acceptor_;
};

}  // namespace yux::testing
