#include <gtest/gtest.h>

#include <dirent.h>

#include <QBuffer>
#include <QImage>
#include <QScopeGuard>

#include "capture/capture_device_functions.hpp"
#include "capture/capture_device_runtime.hpp"
#include "capture/phonelink/phone_link_test_kit.hpp"
#include "platform/async/wait_for.hpp"

using namespace yux;
using namespace yux::testing;
using namespace std::chrono_literals;

namespace {

const std::string kPhone = "yux-usb:E2E-PHONE";

int openDescriptors() {
    int count = 0;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        while (::readdir(folder) != nullptr) ++count;
        ::closedir(folder);
    }
    return count;
}

// Pictures told apart by their colour, so each received one is matched to its sending: red in
// 8 steps from 128, green in 8 from 20, blue in 4 from 0. Blue stays below red, so swapped
// channels match no picture.
constexpr int kPictures = 256;

std::array<int, 3> paletteRgb(int index) {
    return {128 + (index % 8) * 18, 20 + (index / 8 % 8) * 30, (index / 64) * 40};
}

std::vector<std::uint8_t> jpegOf(QColor colour, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    return {bytes.begin(), bytes.end()};
}

// The palette index of a BGRA pixel; none when it is no picture's colour.
std::optional<int> paletteIndex(const std::uint8_t* bgra) {
    for (int index = 0; index < kPictures; ++index) {
        const auto rgb = paletteRgb(index);
        if (std::abs(bgra[2] - rgb[0]) <= 6 && std::abs(bgra[1] - rgb[1]) <= 6 && std::abs(bgra[0] - rgb[2]) <= 6) {
            return index;
        }
    }
    return std::nullopt;
}

struct Received {
    std::mutex mutex;
    std::vector<std::pair<platform::SampleBuffer, double>> frames;
    std::vector<MicrophoneResult> sound;
};


}  // namespace

