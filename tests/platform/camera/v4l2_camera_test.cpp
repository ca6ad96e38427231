#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <cerrno>
#include <ctime>
#include <future>
#include <thread>

#include "platform/async/locked.hpp"
#include "platform/camera/v4l2_camera.hpp"
#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/host_clock.hpp"
#include "support/camera_test_frames.hpp"
#include "support/media_time_printer.hpp"

using namespace yux::platform;
using namespace std::chrono_literals;
using yux::testing::jpegFrame;
using yux::testing::yuyvFrame;

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

ScriptedV4l2Device camera(std::uint32_t format, std::vector<std::vector<std::uint8_t>> frames = {}) {
    ScriptedV4l2Device device;
    device.sizes = {{format, kWidth, kHeight, {30, 15}}};
    device.frames = std::move(frames);
    return device;
}

struct Received {
    Locked<std::vector<SampleBuffer>> samples;
    std::vector<SampleBuffer> waitFor(std::size_t count) {
        for (int i = 0; i < 400 && samples.copy().size() < count; ++i) std::this_thread::sleep_for(5ms);
        return samples.copy();
    }
};

std::array<int, 3> centre(const SampleBuffer& sample) {
    const auto* picture = sample.picture();
    const std::uint8_t* p = picture->row(picture->height() / 2) + picture->width() / 2 * 4;
    return {p[0], p[1], p[2]};
}

void expectStreamError(const std::function<void()>& action, const std::string& text) {
    try {
        action();
        ADD_FAILURE() << "expected: " << text;
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), text);
    }
}

}  // namespace

TEST(V4l2CameraDirectory, ListsCaptureNodesWithAReadableFormatAndNotesRefusedAccess) {
    auto scripted = std::make_shared<ScriptedV4l2>();
    auto webcam = camera(V4L2_PIX_FMT_MJPEG);
    auto metadata = webcam;
    metadata.node = "/dev/video1";
    metadata.link = "usb-Scripted_Camera_0001-video-index1";
    metadata.deviceCaps = 0x00800000 | 0x04000000;  // metadata capture, streaming
    auto unlinked = camera(V4L2_PIX_FMT_YUYV);
    unlinked.node = "/dev/video2";
    unlinked.link = "";
    unlinked.card = "Capture Card";
    unlinked.busInfo = "pci-0000:03:00.0";
    auto otherFormat = camera(V4L2_PIX_FMT_H264);
    otherFormat.node = "/dev/video3";
    scripted->devices = {webcam, metadata, unlinked, otherFormat};

    auto directory = V4l2CameraDirectory::start(createNullV4l2Operations(scripted));
    EXPECT_EQ(directory->cameras(),
              (std::vector<V4l2Camera>{{"usb-Scripted_Camera_0001-video-index0", "Scripted Camera", "/dev/video0"},
                                       {"pci-0000:03:00.0", "Capture Card", "/dev/video2"}}));
    EXPECT_FALSE(directory->accessDenied());
    EXPECT_EQ(scripted->openDescriptors, 0) << "the probe closes what it opened";

    auto locked = camera(V4L2_PIX_FMT_MJPEG);
    locked.node = "/dev/video4";
    locked.failCall = "open";
    locked.failErrno = EACCES;
    scripted->devices.push_back(locked);
    directory->rescan();
    EXPECT_TRUE(directory->accessDenied());
    EXPECT_EQ(directory->cameras().size(), 2u);
}

TEST(V4l2CameraFormat, PrefersTheLargestMjpegUpTo1080pThatReaches24FramesAtMost30) {
    using Size = ScriptedV4l2Device::FrameSize;
    auto choose = [](std::vector<Size> offered) { return chooseCameraFormat(offered); };
    EXPECT_EQ(choose({{V4L2_PIX_FMT_YUYV, 1920, 1080, {5}}, {V4L2_PIX_FMT_MJPEG, 1920, 1080, {60, 30}},
                      {V4L2_PIX_FMT_MJPEG, 1280, 720, {30}}}),
              (V4l2CameraStream::Format{V4L2_PIX_FMT_MJPEG, 1920, 1080, 30}));
    EXPECT_EQ(choose({{V4L2_PIX_FMT_MJPEG, 3840, 2160, {30}}, {V4L2_PIX_FMT_MJPEG, 1280, 720, {30, 24}}}),
              (V4l2CameraStream::Format{V4L2_PIX_FMT_MJPEG, 1280, 720, 30}));
    EXPECT_EQ(choose({{V4L2_PIX_FMT_YUYV, 1920, 1080, {5}}, {V4L2_PIX_FMT_YUYV, 640, 480, {30}}}),
              (V4l2CameraStream::Format{V4L2_PIX_FMT_YUYV, 640, 480, 30}));
    // Nothing fast enough: the largest, at the nearest rate not above 30.
    EXPECT_EQ(choose({{V4L2_PIX_FMT_YUYV, 1280, 720, {10, 5}}, {V4L2_PIX_FMT_YUYV, 640, 480, {15}}}),
              (V4l2CameraStream::Format{V4L2_PIX_FMT_YUYV, 1280, 720, 10}));
    EXPECT_FALSE(choose({}));
}

