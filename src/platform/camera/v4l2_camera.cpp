#include "platform/camera/v4l2_camera.hpp"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/camera/newest_sample_relay.hpp"
#include "platform/media/host_clock.hpp"

namespace yux::platform {

namespace {

constexpr const char* kInUse = "Camera is in use by another application";
constexpr const char* kDisconnected = "Disconnected · choose another";

bool isSupportedPixelFormat(std::uint32_t format) { return format == V4L2_PIX_FMT_MJPEG || format == V4L2_PIX_FMT_YUYV; }

[[noreturn]] void throwFor(int negativeErrno, const std::string& doing) {
    int error = -negativeErrno;
    if (error == EBUSY) throw std::runtime_error(kInUse);
    if (error == ENODEV || error == ENOENT || error == ENXIO) throw std::runtime_error(kDisconnected);
    if (error == EACCES || error == EPERM) throw std::runtime_error("Camera access is denied");
    throw std::runtime_error("Cannot " + doing + ": " + std::strerror(error));
}

std::vector<std::uint32_t> offeredPixelFormats(const V4l2Operations& ops, int fd) {
    std::vector<std::uint32_t> formats;
    for (std::uint32_t index = 0;; ++index) {
        v4l2_fmtdesc description{};
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (ops.ioctl(fd, VIDIOC_ENUM_FMT, &description) < 0) break;
        formats.push_back(description.pixelformat);
    }
    return formats;
}

std::vector<int> offeredRates(const V4l2Operations& ops, int fd, std::uint32_t format, int width, int height) {
    std::vector<int> rates;
    for (std::uint32_t index = 0;; ++index) {
        v4l2_frmivalenum interval{};
        interval.index = index;
        interval.pixel_format = format;
        interval.width = static_cast<std::uint32_t>(width);
        interval.height = static_cast<std::uint32_t>(height);
        if (ops.ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) < 0) break;
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            if (interval.discrete.numerator > 0) {
                rates.push_back(static_cast<int>(interval.discrete.denominator / interval.discrete.numerator));
            }
        } else {
            const auto& range = interval.stepwise;
            if (range.min.numerator > 0) rates.push_back(static_cast<int>(range.min.denominator / range.min.numerator));
            if (range.max.numerator > 0) rates.push_back(static_cast<int>(range.max.denominator / range.max.numerator));
            break;
        }
    }
    if (rates.empty()) rates.push_back(V4l2CameraStream::kMaximumRate);  // the driver does not say
    return rates;
}

std::vector<ScriptedV4l2Device::FrameSize> offeredSizes(const V4l2Operations& ops, int fd) {
    std::vector<ScriptedV4l2Device::FrameSize> sizes;
    for (auto format : offeredPixelFormats(ops, fd)) {
        if (!isSupportedPixelFormat(format)) continue;
        for (std::uint32_t index = 0;; ++index) {
            v4l2_frmsizeenum size{};
            size.index = index;
            size.pixel_format = format;
            if (ops.ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) < 0) break;
            std::vector<std::pair<int, int>> found;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                found.emplace_back(size.discrete.width, size.discrete.height);
            } else {
                const auto& range = size.stepwise;
                found.emplace_back(range.max_width, range.max_height);
                int width = std::clamp<int>(V4l2CameraStream::kPreferredMaxWidth, range.min_width, range.max_width);
                int height = std::clamp<int>(V4l2CameraStream::kPreferredMaxHeight, range.min_height, range.max_height);
                found.emplace_back(width - width % std::max<int>(2, range.step_width),
                                   height - height % std::max<int>(2, range.step_height));
            }
            for (auto [width, height] : found) {
                if (width <= 0 || height <= 0) continue;
                sizes.push_back({format, width, height, offeredRates(ops, fd, format, width, height)});
            }
            if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) break;
        }
    }
    return sizes;
}

}  // namespace