// The device runtime with its local devices stubbed and its real phone receiver on the fakes.
TEST(PhoneLinkEndToEnd, APhoneBecomesCameraAndMicrophoneOnTheHostClockAndLeavesNothingBehind) {
    PhoneLinkRig rig;
    FakeCompanionApp::Options options;
    options.status = MicrophoneStatus{1, "Studio Phone", true, std::nullopt};
    for (int index = 0; index < kPictures; ++index) {
        const auto rgb = paletteRgb(index);
        options.pictures.push_back(jpegOf(QColor(rgb[0], rgb[1], rgb[2]), QSize(640, 360)));
    }
    options.frameInterval = 20ms;
    options.clockOffset = 4321.5;
    const int descriptorsBefore = openDescriptors();

    auto stub = StubbedPulseV4l2Capture::create({});
    auto runtime = std::make_shared<CaptureDeviceRuntime>(stub->functions(), rig.receiver,
                                                          std::make_shared<CameraFrameFeed>(), stub);
    rig.attach(4, "E2E-PHONE", options);
    runtime->startDiscovery();
    const CaptureDevice listed{kPhone, "Studio Phone · Yux Cam (USB)"};
    ASSERT_TRUE(spinUntil([&] {
        const auto cameras = runtime->devices(CaptureInputKind::camera);
        const auto microphones = runtime->devices(CaptureInputKind::microphone);
        return std::find(cameras.begin(), cameras.end(), listed) != cameras.end() &&
               std::find(microphones.begin(), microphones.end(), listed) != microphones.end();
    }));

    platform::SerialQueue recording("test-recording");
    Received received;
    // However the test ends, even at a failed assertion, nothing is handed on once these are gone.
    const auto stopRecording = qScopeGuard([&] {
        runtime->stopRecordingCameraFrames();
        runtime->stopRecordingUSBMicrophone();
        recording.sync([] {});
    });
    runtime->recordCameraFrames(recording, [&](platform::SampleBuffer sample) {
        std::lock_guard lock(received.mutex);
        received.frames.emplace_back(std::move(sample), platform::hostTimeNow().seconds());
    });
    auto camera = runtime->start(CaptureInputKind::camera, kPhone);
    platform::waitForTask(camera);
    auto microphone = runtime->start(CaptureInputKind::microphone, kPhone);
    platform::waitForTask(microphone);
    runtime->recordUSBMicrophone(recording, [&](MicrophoneResult result) {
        std::lock_guard lock(received.mutex);
        received.sound.push_back(std::move(result));
    });
    ASSERT_TRUE(spinUntil([&] {
        std::lock_guard lock(received.mutex);
        return received.frames.size() >= 10 && received.sound.size() >= 25;
    }));

    auto app = rig.app(4);
    {
        std::lock_guard lock(received.mutex);
        const std::vector<double> sent = app->pictureSendTimes();
        for (const auto& [sample, arrival] : received.frames) {
            const auto* picture = sample.picture();
            ASSERT_NE(picture, nullptr);
            EXPECT_EQ(picture->width(), 640);
            EXPECT_EQ(picture->height(), 360);
            const auto index = paletteIndex(picture->row(180) + 4 * 320);
            ASSERT_TRUE(index.has_value()) << "a picture of no colour sent";
            // Its sending: the latest of that picture before it arrived (the palette comes round
            // again only after seconds).
            std::optional<double> sending;
            for (std::size_t n = static_cast<std::size_t>(*index); n < sent.size(); n += kPictures) {
                if (sent[n] <= arrival) sending = sent[n];
            }
            ASSERT_TRUE(sending.has_value()) << "picture " << *index << " arrived at " << arrival << ", " << sent.size()
                                             << " sent from " << (sent.empty() ? 0 : sent.front()) << ", "
                                             << rig.connections(4) << " connections";
            // Stamped on the host clock when the read that brought it returned: after the phone
            // sent it, before the recording had it, however long the way took.
            const double stamp = sample.presentationTime.seconds();
            EXPECT_GE(stamp, *sending) << "stamped before the phone sent it";
            EXPECT_LE(stamp, arrival) << "stamped after the recording had it";
        }
        const auto phoneStart = app->streamStartPhoneTime();
        ASSERT_TRUE(phoneStart.has_value());
        const double hostStart = *phoneStart - options.clockOffset;
        // The offset came from the midpoint of an echo: right to half that echo's round trip,
        // which the stream logs as it starts (in ms, to the microsecond).
        std::optional<double> roundTrip;
        for (const auto& line : rig.lines.data()) {
            if (line.message.starts_with("yux_usb_microphone_started rtt_ms=")) {
                roundTrip = std::stod(line.message.substr(line.message.find('=') + 1)) / 1000;
            }
        }
        ASSERT_TRUE(roundTrip.has_value());
        const double offsetDoubt = *roundTrip / 2 + 1e-6;
        std::optional<double> next;
        for (const auto& result : received.sound) {
            const auto& sample = std::get<platform::SampleBuffer>(result);
            ASSERT_EQ(sample.audio()->format, platform::AudioSampleFormat::int16);
            if (!next) {
                // Subscribed once the first packet had arrived: this is a later one of the same grid.
                const double since = sample.presentationTime.seconds() - hostStart;
                const double packets = std::round(since / 0.02);
                EXPECT_LE(packets, 10);
                EXPECT_NEAR(since, packets * 0.02, offsetDoubt) << "off the phone's grid beyond the offset's doubt";
            } else {
                EXPECT_NEAR(sample.presentationTime.seconds(), *next, 1e-6) << "gapless";
            }
            next = sample.presentationTime.seconds() + sample.duration.seconds();
        }
    }

    // Unplugged: the camera stops and the microphone's subscriber is told why.
    rig.daemon.detach(4);
    app->hangUp();
    ASSERT_TRUE(spinUntil([&] { return runtime->devices(CaptureInputKind::camera).empty(); }));
    EXPECT_TRUE(rig.loggedDrop("iPhone disconnected"));
    EXPECT_FALSE(rig.receiver->running());
    EXPECT_FALSE(rig.receiver->activeMicrophone().has_value());
    ASSERT_TRUE(spinUntil([&] {
        std::lock_guard lock(received.mutex);
        return std::holds_alternative<std::exception_ptr>(received.sound.back());
    }));
    {
        std::lock_guard lock(received.mutex);
        EXPECT_EQ(errorText(std::get<std::exception_ptr>(received.sound.back())),
                  "iPhone or iPad disconnected: iPhone disconnected");
    }

    runtime->stopRecordingCameraFrames();
    runtime->stopDiscovery();
    // The stopped discovery loop ends, and frees what it holds, on the main loop's next turn.
    EXPECT_TRUE(spinUntil([&] { return rig.receiver->liveThreads() == 0 && !rig.receiver->discovering(); }));
    app.reset();
    EXPECT_TRUE(spinUntil([&] { return openDescriptors() <= descriptorsBefore; }))
        << openDescriptors() << " open, " << descriptorsBefore << " before";
}
