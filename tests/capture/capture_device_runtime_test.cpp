#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <limits>
#include <thread>

#include "capture/camera_preview_layer.hpp"

#include <QImage>
#include <QPainter>
#include "capture/capture_device_runtime.hpp"
#include "platform/async/locked.hpp"
#include "platform/async/wait_for.hpp"
#include "support/app_error_expectations.hpp"

using namespace yux;
using yux::platform::waitForTask;
using yux::testing::expectAppError;

namespace {

const CaptureDevice kMic{"alsa_input.usb-mic", "USB Mic"};
const CaptureDevice kOtherMic{"alsa_input.pci-analog", "Built-in Audio"};
const CaptureDevice kCam{"usb-Cam_1-video-index0", "HD Camera"};
const CaptureDevice kPhone{"yux-usb:00008101", "iPhone · Yux Cam (USB)"};

struct Fixture {
    std::shared_ptr<StubbedPulseV4l2Capture> stub;
    std::shared_ptr<ScriptedUSBCameraReceiver> phone = std::make_shared<ScriptedUSBCameraReceiver>();
    std::shared_ptr<CaptureDeviceRuntime> runtime;

    explicit Fixture(StubbedPulseV4l2Capture::Options options = {{kMic, kOtherMic}, {kCam}}) {
        stub = StubbedPulseV4l2Capture::create(std::move(options));
        runtime = std::make_shared<CaptureDeviceRuntime>(stub->functions(), phone, std::make_shared<CameraFrameFeed>());
    }
    void start(CaptureInputKind kind, const std::string& id) { waitForTask(runtime->start(kind, id)); }
    bool request(CaptureInputKind kind, std::optional<std::string> id) {
        return waitForTask(runtime->requestAccess(kind, std::move(id)));
    }
};

platform::SampleBuffer frame(int index) {
    platform::SampleBuffer sample;
    sample.presentationTime = platform::MediaTime(index, 30);
    sample.duration = platform::MediaTime(1, 30);
    sample.payload = platform::PixelBuffer::create(4, 4);
    return sample;
}

}  // namespace

TEST(CaptureDeviceRuntime, ListsLocalDevicesBeforePhonesOfTheKind) {
    Fixture f;
    f.phone->phones = {{kPhone, /*hasMicrophone=*/false}};
    EXPECT_EQ(f.runtime->devices(CaptureInputKind::camera), (std::vector{kCam, kPhone}));
    EXPECT_EQ(f.runtime->devices(CaptureInputKind::microphone), (std::vector{kMic, kOtherMic}));
}

TEST(CaptureDeviceRuntime, AccessOfPhonesIsGrantedUnaskedAndDeniedAccessNeverPrompts) {
    Fixture f({{kMic}, {kCam}, /*microphoneAccess=*/false, /*cameraAccess=*/false});
    f.phone->phones = {{kPhone, true, /*microphoneAllowed=*/false}};

    EXPECT_TRUE(f.request(CaptureInputKind::microphone, kPhone.id));
    EXPECT_TRUE(f.request(CaptureInputKind::camera, kPhone.id));
    EXPECT_FALSE(f.runtime->hasAccess(CaptureInputKind::microphone, kPhone.id)) << "the phone does not allow it";
    EXPECT_TRUE(f.runtime->hasAccess(CaptureInputKind::camera, kPhone.id));

    EXPECT_FALSE(f.request(CaptureInputKind::camera, kCam.id));
    f.stub->cameraStatus = CaptureAuthorization::restricted;
    EXPECT_FALSE(f.request(CaptureInputKind::camera, kCam.id));
    EXPECT_EQ(f.stub->prompts, 0);

    f.stub->microphoneStatus = CaptureAuthorization::notDetermined;
    f.stub->promptAnswer = true;
    EXPECT_TRUE(f.request(CaptureInputKind::microphone, kMic.id));
    EXPECT_EQ(f.stub->prompts, 1);
}

