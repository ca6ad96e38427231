#include "platform/camera/v4l2_operations.hpp"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <thread>

namespace yux::platform {

namespace {

bool isVideoNodeName(const std::string& name) {
    return name.size() > 5 && name.starts_with("video") &&
           std::all_of(name.begin() + 5, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

V4l2Operations V4l2Operations::live() {
    V4l2Operations ops;
    ops.listNodes = [] {
        std::vector<std::pair<int, std::string>> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
            auto name = entry.path().filename().string();
            if (isVideoNodeName(name)) found.emplace_back(std::stoi(name.substr(5)), entry.path().string());
        }
        std::ranges::sort(found);
        std::vector<std::string> nodes;
        for (auto& [number, path] : found) nodes.push_back(std::move(path));
        return nodes;
    };
    ops.byIdLinks = [] {
        std::map<std::string, std::string> links;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/v4l/by-id", error)) {
            auto target = std::filesystem::canonical(entry.path(), error);
            if (!error) links[target.string()] = entry.path().filename().string();
        }
        return links;
    };
    ops.open = [](const std::string& path) {
        int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    };
    ops.close = [](int fd) { ::close(fd); };
    ops.ioctl = [](int fd, unsigned long request, void* argument) {
        int result;
        do {
            result = ::ioctl(fd, request, argument);
        } while (result < 0 && errno == EINTR);
        return result < 0 ? -errno : 0;
    };
    ops.mmap = [](int fd, std::size_t length, std::uint32_t offset) -> void* {
        void* address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
        return address == MAP_FAILED ? nullptr : address;
    };
    ops.munmap = [](void* address, std::size_t length) { ::munmap(address, length); };
    ops.poll = [](int fd, int timeout) {
        pollfd entry{fd, POLLIN, 0};
        int result = ::poll(&entry, 1, timeout);
        if (result < 0) return errno == EINTR ? 0 : -errno;
        if (result == 0) return 0;
        // A vanished device reports an error here; the dequeue that follows tells which.
        return 1;
    };
    ops.watchOpen = [] {
        int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd < 0) return -errno;
        if (inotify_add_watch(fd, "/dev", IN_CREATE | IN_DELETE | IN_ATTRIB) < 0) {
            int error = errno;
            ::close(fd);
            return -error;
        }
        return fd;
    };
    ops.watchWait = [](int watch, int timeout) {
        pollfd entry{watch, POLLIN, 0};
        int ready = ::poll(&entry, 1, timeout);
        if (ready <= 0) return ready < 0 && errno != EINTR ? -errno : 0;
        alignas(inotify_event) char buffer[4096];
        int result = 0;
        for (;;) {
            ssize_t length = ::read(watch, buffer, sizeof buffer);
            if (length <= 0) break;
            for (char* p = buffer; p < buffer + length;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                std::string name = event->len > 0 ? event->name : "";
                if (isVideoNodeName(name)) {
                    result |= (event->mask & IN_CREATE) ? kWatchCreated : kWatchChanged;
                }
                p += sizeof(inotify_event) + event->len;
            }
        }
        return result;
    };
    ops.watchClose = [](int watch) { ::close(watch); };
    return ops;
}

namespace {

constexpr int kFirstDescriptor = 100;
constexpr std::uint32_t kOffsetStep = 1u << 20;

struct OpenNode {
    std::size_t device = 0;
    std::vector<std::vector<std::uint8_t>> buffers;
    std::deque<std::uint32_t> queued;
    std::size_t nextFrame = 0;
    std::map<std::string, int> calls;
};

const char* ioctlName(unsigned long request) {
    switch (request) {
        case VIDIOC_QUERYCAP: return "VIDIOC_QUERYCAP";
        case VIDIOC_ENUM_FMT: return "VIDIOC_ENUM_FMT";
        case VIDIOC_ENUM_FRAMESIZES: return "VIDIOC_ENUM_FRAMESIZES";
        case VIDIOC_ENUM_FRAMEINTERVALS: return "VIDIOC_ENUM_FRAMEINTERVALS";
        case VIDIOC_S_FMT: return "VIDIOC_S_FMT";
        case VIDIOC_S_PARM: return "VIDIOC_S_PARM";
        case VIDIOC_REQBUFS: return "VIDIOC_REQBUFS";
        case VIDIOC_QUERYBUF: return "VIDIOC_QUERYBUF";
        case VIDIOC_QBUF: return "VIDIOC_QBUF";
        case VIDIOC_DQBUF: return "VIDIOC_DQBUF";
        case VIDIOC_STREAMON: return "VIDIOC_STREAMON";
        case VIDIOC_STREAMOFF: return "VIDIOC_STREAMOFF";
        default: return "VIDIOC_OTHER";
    }
}

struct NullState {
    std::shared_ptr<ScriptedV4l2> scripted;
    std::map<int, OpenNode> nodes;
    std::map<std::string, int> openCalls;  // per node path
    int nextDescriptor = kFirstDescriptor;