TEST(V4l2CameraStream, SolidYuyvAndMjpegFramesDecodeToThatColour) {
    const std::array<int, 3> bgr{40, 160, 220};
    for (auto format : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG}) {
        auto payload = format == V4L2_PIX_FMT_YUYV ? yuyvFrame(kWidth, kHeight, bgr) : jpegFrame(kWidth, kHeight, bgr);
        auto scripted = std::make_shared<ScriptedV4l2>();
        scripted->devices = {camera(format, {payload})};
        auto stream = V4l2CameraStream::open(createNullV4l2Operations(scripted), "/dev/video0");
        EXPECT_EQ(scripted->setFramesPerSecond, 30);
        SerialQueue queue("test.frames");
        Received received;
        stream->start(queue, [&](SampleBuffer s) { received.samples.with([&](auto& all) { all.push_back(s); }); });
        auto samples = received.waitFor(1);
        ASSERT_EQ(samples.size(), 1u);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(centre(samples[0])[c], bgr[c], 3) << "format " << format << " channel " << c;
        EXPECT_EQ(samples[0].presentationTime, MediaTime(1000LL * MediaTime::kNanosecondScale, MediaTime::kNanosecondScale))
            << "stamped with the buffer's monotonic time";
        EXPECT_EQ(samples[0].duration, MediaTime(1, 30));
        stream->stop();
    }
}

TEST(V4l2CameraStream, DropsShortOverlongAndBrokenBuffersWithoutReadingPastThem) {
    auto good = yuyvFrame(kWidth, kHeight, {10, 20, 30});
    auto shortFrame = std::vector<std::uint8_t>(good.begin(), good.begin() + good.size() / 2);
    auto overlong = good;
    overlong.resize(good.size() * 3, 0x80);
    auto scripted = std::make_shared<ScriptedV4l2>();
    scripted->devices = {camera(V4L2_PIX_FMT_YUYV, {shortFrame, overlong, good})};
    scripted->devices[0].monotonicTimestamps = false;
    auto stream = V4l2CameraStream::open(createNullV4l2Operations(scripted), "/dev/video0");
    SerialQueue queue("test.frames");
    Received received;
    auto before = hostTimeNow();
    stream->start(queue, [&](SampleBuffer s) { received.samples.with([&](auto& all) { all.push_back(s); }); });
    auto samples = received.waitFor(1);
    std::this_thread::sleep_for(30ms);
    stream->stop();
    ASSERT_EQ(received.samples.copy().size(), 1u);
    EXPECT_GE(samples[0].presentationTime, before) << "without a monotonic stamp: the host clock at arrival";

    auto jpeg = std::make_shared<ScriptedV4l2>();
    jpeg->devices = {camera(V4L2_PIX_FMT_MJPEG, {std::vector<std::uint8_t>(500, 0x42), jpegFrame(kWidth, kHeight, {1, 2, 3})})};
    auto mjpeg = V4l2CameraStream::open(createNullV4l2Operations(jpeg), "/dev/video0");
    Received decoded;
    mjpeg->start(queue, [&](SampleBuffer s) { decoded.samples.with([&](auto& all) { all.push_back(s); }); });
    EXPECT_EQ(decoded.waitFor(1).size(), 1u);
    mjpeg->stop();
    EXPECT_EQ(decoded.samples.copy().size(), 1u);
}

TEST(V4l2CameraStream, ABusyConsumerGetsTheNewestFrame) {
    std::vector<std::vector<std::uint8_t>> frames;
    for (int i = 0; i < 6; ++i) frames.push_back(yuyvFrame(kWidth, kHeight, {i * 40, 0, 0}));
    auto scripted = std::make_shared<ScriptedV4l2>();
    scripted->devices = {camera(V4L2_PIX_FMT_YUYV, frames)};
    auto stream = V4l2CameraStream::open(createNullV4l2Operations(scripted), "/dev/video0");
    SerialQueue queue("test.frames");
    std::promise<void> release;
    auto released = release.get_future().share();
    Received received;
    stream->start(queue, [&](SampleBuffer s) {
        received.samples.with([&](auto& all) { all.push_back(s); });
        released.wait();
    });
    received.waitFor(1);
    // Meanwhile the worker dequeues the other five.
    std::this_thread::sleep_for(100ms);
    release.set_value();
    queue.sync([] {});
    stream->stop();
    auto samples = received.samples.copy();
    // The first picture the consumer took (which may already be a later one), then the newest.
    ASSERT_GE(samples.size(), 1u);
    ASSERT_LE(samples.size(), 2u);
    EXPECT_NEAR(centre(samples.back())[0], 200, 3) << "the last of six, not the next in line";
}