TEST(CaptureDeviceRuntime, AccessWithoutIdentifierFollowsTheActivePhoneRoute) {
    Fixture f({{kMic}, {kCam}, /*microphoneAccess=*/true, /*cameraAccess=*/false});
    f.phone->phones = {{kPhone}};
    EXPECT_FALSE(f.runtime->hasAccess(CaptureInputKind::camera, std::nullopt));
    f.start(CaptureInputKind::camera, kPhone.id);
    EXPECT_TRUE(f.runtime->hasAccess(CaptureInputKind::camera, std::nullopt));
    EXPECT_TRUE(f.runtime->isPhoneCamera());
    EXPECT_DOUBLE_EQ(f.runtime->sourceAspect(), 9.0 / 16.0);

    f.start(CaptureInputKind::microphone, kPhone.id);
    EXPECT_TRUE(f.runtime->hasAccess(CaptureInputKind::microphone, std::nullopt));
    f.phone->streamLevel.reset();  // the stream ended: it is its running state that counts, not a permission
    EXPECT_FALSE(f.runtime->hasAccess(CaptureInputKind::microphone, std::nullopt));
}

TEST(CaptureDeviceRuntime, StartsLocalDevicesIntoTheirSessions) {
    Fixture f;
    f.stub->aspect = 4.0 / 3.0;
    f.start(CaptureInputKind::camera, kCam.id);
    EXPECT_TRUE(f.runtime->isRunning(CaptureInputKind::camera));
    EXPECT_FALSE(f.runtime->isPhoneCamera());
    EXPECT_NE(f.runtime->previewLayer(), nullptr);
    EXPECT_DOUBLE_EQ(f.runtime->sourceAspect(), 4.0 / 3.0);
    EXPECT_EQ(f.stub->sessionInputs(CaptureInputKind::camera).size(), 1u);
    EXPECT_EQ(f.stub->sessionOutputs(CaptureInputKind::camera).size(), 1u);

    // A second start replaces the device rather than adding to the session.
    f.start(CaptureInputKind::camera, kCam.id);
    EXPECT_EQ(f.stub->sessionInputs(CaptureInputKind::camera).size(), 1u);

    waitForTask(f.runtime->stop(CaptureInputKind::camera));
    EXPECT_FALSE(f.runtime->isRunning(CaptureInputKind::camera));
    EXPECT_EQ(f.runtime->previewLayer(), nullptr);
    EXPECT_TRUE(f.stub->sessionInputs(CaptureInputKind::camera).empty());
    EXPECT_DOUBLE_EQ(f.runtime->sourceAspect(), 4.0 / 3.0) << "the last aspect stays";
    EXPECT_EQ(f.phone->calls.back(), "stop") << "the phone receiver is told to stop either way";
}

TEST(CaptureDeviceRuntime, AFailedStartLeavesTheKindStopped) {
    Fixture f;
    f.start(CaptureInputKind::microphone, kMic.id);

    // Listed a moment ago, gone now.
    f.stub->options.microphones = {kOtherMic};
    expectAppError([&] { f.start(CaptureInputKind::microphone, kMic.id); },
                   AppError::microphoneFailed("Disconnected · choose another"));
    EXPECT_FALSE(f.runtime->isRunning(CaptureInputKind::microphone));
    EXPECT_TRUE(f.stub->sessionInputs(CaptureInputKind::microphone).empty());

    f.stub->options.startFailure = "Camera is in use by another application";
    expectAppError([&] { f.start(CaptureInputKind::camera, kCam.id); },
                   AppError::cameraFailed("Camera is in use by another application"));
    EXPECT_FALSE(f.runtime->isRunning(CaptureInputKind::camera));
    EXPECT_EQ(f.runtime->previewLayer(), nullptr);

    f.phone->phones = {{kPhone}};
    f.phone->cameraFailure = AppError::cameraFailed("iPhone camera did not supply frames");
    expectAppError([&] { f.start(CaptureInputKind::camera, kPhone.id); },
                   AppError::cameraFailed("iPhone camera did not supply frames"));
    EXPECT_FALSE(f.runtime->isPhoneCamera());
    EXPECT_FALSE(f.runtime->isRunning(CaptureInputKind::camera));
}

TEST(CaptureDeviceRuntime, MicrophoneLevelArithmetic) {
    Fixture f({{kMic}, {}, true, true, /*microphoneDecibels=*/-20});
    EXPECT_DOUBLE_EQ(f.runtime->microphoneLevel(), 1e-8) << "no metering output: the -160 dB floor";

    f.start(CaptureInputKind::microphone, kMic.id);
    EXPECT_NEAR(f.runtime->microphoneLevel(), 0.1, 1e-9);
    f.stub->options.microphoneDecibels = 0;
    EXPECT_DOUBLE_EQ(f.runtime->microphoneLevel(), 1.0);
    f.stub->options.microphoneDecibels = 6;
    EXPECT_DOUBLE_EQ(f.runtime->microphoneLevel(), 1.0);
    f.stub->options.microphoneDecibels = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(f.runtime->microphoneLevel(), 0.0);

    f.phone->phones = {{kPhone}};
    f.start(CaptureInputKind::microphone, kPhone.id);
    EXPECT_DOUBLE_EQ(f.runtime->microphoneLevel(), 0.25);
    f.phone->streamLevel.reset();
    EXPECT_EQ(f.runtime->microphoneLevel(), 0.0) << "a phone microphone without a stream reads 0, not the floor";
}

