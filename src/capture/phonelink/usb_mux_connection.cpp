#include "capture/phonelink/usb_mux_connection.hpp"

#include <cerrno>
#include <cstddef>
#include <cstring>

#include <plist/plist.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace yux {

namespace {

// The property list message of the daemon's protocol, version 1.
constexpr std::uint32_t kProtocolVersion = 1;
constexpr std::uint32_t kPlistMessage = 8;
constexpr std::uint32_t kRequestTag = 1;

[[noreturn]] void fail(const char* text) { throw USBMuxError(text); }

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<void, PlistFree>;

void putLittleEndian(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

// The reply body as a dictionary; anything else is an invalid response.
Plist parseDictionary(std::span<const std::uint8_t> body) {
    plist_t parsed = nullptr;
    if (!body.empty() && body.size() < USBMuxConnection::maximumReply) {
        plist_from_xml(reinterpret_cast<const char*>(body.data()), static_cast<std::uint32_t>(body.size()), &parsed);
    }
    Plist dictionary(parsed);
    if (!dictionary || plist_get_node_type(dictionary.get()) != PLIST_DICT) {
        fail("Invalid USB service response");
    }
    return dictionary;
}

plist_t itemOfType(plist_t dictionary, const char* key, plist_type type) {
    plist_t item = plist_dict_get_item(dictionary, key);
    return item != nullptr && plist_get_node_type(item) == type ? item : nullptr;
}

timeval timevalOf(std::chrono::milliseconds duration) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(duration.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((duration.count() % 1000) * 1000);
    return value;
}

}  // namespace

std::shared_ptr<USBMuxConnection> USBMuxConnection::open(const USBMuxOptions& options) {
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        fail("Cannot open USB service");
    }
    std::shared_ptr<USBMuxConnection> connection(new USBMuxConnection(descriptor));
    const timeval timeout = timevalOf(options.timeout);
    (void)::setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    (void)::setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (options.socketPath.size() >= sizeof address.sun_path) {
        fail("USB service is unavailable");
    }
    std::memcpy(address.sun_path, options.socketPath.c_str(), options.socketPath.size() + 1);
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + options.socketPath.size() + 1);
    int result = 0;
    do {
        result = ::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), length);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        fail("USB service is unavailable");
    }
    return connection;
}

std::shared_ptr<USBMuxConnection> USBMuxConnection::connect(const Device& device, std::uint16_t port,
                                                            const USBMuxOptions& options) {
    auto connection = open(options);
    // The daemon wants the port in network byte order, read as a host integer.
    const int swapped = static_cast<std::uint16_t>((port >> 8) | (port << 8));
    if (!connectAccepted(connection->request("Connect", device.id, swapped))) {
        fail("Open Yux Cam on the connected iPhone");
    }
    return connection;
}

USBMuxConnection::~USBMuxConnection() { ::close(descriptor_); }

std::vector<USBMuxConnection::Device> USBMuxConnection::listDevices() {
    return devicesOfReply(request("ListDevices", -1, -1));
}

std::vector<std::uint8_t> USBMuxConnection::request(const std::string& messageType, std::int64_t deviceId, int port) {
    Plist dictionary(plist_new_dict());
    plist_dict_set_item(dictionary.get(), "MessageType", plist_new_string(messageType.c_str()));
    if (deviceId >= 0) {
        plist_dict_set_item(dictionary.get(), "DeviceID", plist_new_uint(static_cast<std::uint64_t>(deviceId)));
    }
    if (port >= 0) {
        plist_dict_set_item(dictionary.get(), "PortNumber", plist_new_uint(static_cast<std::uint64_t>(port)));
    }
    plist_dict_set_item(dictionary.get(), "ClientVersionString", plist_new_string("Yux Cam 1"));
    plist_dict_set_item(dictionary.get(), "ProgName", plist_new_string("Yux"));
    plist_dict_set_item(dictionary.get(), "kLibUSBMuxVersion", plist_new_uint(3));
    char* xml = nullptr;
    std::uint32_t xmlLength = 0;
    plist_to_xml(dictionary.get(), &xml, &xmlLength);
    if (xml == nullptr) {
        fail("Invalid USB service response");
    }
    std::vector<std::uint8_t> message;
    putLittleEndian(message, xmlLength + static_cast<std::uint32_t>(replyHeaderSize));
    putLittleEndian(message, kProtocolVersion);
    putLittleEndian(message, kPlistMessage);
    putLittleEndian(message, kRequestTag);
    message.insert(message.end(), xml, xml + xmlLength);
    plist_to_xml_free(xml);
    {
        std::lock_guard lock(writeLock);
        writeBytes(message);
    }
    std::array<std::uint8_t, replyHeaderSize> header{};
    readExactly(header.data(), header.size());
    std::vector<std::uint8_t> body(replyLength(header) - replyHeaderSize);
    readExactly(body.data(), body.size());
    return body;
}