    // -errno when the scripted failure is due for this call, else 0 (and the call is counted).
    int failure(ScriptedV4l2Device& device, std::map<std::string, int>& calls, const std::string& call) {
        if (device.failCall != call) return 0;
        if (calls[call] >= device.failAfter) {
            if (device.failErrno == ENODEV) device.present = false;
            ++device.failures;
            return -device.failErrno;
        }
        ++calls[call];
        return 0;
    }

    std::vector<std::uint32_t> formats(const ScriptedV4l2Device& device) {
        std::vector<std::uint32_t> list;
        for (const auto& size : device.sizes) {
            if (std::ranges::find(list, size.pixelFormat) == list.end()) list.push_back(size.pixelFormat);
        }
        return list;
    }

    int control(int fd, unsigned long request, void* argument) {
        auto found = nodes.find(fd);
        if (found == nodes.end()) return -EBADF;
        auto& node = found->second;
        auto& device = scripted->devices.at(node.device);
        if (int error = failure(device, node.calls, ioctlName(request))) return error;
        switch (request) {
            case VIDIOC_QUERYCAP: {
                auto* caps = static_cast<v4l2_capability*>(argument);
                std::memset(caps, 0, sizeof *caps);
                std::strncpy(reinterpret_cast<char*>(caps->card), device.card.c_str(), sizeof caps->card - 1);
                std::strncpy(reinterpret_cast<char*>(caps->bus_info), device.busInfo.c_str(), sizeof caps->bus_info - 1);
                caps->device_caps = device.deviceCaps;
                caps->capabilities = device.deviceCaps | V4L2_CAP_DEVICE_CAPS;
                return 0;
            }
            case VIDIOC_ENUM_FMT: {
                auto* description = static_cast<v4l2_fmtdesc*>(argument);
                auto list = formats(device);
                if (description->index >= list.size()) return -EINVAL;
                description->pixelformat = list[description->index];
                return 0;
            }
            case VIDIOC_ENUM_FRAMESIZES: {
                auto* size = static_cast<v4l2_frmsizeenum*>(argument);
                std::uint32_t index = 0;
                for (const auto& candidate : device.sizes) {
                    if (candidate.pixelFormat != size->pixel_format) continue;
                    if (index++ == size->index) {
                        size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                        size->discrete = {static_cast<std::uint32_t>(candidate.width),
                                          static_cast<std::uint32_t>(candidate.height)};
                        return 0;
                    }
                }
                return -EINVAL;
            }
            case VIDIOC_ENUM_FRAMEINTERVALS: {
                auto* interval = static_cast<v4l2_frmivalenum*>(argument);
                for (const auto& candidate : device.sizes) {
                    if (candidate.pixelFormat != interval->pixel_format ||
                        static_cast<std::uint32_t>(candidate.width) != interval->width ||
                        static_cast<std::uint32_t>(candidate.height) != interval->height) {
                        continue;
                    }
                    if (interval->index >= candidate.framesPerSecond.size()) return -EINVAL;
                    interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                    interval->discrete = {1, static_cast<std::uint32_t>(candidate.framesPerSecond[interval->index])};
                    return 0;
                }
                return -EINVAL;
            }
            case VIDIOC_S_FMT: {
                auto* format = static_cast<v4l2_format*>(argument);
                auto& pix = format->fmt.pix;
                auto match = std::ranges::find_if(device.sizes, [&](const auto& s) {
                    return s.pixelFormat == pix.pixelformat && s.width == static_cast<int>(pix.width) &&
                           s.height == static_cast<int>(pix.height);
                });
                if (match == device.sizes.end()) return -EINVAL;
                pix.bytesperline = pix.pixelformat == V4L2_PIX_FMT_YUYV ? pix.width * 2 : 0;
                pix.sizeimage = pix.width * pix.height * 2;
                scripted->setPixelFormat = pix.pixelformat;
                scripted->setWidth = static_cast<int>(pix.width);
                scripted->setHeight = static_cast<int>(pix.height);
                return 0;
            }
            case VIDIOC_S_PARM: {
                auto* parameters = static_cast<v4l2_streamparm*>(argument);
                auto& frame = parameters->parm.capture.timeperframe;
                scripted->setFramesPerSecond = frame.numerator > 0 ? static_cast<int>(frame.denominator / frame.numerator) : 0;
                return 0;
            }
            case VIDIOC_REQBUFS: {
                auto* request = static_cast<v4l2_requestbuffers*>(argument);
                request->count = std::min<std::uint32_t>(request->count, 4);
                std::size_t length = static_cast<std::size_t>(scripted->setWidth) * scripted->setHeight * 2;
                node.buffers.assign(request->count, std::vector<std::uint8_t>(length));
                node.queued.clear();
                return 0;
            }
            case VIDIOC_QUERYBUF: {
                auto* buffer = static_cast<v4l2_buffer*>(argument);
                if (buffer->index >= node.buffers.size()) return -EINVAL;
                buffer->length = static_cast<std::uint32_t>(node.buffers[buffer->index].size());
                buffer->m.offset = buffer->index * kOffsetStep;
                return 0;
            }
            case VIDIOC_QBUF: {
                auto* buffer = static_cast<v4l2_buffer*>(argument);
                if (buffer->index >= node.buffers.size()) return -EINVAL;
                node.queued.push_back(buffer->index);
                return 0;
            }
            case VIDIOC_DQBUF: {
                if (node.queued.empty() || node.nextFrame >= device.frames.size()) return -EAGAIN;
                auto* buffer = static_cast<v4l2_buffer*>(argument);
                auto index = node.queued.front();
                node.queued.pop_front();
                const auto& payload = device.frames[node.nextFrame];
                auto& memory = node.buffers[index];
                std::memcpy(memory.data(), payload.data(), std::min(payload.size(), memory.size()));
                buffer->index = index;
                buffer->bytesused = static_cast<std::uint32_t>(payload.size());
                buffer->flags = device.monotonicTimestamps ? V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC
                                                           : V4L2_BUF_FLAG_TIMESTAMP_UNKNOWN;
                buffer->timestamp.tv_sec = 1000 + static_cast<long>(node.nextFrame / 30);
                buffer->timestamp.tv_usec = static_cast<long>(node.nextFrame % 30) * 33333;
                ++node.nextFrame;
                return 0;
            }
            case VIDIOC_STREAMON: ++scripted->streaming; return 0;
            case VIDIOC_STREAMOFF: --scripted->streaming; return 0;
            default: return -ENOTTY;
        }
    }
};

}  // namespace

V4l2Operations createNullV4l2Operations(std::shared_ptr<ScriptedV4l2> scripted) {
    auto state = std::make_shared<NullState>();
    state->scripted = scripted;
    auto mutex = std::shared_ptr<std::mutex>(scripted, &scripted->mutex);
    V4l2Operations ops;
    ops.listNodes = [state, mutex] {
        std::lock_guard lock(*mutex);
        std::vector<std::string> nodes;
        for (const auto& device : state->scripted->devices) {
            if (device.present) nodes.push_back(device.node);
        }
        return nodes;
    };
    ops.byIdLinks = [state, mutex] {
        std::lock_guard lock(*mutex);
        std::map<std::string, std::string> links;
        for (const auto& device : state->scripted->devices) {
            if (!device.link.empty()) links[device.node] = device.link;
        }
        return links;
    };
    ops.open = [state, mutex](const std::string& path) {
        std::lock_guard lock(*mutex);
        auto& devices = state->scripted->devices;
        auto found = std::ranges::find(devices, path, &ScriptedV4l2Device::node);
        if (found == devices.end()) return -ENOENT;
        if (!found->present) return -ENODEV;
        if (int error = state->failure(*found, state->openCalls, "open")) return error;
        int fd = state->nextDescriptor++;
        state->nodes[fd].device = static_cast<std::size_t>(found - devices.begin());
        ++state->scripted->openDescriptors;
        return fd;
    };
    ops.close = [state, mutex](int fd) {
        std::lock_guard lock(*mutex);
        if (state->nodes.erase(fd) > 0) --state->scripted->openDescriptors;
    };
    ops.ioctl = [state, mutex](int fd, unsigned long request, void* argument) {
        std::lock_guard lock(*mutex);
        return state->control(fd, request, argument);
    };
    ops.mmap = [state, mutex](int fd, std::size_t length, std::uint32_t offset) -> void* {
        std::lock_guard lock(*mutex);
        auto found = state->nodes.find(fd);
        if (found == state->nodes.end()) return nullptr;
        auto& device = state->scripted->devices.at(found->second.device);
        if (state->failure(device, found->second.calls, "mmap")) return nullptr;
        auto index = offset / kOffsetStep;
        if (index >= found->second.buffers.size() || found->second.buffers[index].size() != length) return nullptr;
        return found->second.buffers[index].data();
    };
    ops.munmap = [](void*, std::size_t) {};
    ops.poll = [state, mutex](int fd, int timeout) {
        {
            std::lock_guard lock(*mutex);
            auto found = state->nodes.find(fd);
            if (found == state->nodes.end()) return -EBADF;
            auto& node = found->second;
            auto& device = state->scripted->devices.at(node.device);
            if (int error = state->failure(device, node.calls, "poll")) return error;
            if (!node.queued.empty() && node.nextFrame < device.frames.size()) return 1;
            if (device.failCall == "VIDIOC_DQBUF" && node.calls["VIDIOC_DQBUF"] >= device.failAfter) return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeout, 5)));
        return 0;
    };
    ops.watchOpen = [] { return -ENOSYS; };
    ops.watchWait = [](int, int) { return -ENOSYS; };
    ops.watchClose = [](int) {};
    return ops;
}

}  // namespace yux::platform