TEST(CaptureDeviceRuntime, PhoneCameraPreviewShowsEveryNewPicture) {
    Fixture f;
    f.phone->phones = {{kPhone}};
    f.start(CaptureInputKind::camera, kPhone.id);
    auto layer = f.runtime->makeCameraPreviewLayer();
    EXPECT_FALSE(layer->picture().has_value());
    f.phone->simulate_picture(frame(1));
    ASSERT_TRUE(layer->picture().has_value());
    EXPECT_TRUE(f.runtime->previewLayer()->picture().has_value());
    EXPECT_TRUE(f.runtime->makeCameraPreviewLayer()->picture().has_value()) << "a new layer starts with the latest";
}

TEST(CaptureDeviceRuntime, CameraFramesKeepFlowingAcrossRestartsAndOnlyTheNewestWaits) {
    Fixture f;
    f.phone->phones = {{kPhone}};
    platform::SerialQueue recording("test.recording");
    std::promise<void> releaseFirst;
    auto release = releaseFirst.get_future().share();
    platform::Locked<std::vector<std::int64_t>> received;
    f.runtime->recordCameraFrames(recording, [&](platform::SampleBuffer sample) {
        received.with([&](auto& all) { all.push_back(sample.presentationTime.value); });
        if (sample.presentationTime.value == 1) release.wait();
    });

    f.start(CaptureInputKind::camera, kCam.id);
    f.start(CaptureInputKind::camera, kPhone.id);  // switch to a phone: no new recordCameraFrames
    f.phone->simulate_picture(frame(1));
    // Frame 1 reaches the recording, which then stalls on it; a minute is only for a hang.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (received.copy().empty() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(received.copy(), std::vector<std::int64_t>{1});
    for (int index = 2; index <= 6; ++index) f.phone->simulate_picture(frame(index));
    f.runtime->frames().queue().sync([] {});
    releaseFirst.set_value();
    recording.sync([] {});
    EXPECT_EQ(received.copy(), (std::vector<std::int64_t>{1, 6}));

    f.runtime->stopRecordingCameraFrames();
    f.phone->simulate_picture(frame(7));
    f.runtime->frames().queue().sync([] {});
    recording.sync([] {});
    EXPECT_EQ(received.copy().size(), 2u);
}

TEST(CaptureDeviceRuntime, PhoneMicrophoneSamplesRunOnTheRecordingQueue) {
    Fixture f;
    f.phone->phones = {{kPhone}};
    platform::SerialQueue recording("test.recording");
    expectAppError([&] { f.runtime->recordUSBMicrophone(recording, [](MicrophoneResult) {}); },
                   AppError::microphoneFailed("USB microphone is unavailable"));

    f.start(CaptureInputKind::microphone, kPhone.id);
    std::atomic<bool> onQueue{false};
    f.runtime->recordUSBMicrophone(recording, [&](MicrophoneResult) { onQueue = recording.isCurrent(); });
    f.phone->simulate_microphone(frame(1));
    EXPECT_TRUE(onQueue);
}

TEST(CameraPreviewLayer, DrawsTheNewestPictureStretchedOverTheTarget) {
    CameraPreviewLayer layer;
    int changes = 0;
    layer.onChange = [&] { ++changes; };
    QImage target(40, 20, QImage::Format_ARGB32);
    target.fill(Qt::transparent);
    {
        QPainter painter(&target);
        layer.paint(painter, QRectF(0, 0, 40, 20));  // nothing yet
    }
    EXPECT_EQ(target.pixel(20, 10), 0u);

    auto picture = platform::PixelBuffer::create(4, 4);
    picture.fill(0, 0, 255, 255);  // red
    layer.setPicture(picture);
    {
        QPainter painter(&target);
        layer.paint(painter, QRectF(0, 0, 40, 20));
    }
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(target.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(39, 19), qRgb(255, 0, 0));
}
