#pragma once

#include <chrono>
#include <cstdint>
#include <array>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace yux {

// A failure of the USB multiplexer client: domain "Yux.USB", code 1, the sentence as text.
class USBMuxError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    static constexpr const char* domain = "Yux.USB";
    static constexpr int code = 1;
};

// Where the multiplexer daemon listens and how long one blocking call may wait.
struct USBMuxOptions {
    std::string socketPath = "/var/run/usbmuxd";
    // Every receive and send gives up after this; a tunnel read then returns nothing.
    std::chrono::milliseconds timeout{2000};
};

// A client connection to the USB multiplexer daemon; after a successful connect, a raw byte
// tunnel to a port on the phone. The socket closes when the last owner lets it go.
class USBMuxConnection {
public:
    struct Device {
        std::int64_t id = 0;
        std::string serial;
        bool operator==(const Device&) const = default;
    };

    // Largest reply the daemon may announce, header included.
    static constexpr std::uint32_t maximumReply = 0x100000;
    static constexpr std::size_t replyHeaderSize = 16;

    static std::shared_ptr<USBMuxConnection> open(const USBMuxOptions& options = {});
    static std::shared_ptr<USBMuxConnection> connect(const Device& device, std::uint16_t port,
                                                     const USBMuxOptions& options = {});

    ~USBMuxConnection();
    USBMuxConnection(const USBMuxConnection&) = delete;
    USBMuxConnection& operator=(const USBMuxConnection&) = delete;

    std::vector<Device> listDevices();

    // One receive of at most `count` bytes; empty when nothing arrived within the time-out.
    std::vector<std::uint8_t> readBytes(std::size_t count);
    // Sends every byte; callers hold writeLock around one whole frame.
    void writeBytes(std::span<const std::uint8_t> bytes);
    // Shuts the socket down both ways, so a blocked read ends; the descriptor stays open.
    void interrupt();

    std::mutex writeLock;

    // Reply parsing, apart from the socket so it can be checked on any bytes.
    // The total length in a reply header; throws "Invalid USB service response" outside 16…1 MiB.
    static std::uint32_t replyLength(std::span<const std::uint8_t, replyHeaderSize> header);
    // The USB devices of a device list reply body, in the daemon's order.
    static std::vector<Device> devicesOfReply(std::span<const std::uint8_t> body);
    // Whether a connect reply body says "Number" 0.
    static bool connectAccepted(std::span<const std::uint8_t> body);

private:
    explicit USBMuxConnection(int descriptor) : descriptor_(descriptor) {}
    // Sends one request with the common keys and returns the reply body.
    std::vector<std::uint8_t> request(const std::string& messageType, std::int64_t deviceId, int port);
    void readExactly(std::uint8_t* into, std::size_t count);

    int descriptor_;
};

}  // namespace yux
