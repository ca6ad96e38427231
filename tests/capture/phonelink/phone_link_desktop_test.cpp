// A recording of the test desktop with a fake phone on the USB multiplexer as camera and
// microphone, through the live engine, read back from the scratch movie.
#include "capture/x11_video_capture.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "capture/capture_inputs_controller.hpp"
#include "capture/live_pulse_v4l2_capture.hpp"
#include "capture/phonelink/phone_link_test_kit.hpp"
#include "model/camera_overlay_geometry.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/audio/pulse_source_directory.hpp"
#include "platform/camera/v4l2_camera.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "support/memory_preferences.hpp"
#include "support/recording_debug_log.hpp"
#include "support/x11_test_client.hpp"

using namespace yux;
using namespace std::chrono_literals;
using platform::waitForTask;

namespace {

const std::string kPhone = "yux-usb:DESK-PHONE";

float peak(const platform::DecodedAudio& decoded) {
    const auto* samples = reinterpret_cast<const float*>(decoded.audio.bytes->data());
    float loudest = 0;
    for (std::size_t i = 0; i < decoded.audio.bytes->size() / sizeof(float); ++i) {
        loudest = std::max(loudest, std::fabs(samples[i]));
    }
    return loudest;
}

}  // namespace

TEST(PhoneLinkOnTheDesktop, ThreeSecondsWithThePhoneAsCameraAndMicrophone) {
    yux::testing::PhoneLinkRig phones;
    yux::testing::FakeCompanionApp::Options options;
    options.status = MicrophoneStatus{1, "Desk Phone", true, std::nullopt};
    options.pictureSize = QSize(640, 360);
    options.colour = QColor(240, 200, 40);
    phones.attach(8, "DESK-PHONE", options);

    yux::testing::TemporaryDirectory folder;
    const std::string path = folder.file("Scratch/take.mov");
    auto frames = std::make_shared<CameraFrameFeed>();
    auto noCameras = std::make_shared<platform::ScriptedV4l2>();
    auto live = LivePulseV4l2Capture::create(platform::PulseSourceDirectory::create(),
                                             platform::V4l2CameraDirectory::start(platform::createNullV4l2Operations(noCameras)),
                                             frames);
    auto runtime = std::make_shared<CaptureDeviceRuntime>(live->functions(), phones.receiver, frames, live);
    yux::testing::MemoryPreferences memory;
    CaptureInputsController controller(memory.store(), runtime, platform::SystemSettingsOpener::create_null(true),
                                       platform::SystemLog::create_null());
    waitForTask(controller.start());
    runtime->startDiscovery();
    ASSERT_TRUE(yux::testing::spinUntil([&] {
        return !phones.receiver->devices().empty() && phones.receiver->microphoneAllowed(kPhone);
    }));
    controller.refreshDevices();
    waitForTask(controller.select(CaptureInputKind::camera, kPhone));
    waitForTask(controller.select(CaptureInputKind::microphone, kPhone));
    ASSERT_TRUE(controller.enabled(CaptureInputKind::camera));
    ASSERT_TRUE(controller.enabled(CaptureInputKind::microphone));
    controller.setCameraWindowID(1);

    auto debugLog = std::make_shared<yux::testing::RecordingDebugLog>();
    auto engine = X11VideoCapture::create(std::make_shared<X11ScreenRecordingPermission>(X11ScreenRecordingPermission::create()),
                                          debugLog, runtime, &controller);
    const QUuid session = QUuid::createUuid();
    controller.beginRecording();
    waitForTask(engine->startCapture(session, CaptureTarget::fullMainDisplay(), path));
    yux::testing::processEventsFor(3000);
    waitForTask(engine->stopCapture(session));
    controller.endRecording();

    platform::MovieTrackReader reader(path);
    std::vector<std::string> titles;
    for (const auto& track : reader.tracks()) titles.push_back(track.title);
    ASSERT_EQ(titles, (std::vector<std::string>{"yux.source.screen", "yux.source.camera", "yux.source.systemAudio",
                                                "yux.source.microphone"}));
    // The phone's colour fills the bubble.
    auto cameraFrames = reader.videoFrames(*reader.trackTitled("yux.source.camera"), 1);
    ASSERT_EQ(cameraFrames.size(), 1u);
    const Rect bubble = CameraOverlayGeometry{}.frame(controller.preferences().camera, Rect{0, 0, 1920, 1080});
    const std::uint8_t* centre = cameraFrames.front().picture()->row(static_cast<int>(bubble.y + bubble.height / 2)) +
                                 4 * static_cast<std::size_t>(bubble.x + bubble.width / 2);
    EXPECT_GT(centre[3], 250);
    EXPECT_NEAR(centre[2], 240, 24);
    EXPECT_NEAR(centre[1], 200, 24);
    EXPECT_NEAR(centre[0], 40, 24);
    // The phone's tone (half of full scale) is on the microphone track, for about the whole take.
    const auto* microphone = reader.trackTitled("yux.source.microphone");
    ASSERT_NE(microphone, nullptr);
    const auto sound = reader.readAudio(*microphone);
    EXPECT_GT(peak(sound), 0.3f);
    EXPECT_LT(peak(sound), 0.7f);
    EXPECT_GT(sound.audio.frameCount(), 48000 * 2);

    waitForTask(controller.stop());
    runtime->stopDiscovery();
}