std::optional<V4l2CameraStream::Format> chooseCameraFormat(const std::vector<ScriptedV4l2Device::FrameSize>& offered) {
    auto area = [](const auto& size) { return static_cast<long>(size.width) * size.height; };
    auto maxRate = [](const auto& size) {
        return size.framesPerSecond.empty() ? 0 : *std::ranges::max_element(size.framesPerSecond);
    };
    const ScriptedV4l2Device::FrameSize* chosen = nullptr;
    for (auto format : {V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YUYV}) {
        for (const auto& size : offered) {
            if (size.pixelFormat != format || size.width > V4l2CameraStream::kPreferredMaxWidth ||
                size.height > V4l2CameraStream::kPreferredMaxHeight || maxRate(size) < V4l2CameraStream::kMinimumRate) {
                continue;
            }
            if (chosen == nullptr || area(size) > area(*chosen)) chosen = &size;
        }
        if (chosen != nullptr) break;
    }
    if (chosen == nullptr) {
        for (auto format : {V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YUYV}) {
            for (const auto& size : offered) {
                if (size.pixelFormat != format) continue;
                if (chosen == nullptr || area(size) > area(*chosen)) chosen = &size;
            }
        }
    }
    if (chosen == nullptr) return std::nullopt;
    int rate = 0;
    for (int offeredRate : chosen->framesPerSecond) {
        if (offeredRate <= V4l2CameraStream::kMaximumRate) rate = std::max(rate, offeredRate);
    }
    if (rate == 0 && !chosen->framesPerSecond.empty()) rate = *std::ranges::min_element(chosen->framesPerSecond);
    return V4l2CameraStream::Format{chosen->pixelFormat, chosen->width, chosen->height, rate};
}

// MARK: directory

std::shared_ptr<V4l2CameraDirectory> V4l2CameraDirectory::start(V4l2Operations operations) {
    auto directory = std::shared_ptr<V4l2CameraDirectory>(new V4l2CameraDirectory(std::move(operations)));
    directory->rescan();
    int watch = directory->operations_.watchOpen();
    if (watch >= 0) {
        directory->watchDescriptor_ = watch;
        directory->watcher_ = std::thread([raw = directory.get(), watch] {
            raw->watch();
            raw->operations_.watchClose(watch);
        });
    }
    return directory;
}

V4l2CameraDirectory::V4l2CameraDirectory(V4l2Operations operations) : operations_(std::move(operations)) {}

V4l2CameraDirectory::~V4l2CameraDirectory() {
    stopping_ = true;
    if (watcher_.joinable()) watcher_.join();
}

std::vector<V4l2Camera> V4l2CameraDirectory::cameras() const {
    return listing_.with([](const Listing& listing) { return listing.cameras; });
}

bool V4l2CameraDirectory::accessDenied() const {
    return listing_.with([](const Listing& listing) { return listing.denied; });
}

void V4l2CameraDirectory::rescan() {
    Listing found;
    auto links = operations_.byIdLinks();
    for (const auto& node : operations_.listNodes()) {
        int fd = operations_.open(node);
        if (fd == -EACCES || fd == -EPERM) {
            found.denied = true;
            continue;
        }
        if (fd < 0) continue;
        v4l2_capability caps{};
        if (operations_.ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0) {
            std::uint32_t deviceCaps = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
            bool capture = (deviceCaps & V4L2_CAP_VIDEO_CAPTURE) && (deviceCaps & V4L2_CAP_STREAMING);
            auto formats = capture ? offeredPixelFormats(operations_, fd) : std::vector<std::uint32_t>{};
            if (std::ranges::any_of(formats, isSupportedPixelFormat)) {
                std::string card(reinterpret_cast<const char*>(caps.card), strnlen(reinterpret_cast<const char*>(caps.card), sizeof caps.card));
                std::string bus(reinterpret_cast<const char*>(caps.bus_info), strnlen(reinterpret_cast<const char*>(caps.bus_info), sizeof caps.bus_info));
                auto link = links.find(node);
                found.cameras.push_back({link != links.end() ? link->second : bus, card, node});
            }
        }
        operations_.close(fd);
    }
    listing_.with([&](Listing& listing) { listing = std::move(found); });
}

