#include "support/fake_usb_mux_daemon.hpp"

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <plist/plist.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace yux::testing {

namespace {

// The Connect result of a device the daemon does not know.
constexpr std::uint64_t kBadDevice = 2;

void putLittleEndian(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::vector<std::uint8_t> replyOf(plist_t dictionary) {
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(dictionary, &xml, &length);
    plist_free(dictionary);
    std::vector<std::uint8_t> bytes;
    putLittleEndian(bytes, length + 16);
    putLittleEndian(bytes, 1);
    putLittleEndian(bytes, 8);
    putLittleEndian(bytes, 1);
    bytes.insert(bytes.end(), xml, xml + length);
    plist_to_xml_free(xml);
    return bytes;
}

void sendAll(int descriptor, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto sent = ::send(descriptor, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            return;
        }
        done += static_cast<std::size_t>(sent);
    }
}

}  // namespace

FakeUsbMuxDaemon::FakeUsbMuxDaemon() : path_(folder_.file("usbmuxd")) {
    (void)::pipe2(stopPipe_, O_CLOEXEC);
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    (void)::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    (void)::listen(listener_, 16);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

FakeUsbMuxDaemon::~FakeUsbMuxDaemon() {
    stopping_ = true;
    (void)::write(stopPipe_[1], "x", 1);
    acceptor_.join();
    std::vector<std::thread> clients;
    {
        std::lock_guard lock(mutex_);
        clients.swap(clients_);
    }
    for (auto& client : clients) {
        client.join();
    }
    ::close(listener_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

std::string FakeUsbMuxDaemon::socketPath() const { return path_; }

void FakeUsbMuxDaemon::attach(Device device) {
    std::lock_guard lock(mutex_);
    devices_.push_back(std::move(device));
}

void FakeUsbMuxDaemon::detach(std::int64_t id) {
    std::lock_guard lock(mutex_);
    std::erase_if(devices_, [id](const Device& device) { return device.id == id; });
}

void FakeUsbMuxDaemon::onTunnel(Tunnel tunnel) {
    std::lock_guard lock(mutex_);
    tunnel_ = std::move(tunnel);
}

void FakeUsbMuxDaemon::setConnectNumber(std::optional<std::uint64_t> number) {
    std::lock_guard lock(mutex_);
    connectNumber_ = number;
}

void FakeUsbMuxDaemon::setRawReply(std::vector<std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    rawReply_ = std::move(bytes);
}

void FakeUsbMuxDaemon::setConnectDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    connectDelay_ = delay;
}

void FakeUsbMuxDaemon::setSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

std::vector<std::string> FakeUsbMuxDaemon::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void FakeUsbMuxDaemon::acceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0 || (fds[1].revents & POLLIN) != 0) {
            continue;
        }
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        ++openClients_;
        std::lock_guard lock(mutex_);
        clients_.emplace_back([this, client] { serve(client); });
    }
}

bool FakeUsbMuxDaemon::readFully(int descriptor, std::uint8_t* into, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        pollfd fds[2] = {{descriptor, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0) {
            return false;
        }
        const auto received = ::recv(descriptor, into + done, count - done, 0);
        if (received <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(received);
    }
    return true;
}

std::vector<std::uint8_t> FakeUsbMuxDaemon::listReply() {
    plist_t list = plist_new_array();
    for (const auto& device : devices_) {
        plist_t properties = plist_new_dict();
        plist_dict_set_item(properties, "ConnectionType", plist_new_string(device.connectionType.c_str()));
        plist_dict_set_item(properties, "SerialNumber", plist_new_string(device.serial.c_str()));
        plist_dict_set_item(properties, "DeviceID", plist_new_uint(static_cast<std::uint64_t>(device.id)));
        plist_t entry = plist_new_dict();
        plist_dict_set_item(entry, "DeviceID", plist_new_uint(static_cast<std::uint64_t>(device.id)));
        plist_dict_set_item(entry, "MessageType", plist_new_string("Attached"));
        plist_dict_set_item(entry, "Properties", properties);
        plist_array_append_item(list, entry);
    }
    plist_t reply = plist_new_dict();
    plist_dict_set_item(reply, "DeviceList", list);
    return replyOf(reply);
}

void FakeUsbMuxDaemon::serve(int descriptor) {
    for (;;) {
        std::uint8_t header[16];
        if (!readFully(descriptor, header, sizeof header)) {
            break;
        }
        const std::uint32_t length = std::uint32_t{header[0]} | (std::uint32_t{header[1]} << 8) |
                                     (std::uint32_t{header[2]} << 16) | (std::uint32_t{header[3]} << 24);
        if (length < 16 || length > (1u << 20)) {
            break;
        }
        std::vector<std::uint8_t> body(length - 16);
        if (!readFully(descriptor, body.data(), body.size())) {
            break;
        }
        plist_t request = nullptr;
        plist_from_xml(reinterpret_cast<const char*>(body.data()), static_cast<std::uint32_t>(body.size()), &request);
        std::string type;
        std::uint64_t deviceId = 0;
        if (request != nullptr) {
            if (plist_t item = plist_dict_get_item(request, "MessageType")) {
                char* text = nullptr;
                plist_get_string_val(item, &text);
                type = text != nullptr ? text : "";
                std::free(text);
            }
            if (plist_t item = plist_dict_get_item(request, "DeviceID")) {
                plist_get_uint_val(item, &deviceId);
            }
            plist_free(request);
        }
        std::unique_lock lock(mutex_);
        requests_.emplace_back(body.begin(), body.end());
        if (silent_) {
            continue;
        }
        if (!rawReply_.empty()) {
            const auto raw = rawReply_;
            lock.unlock();
            sendAll(descriptor, raw);
            continue;
        }
        if (type == "ListDevices") {
            const auto reply = listReply();
            lock.unlock();
            sendAll(descriptor, reply);
            continue;
        }
        if (type == "Connect") {
            ++connects_;
            // A phone that is gone is refused, as a real daemon refuses it: a listing taken
            // before it left must not bring it back.
            const bool attached = std::any_of(devices_.begin(), devices_.end(), [&](const Device& device) {
                return device.id == static_cast<std::int64_t>(deviceId);
            });
            const auto number = attached ? connectNumber_ : std::optional<std::uint64_t>(kBadDevice);
            const auto tunnel = tunnel_;
            const auto delay = connectDelay_;
            lock.unlock();
            std::this_thread::sleep_for(delay);
            plist_t reply = plist_new_dict();
            plist_dict_set_item(reply, "MessageType", plist_new_string("Result"));
            if (number) {
                plist_dict_set_item(reply, "Number", plist_new_uint(*number));
            }
            sendAll(descriptor, replyOf(reply));
            if (number == 0 && tunnel) {
                --openClients_;
                tunnel(descriptor, static_cast<std::int64_t>(deviceId));
                return;
            }
            continue;
        }
    }
    --openClients_;
    ::close(descriptor);
}

}  // namespace yux::testing