void USBMuxConnection::readExactly(std::uint8_t* into, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const auto received = ::recv(descriptor_, into + done, count - done, 0);
        if (received <= 0) {
            fail("USB service did not reply");
        }
        done += static_cast<std::size_t>(received);
    }
}

std::uint32_t USBMuxConnection::replyLength(std::span<const std::uint8_t, replyHeaderSize> header) {
    const std::uint32_t length = std::uint32_t{header[0]} | (std::uint32_t{header[1]} << 8) |
                                 (std::uint32_t{header[2]} << 16) | (std::uint32_t{header[3]} << 24);
    if (length < replyHeaderSize || length > maximumReply) {
        fail("Invalid USB service response");
    }
    return length;
}

std::vector<USBMuxConnection::Device> USBMuxConnection::devicesOfReply(std::span<const std::uint8_t> body) {
    const auto reply = parseDictionary(body);
    std::vector<Device> devices;
    plist_t list = itemOfType(reply.get(), "DeviceList", PLIST_ARRAY);
    if (list == nullptr) {
        return devices;
    }
    const auto count = plist_array_get_size(list);
    // A list that is not made of dictionaries alone is no device list at all.
    for (std::uint32_t index = 0; index < count; ++index) {
        plist_t entry = plist_array_get_item(list, index);
        if (entry == nullptr || plist_get_node_type(entry) != PLIST_DICT) {
            return devices;
        }
    }
    for (std::uint32_t index = 0; index < count; ++index) {
        plist_t entry = plist_array_get_item(list, index);
        plist_t properties = itemOfType(entry, "Properties", PLIST_DICT);
        plist_t id = itemOfType(entry, "DeviceID", PLIST_UINT);
        if (properties == nullptr || id == nullptr) {
            continue;
        }
        plist_t connectionType = itemOfType(properties, "ConnectionType", PLIST_STRING);
        plist_t serial = itemOfType(properties, "SerialNumber", PLIST_STRING);
        if (connectionType == nullptr || serial == nullptr) {
            continue;
        }
        std::uint64_t typeLength = 0;
        const char* type = plist_get_string_ptr(connectionType, &typeLength);
        if (type == nullptr || std::string_view(type, typeLength) != "USB") {
            continue;
        }
        std::uint64_t idValue = 0;
        plist_get_uint_val(id, &idValue);
        std::uint64_t serialLength = 0;
        const char* serialText = plist_get_string_ptr(serial, &serialLength);
        if (serialText == nullptr || idValue > static_cast<std::uint64_t>(INT64_MAX)) {
            continue;
        }
        devices.push_back(Device{static_cast<std::int64_t>(idValue), std::string(serialText, serialLength)});
    }
    return devices;
}

bool USBMuxConnection::connectAccepted(std::span<const std::uint8_t> body) {
    const auto reply = parseDictionary(body);
    plist_t number = itemOfType(reply.get(), "Number", PLIST_UINT);
    if (number == nullptr) {
        return false;
    }
    std::uint64_t value = 1;
    plist_get_uint_val(number, &value);
    return value == 0;
}

std::vector<std::uint8_t> USBMuxConnection::readBytes(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    const auto received = ::recv(descriptor_, bytes.data(), count, 0);
    if (received > 0) {
        bytes.resize(static_cast<std::size_t>(received));
        return bytes;
    }
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return {};
    }
    fail("iPhone disconnected");
}

void USBMuxConnection::writeBytes(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto sent = ::send(descriptor_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            fail("USB write failed");
        }
        done += static_cast<std::size_t>(sent);
    }
}

void USBMuxConnection::interrupt() { ::shutdown(descriptor_, SHUT_RDWR); }

}  // namespace yux