void V4l2CameraDirectory::watch() {
    std::optional<std::chrono::steady_clock::time_point> settleAt;
    while (!stopping_) {
        int events = operations_.watchWait(watchDescriptor_, kWatchTimeoutMilliseconds);
        if (events < 0) return;
        if (events & V4l2Operations::kWatchChanged) rescan();
        if (events & V4l2Operations::kWatchCreated) settleAt = std::chrono::steady_clock::now() + kSettleAfterCreate;
        if (settleAt && std::chrono::steady_clock::now() >= *settleAt) {
            settleAt.reset();
            rescan();
        }
    }
}

// MARK: stream

std::unique_ptr<V4l2CameraStream> V4l2CameraStream::open(V4l2Operations operations, const std::string& node) {
    int fd = operations.open(node);
    if (fd < 0) throwFor(fd, "open the camera");
    std::unique_ptr<V4l2CameraStream> stream(new V4l2CameraStream(std::move(operations), fd));
    stream->setUp();
    return stream;
}

V4l2CameraStream::V4l2CameraStream(V4l2Operations operations, int fd)
    : operations_(std::move(operations)), fd_(fd), decoder_(std::make_unique<CameraFrameDecoder>()) {}

V4l2CameraStream::~V4l2CameraStream() {
    stop();
    release();
}

void V4l2CameraStream::setUp() {
    auto chosen = chooseCameraFormat(offeredSizes(operations_, fd_));
    if (!chosen) throw std::runtime_error("The camera offers no picture format Yux can read");
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.pixelformat = chosen->pixelFormat;
    format.fmt.pix.width = static_cast<std::uint32_t>(chosen->width);
    format.fmt.pix.height = static_cast<std::uint32_t>(chosen->height);
    format.fmt.pix.field = V4L2_FIELD_NONE;
    if (int result = operations_.ioctl(fd_, VIDIOC_S_FMT, &format); result < 0) throwFor(result, "set the camera format");
    format_ = {format.fmt.pix.pixelformat, static_cast<int>(format.fmt.pix.width),
               static_cast<int>(format.fmt.pix.height), chosen->framesPerSecond};
    if (!isSupportedPixelFormat(format_.pixelFormat) || format_.width <= 0 || format_.height <= 0) {
        throw std::runtime_error("The camera offers no picture format Yux can read");
    }
    rowBytes_ = std::max<int>(static_cast<int>(format.fmt.pix.bytesperline), format_.width * 2);

    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parameters.parm.capture.timeperframe = {1, static_cast<std::uint32_t>(std::max(format_.framesPerSecond, 1))};
    // A camera without rate control keeps its own rate.
    if (int result = operations_.ioctl(fd_, VIDIOC_S_PARM, &parameters); result == -ENODEV || result == -EBUSY) {
        throwFor(result, "set the camera rate");
    }

    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (int result = operations_.ioctl(fd_, VIDIOC_REQBUFS, &request); result < 0) throwFor(result, "reserve camera buffers");
    if (request.count == 0) throw std::runtime_error("Cannot reserve camera buffers");
    for (std::uint32_t index = 0; index < request.count; ++index) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = index;
        if (int result = operations_.ioctl(fd_, VIDIOC_QUERYBUF, &buffer); result < 0) throwFor(result, "map camera buffers");
        void* address = operations_.mmap(fd_, buffer.length, buffer.m.offset);
        if (address == nullptr) throw std::runtime_error("Cannot map camera buffers");
        buffers_.push_back({address, buffer.length});
    }
}