TEST(V4l2CameraStream, ADeviceThatVanishesEndsTheStream) {
    auto scripted = std::make_shared<ScriptedV4l2>();
    scripted->devices = {camera(V4L2_PIX_FMT_YUYV, {yuyvFrame(kWidth, kHeight, {1, 1, 1}), yuyvFrame(kWidth, kHeight, {2, 2, 2})})};
    scripted->devices[0].failCall = "VIDIOC_DQBUF";
    scripted->devices[0].failErrno = ENODEV;
    scripted->devices[0].failAfter = 1;
    auto stream = V4l2CameraStream::open(createNullV4l2Operations(scripted), "/dev/video0");
    SerialQueue queue("test.frames");
    std::promise<void> ended;
    Received received;
    stream->start(queue, [&](SampleBuffer s) { received.samples.with([&](auto& all) { all.push_back(s); }); },
                  [&] { ended.set_value(); });
    ASSERT_EQ(ended.get_future().wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(stream->isRunning());
    queue.sync([] {});
    EXPECT_EQ(received.samples.copy().size(), 1u);
}

TEST(V4l2CameraStream, ACameraThatKeepsFailingIsGivenUpWithoutSpinning) {
    auto scripted = std::make_shared<ScriptedV4l2>();
    scripted->devices = {camera(V4L2_PIX_FMT_YUYV, {yuyvFrame(kWidth, kHeight, {1, 1, 1})})};
    scripted->devices[0].failCall = "VIDIOC_DQBUF";
    scripted->devices[0].failErrno = EIO;
    auto stream = V4l2CameraStream::open(createNullV4l2Operations(scripted), "/dev/video0");
    SerialQueue queue("test.frames");
    std::promise<void> ended;
    const auto started = std::chrono::steady_clock::now();
    stream->start(queue, [](SampleBuffer) {}, [&] { ended.set_value(); });
    // About a second of tries; the limit only ends a stream that is never given up.
    ASSERT_EQ(ended.get_future().wait_for(60s), std::future_status::ready);
    EXPECT_FALSE(stream->isRunning());
    {
        std::lock_guard lock(scripted->mutex);
        EXPECT_EQ(scripted->devices[0].failures, 100) << "tries before giving up";
    }
    EXPECT_GE(std::chrono::steady_clock::now() - started, 1s) << "waited 10 ms between tries, not spun";
}

TEST(V4l2CameraStream, OpeningFailuresSayWhy) {
    struct Case {
        std::string call;
        int error;
        std::string text;
    };
    for (const auto& c : std::vector<Case>{{"open", EBUSY, "Camera is in use by another application"},
                                           {"VIDIOC_S_FMT", EBUSY, "Camera is in use by another application"},
                                           {"VIDIOC_REQBUFS", EBUSY, "Camera is in use by another application"},
                                           {"open", ENODEV, "Disconnected · choose another"},
                                           {"open", EACCES, "Camera access is denied"},
                                           {"mmap", ENOMEM, "Cannot map camera buffers"}}) {
        auto scripted = std::make_shared<ScriptedV4l2>();
        scripted->devices = {camera(V4L2_PIX_FMT_YUYV)};
        scripted->devices[0].failCall = c.call;
        scripted->devices[0].failErrno = c.error;
        expectStreamError([&] { V4l2CameraStream::open(createNullV4l2Operations(scripted), "/dev/video0"); }, c.text);
        EXPECT_EQ(scripted->openDescriptors, 0) << c.call << ": nothing stays open";
    }
    auto scripted = std::make_shared<ScriptedV4l2>();
    scripted->devices = {camera(V4L2_PIX_FMT_YUYV)};
    scripted->devices[0].failCall = "VIDIOC_STREAMON";
    scripted->devices[0].failErrno = ENODEV;
    auto stream = V4l2CameraStream::open(createNullV4l2Operations(scripted), "/dev/video0");
    SerialQueue queue("test.frames");
    expectStreamError([&] { stream->start(queue, [](SampleBuffer) {}); }, "Disconnected · choose another");
}

TEST(V4l2CameraStream, StopsPromptlyWhenNoFrameComes) {
    auto scripted = std::make_shared<ScriptedV4l2>();
    scripted->devices = {camera(V4L2_PIX_FMT_YUYV)};
    auto stream = V4l2CameraStream::open(createNullV4l2Operations(scripted), "/dev/video0");
    SerialQueue queue("test.frames");
    stream->start(queue, [](SampleBuffer) {});
    auto before = std::chrono::steady_clock::now();
    stream->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_EQ(scripted->streaming, 0);
    stream.reset();
    EXPECT_EQ(scripted->openDescriptors, 0);
}