void V4l2CameraStream::start(SerialQueue& deliverOn, std::function<void(SampleBuffer)> receive,
                             std::function<void()> ended) {
    if (worker_.joinable()) return;
    for (std::uint32_t index = 0; index < buffers_.size(); ++index) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = index;
        if (int result = operations_.ioctl(fd_, VIDIOC_QBUF, &buffer); result < 0) throwFor(result, "queue camera buffers");
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (int result = operations_.ioctl(fd_, VIDIOC_STREAMON, &type); result < 0) throwFor(result, "start the camera");
    streamOn_ = true;
    running_ = true;
    stopping_ = false;
    NewestSampleRelay relay(deliverOn, std::move(receive));
    worker_ = std::thread([this, relay, ended = std::move(ended)] {
        run([relay](SampleBuffer sample) { relay.push(std::move(sample)); }, ended);
    });
}

void V4l2CameraStream::run(std::function<void(SampleBuffer)> deliver, std::function<void()> ended) {
    const MediaTime frameDuration(1, std::max(format_.framesPerSecond, 1));
    int failuresInARow = 0;
    // A device that keeps failing is waited for a little between tries, never spun on, and
    // given up like a vanished one after about a second.
    auto failed = [&] {
        std::this_thread::sleep_for(kFailureBackOff);
        return ++failuresInARow >= kFailuresBeforeGivingUp;
    };
    while (!stopping_) {
        int ready = operations_.poll(fd_, kPollTimeoutMilliseconds);
        if (ready == -ENODEV) break;
        if (ready == 0) continue;
        if (ready < 0) {
            if (failed()) break;
            continue;
        }
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        int result = operations_.ioctl(fd_, VIDIOC_DQBUF, &buffer);
        if (result == -ENODEV) break;
        if (result == -EAGAIN) continue;
        if (result < 0 || buffer.index >= buffers_.size()) {
            if (failed()) break;
            continue;
        }
        failuresInARow = 0;
        const auto& mapping = buffers_[buffer.index];
        PixelBuffer picture;
        // Reported sizes beyond the mapping are never read; a flagged or short buffer is dropped.
        if (!(buffer.flags & V4L2_BUF_FLAG_ERROR) && buffer.bytesused > 0 && buffer.bytesused <= mapping.length) {
            picture = decoder_->decode(format_.pixelFormat, format_.width, format_.height, rowBytes_,
                                       static_cast<const std::uint8_t*>(mapping.address), buffer.bytesused);
        }
        MediaTime stamp = (buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC
                              ? MediaTime(static_cast<std::int64_t>(buffer.timestamp.tv_sec) * MediaTime::kNanosecondScale +
                                              static_cast<std::int64_t>(buffer.timestamp.tv_usec) * 1000,
                                          MediaTime::kNanosecondScale)
                              : hostTimeNow();
        if (int requeued = operations_.ioctl(fd_, VIDIOC_QBUF, &buffer); requeued == -ENODEV) break;
        if (!picture.isValid()) continue;
        SampleBuffer sample;
        sample.presentationTime = stamp;
        sample.duration = frameDuration;
        sample.payload = std::move(picture);
        deliver(std::move(sample));
    }
    bool vanished = !stopping_;
    running_ = false;
    if (vanished && ended) ended();
}

void V4l2CameraStream::stop() {
    stopping_ = true;
    if (worker_.joinable()) worker_.join();
    running_ = false;
    if (streamOn_ && fd_ >= 0) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        operations_.ioctl(fd_, VIDIOC_STREAMOFF, &type);
        streamOn_ = false;
    }
}

void V4l2CameraStream::release() {
    for (const auto& mapping : buffers_) operations_.munmap(mapping.address, mapping.length);
    buffers_.clear();
    if (fd_ >= 0) {
        v4l2_requestbuffers request{};
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        operations_.ioctl(fd_, VIDIOC_REQBUFS, &request);
        operations_.close(fd_);
        fd_ = -1;
    }
}

}  // namespace yux::platform
