// Recordings of the test desktop through the live engine, read back from the scratch movie.
#include "capture/x11_video_capture.hpp"

#include <gtest/gtest.h>

#include <linux/videodev2.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <sys/uio.h>

#include <atomic>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QWidget>

#include "capture/live_pulse_v4l2_capture.hpp"
#include "model/camera_overlay_geometry.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/audio/pulse_source_directory.hpp"
#include "platform/camera/v4l2_camera.hpp"
#include "platform/media/host_clock.hpp"
#include "platform/media/movie_track_reader.hpp"
#include "support/app_error_expectations.hpp"
#include "support/camera_test_frames.hpp"
#include "support/memory_preferences.hpp"
#include "support/own_test_window.hpp"
#include "support/recording_debug_log.hpp"
#include "support/sound_server.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_compositor.hpp"
#include "support/x11_test_client.hpp"
#include "support/x11_test_window.hpp"

using namespace yux;
using namespace std::chrono_literals;
using platform::MediaTime;
using platform::MediaTrack;
using platform::MovieTrackReader;
using platform::SampleBuffer;
using platform::waitForTask;

namespace {

const std::string kCameraID = "usb-Scripted_Camera_0001-video-index0";
constexpr double kFrame = 1.0 / 60;

float peak(const platform::DecodedAudio& decoded) {
    const auto* samples = reinterpret_cast<const float*>(decoded.audio.bytes->data());
    float loudest = 0;
    for (std::size_t i = 0; i < decoded.audio.bytes->size() / sizeof(float); ++i) loudest = std::max(loudest, std::fabs(samples[i]));
    return loudest;
}

struct Bgra {
    int b, g, r, a;
};
Bgra at(const SampleBuffer& sample, int x, int y) {
    const std::uint8_t* p = sample.picture()->row(y) + static_cast<std::size_t>(x) * 4;
    return {p[0], p[1], p[2], p[3]};
}
// Within what the encoding's colour conversion and compression change.
bool isColour(const Bgra& pixel, int r, int g, int b, int tolerance = 24) {
    return std::abs(pixel.r - r) < tolerance && std::abs(pixel.g - g) < tolerance && std::abs(pixel.b - b) < tolerance;
}

std::vector<std::string> titles(const MovieTrackReader& reader) {
    std::vector<std::string> all;
    for (const auto& track : reader.tracks()) all.push_back(track.title);
    return all;
}

// The sound server's record streams of this process now (other tests share the server).
int sourceOutputs() {
    FILE* list = popen("pactl list source-outputs", "r");
    if (list == nullptr) return -1;
    const std::string mine = "application.process.id = \"" + std::to_string(getpid()) + "\"";
    int count = 0;
    char line[1024];
    while (std::fgets(line, sizeof line, list) != nullptr) count += std::strstr(line, mine.c_str()) != nullptr;
    pclose(list);
    return count;
}

// The X server's clients of this process now (other tests share the server), by the X-Resource
// extension's QueryClientIds request.
int xClients() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const char* name = "X-Resource";
    auto* extension = xcb_query_extension_reply(c, xcb_query_extension(c, std::strlen(name), name), nullptr);
    int count = -1;
    if (extension != nullptr && extension->present) {
        constexpr std::uint32_t kAllClients = 0;
        constexpr std::uint32_t kProcessIDMask = 2;
        struct {
            std::uint8_t major, minor;
            std::uint16_t length;
            std::uint32_t specs, client, mask;
        } request{extension->major_opcode, 4, 4, 1, kAllClients, kProcessIDMask};  // XResQueryClientIds
        xcb_protocol_request_t protocol{1, nullptr, 0, 0};
        iovec parts[3];
        parts[2].iov_base = &request;
        parts[2].iov_len = sizeof request;
        unsigned int sequence = xcb_send_request(c, XCB_REQUEST_CHECKED | XCB_REQUEST_RAW, parts + 2, &protocol);
        if (auto* reply = static_cast<std::uint8_t*>(xcb_wait_for_reply(c, sequence, nullptr))) {
            std::uint32_t ids = 0;
            std::memcpy(&ids, reply + 8, 4);
            const std::uint8_t* at = reply + 32;
            count = 0;
            for (std::uint32_t i = 0; i < ids; ++i) {
                std::uint32_t length = 0;
                std::memcpy(&length, at + 8, 4);
                std::uint32_t pid = 0;
                if (length >= 4) std::memcpy(&pid, at + 12, 4);
                if (pid == static_cast<std::uint32_t>(getpid())) ++count;
                at += 12 + length;
            }
            count -= 1;  // this connection
            std::free(reply);
        }
    }
    std::free(extension);
    xcb_disconnect(c);
    return count;
}

// A yellow window of this very process.
std::unique_ptr<QWidget> yellowWindowOfOurs(int x, int y, int width, int height) {
    return yux::testing::ownTestWindow(x, y, width, height, QColor(255, 255, 0));
}

// The live engine over the test desktop, with the devices of the test sound server and a
// scripted V4L2 camera.
struct Rig {
    yux::testing::TemporaryDirectory folder;
    std::shared_ptr<yux::testing::RecordingDebugLog> debugLog = std::make_shared<yux::testing::RecordingDebugLog>();
    std::shared_ptr<platform::ScriptedV4l2> camera = std::make_shared<platform::ScriptedV4l2>();
    yux::testing::MemoryPreferences memory;
    std::shared_ptr<CaptureDeviceRuntime> runtime;
    std::unique_ptr<CaptureInputsController> controller;
    std::unique_ptr<X11VideoCapture> engine;
    QUuid session = QUuid::createUuid();
    std::string path = folder.file("Scratch/take.mov");

    Rig() {
        platform::ScriptedV4l2Device device;
        device.sizes = {{V4L2_PIX_FMT_YUYV, 64, 48, {30}}};
        device.frames = {picture_, picture_, picture_};
        // Stamped on arrival, like a camera whose driver gives no usable clock.
        device.monotonicTimestamps = false;
        camera->devices = {device};
        auto frames = std::make_shared<CameraFrameFeed>();
        auto live = LivePulseV4l2Capture::create(platform::PulseSourceDirectory::create(),
                                                 platform::V4l2CameraDirectory::start(platform::createNullV4l2Operations(camera)),
                                                 frames);
        runtime = std::make_shared<CaptureDeviceRuntime>(live->functions(), std::make_shared<NoPhoneUSBCameraReceiver>(),
                                                         frames, live);
        controller = std::make_unique<CaptureInputsController>(memory.store(), runtime,
                                                               platform::SystemSettingsOpener::create_null(true),
                                                               platform::SystemLog::create_null());
        waitForTask(controller->start());
        auto permission = std::make_shared<X11ScreenRecordingPermission>(X11ScreenRecordingPermission::create());
        engine = X11VideoCapture::create(permission, debugLog, runtime, controller.get());
    }
    // The live engine without inputs, whose writer the test can look into.
    void watchWriter() {
        auto pieces = X11VideoCapture::livePieces();
        pieces.openWriter = [this, open = pieces.openWriter](const std::string& file, int width, int height,
                                                               bool microphone, bool camera, MediaTime interval) {
            writer = open(file, width, height, microphone, camera, interval);
            return writer;
        };
        auto noInputs = []() -> QCoro::Task<X11VideoCapture::RecordingInputs> { co_return {}; };
        engine = std::make_unique<X11VideoCapture>(
            std::make_shared<X11ScreenRecordingPermission>(X11ScreenRecordingPermission::create()), debugLog, runtime,
            controller.get(), noInputs, std::move(pieces));
    }
    std::shared_ptr<RecordingOutputDelegate> writer;
    ~Rig() {
        feeding_ = false;
        if (feeder_.joinable()) feeder_.join();
        if (controller->locked()) controller->endRecording();
        waitForTask(controller->stop());
    }
    void useMicrophone() {
        waitForTask(runtime->waitForDevices());
        controller->refreshDevices();
        waitForTask(controller->select(CaptureInputKind::microphone, "yux_null_source"));
        ASSERT_TRUE(controller->enabled(CaptureInputKind::microphone));
    }
    void useCamera() {
        controller->refreshDevices();
        waitForTask(controller->select(CaptureInputKind::camera, kCameraID));
        ASSERT_TRUE(controller->enabled(CaptureInputKind::camera));
        controller->setCameraWindowID(1);
        // The scripted camera hands out what it holds at once; new pictures come at 30 fps.
        feeder_ = std::thread([this] {
            while (feeding_) {
                {
                    std::lock_guard lock(camera->mutex);
                    camera->devices.front().frames.push_back(picture_);
                }
                std::this_thread::sleep_for(33ms);
            }
        });
    }
    // Records for a while; `stoppedAt` gets the host time just before and just after the stop.
    void record(CaptureTarget target, std::chrono::milliseconds length,
                std::pair<MediaTime, MediaTime>* stoppedAt = nullptr) {
        controller->beginRecording();
        waitForTask(engine->startCapture(session, std::move(target), path));
        yux::testing::processEventsFor(static_cast<int>(length.count()));
        const MediaTime before = platform::hostTimeNow();
        waitForTask(engine->stopCapture(session));
        if (stoppedAt != nullptr) *stoppedAt = {before, platform::hostTimeNow()};
        controller->endRecording();
    }
    std::vector<std::uint8_t> picture_ = yux::testing::yuyvFrame(64, 48, {40, 200, 240});
    std::atomic<bool> feeding_{true};
    std::thread feeder_;

    DisplayID mainDisplay() const {
        return DisplayID{std::to_string(platform::ShareableContentProvider::create().current().mainDisplayID)};
    }
};

}  // namespace

TEST(X11VideoCaptureOnTheDesktop, TheFullDisplayWithSystemAudioForThreeSeconds) {
    Rig rig;
    rig.watchWriter();
    std::pair<MediaTime, MediaTime> stoppedAt;
    {
        yux::testing::TonePlayer tone("yux_null_sink");  // the default output
        tone.setAmplitude(0.5f);
        rig.record(CaptureTarget::fullMainDisplay(), 3000ms, &stoppedAt);
    }
    MovieTrackReader reader(rig.path);
    EXPECT_EQ(titles(reader), (std::vector<std::string>{"yux.source.screen", "yux.source.systemAudio"}));
    const auto* screen = reader.trackTitled("yux.source.screen");
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->width, 1920);
    EXPECT_EQ(screen->height, 1080);
    EXPECT_GT(peak(reader.readAudio(*reader.trackTitled("yux.source.systemAudio"))), 0.2f) << "the tone is missing";
    // The movie runs from the first picture to the stop.
    const auto first = rig.writer->queue().sync([&] { return rig.writer->start(); });
    ASSERT_TRUE(first.has_value());
    const double duration = reader.duration().seconds();
    EXPECT_GT(duration, (stoppedAt.first - *first).seconds() - kFrame);
    EXPECT_LT(duration, (stoppedAt.second - *first).seconds() + kFrame);
}

TEST(X11VideoCaptureOnTheDesktop, TheMicrophoneTrackCarriesTheToneFedToTheMicrophone) {
    Rig rig;
    rig.useMicrophone();
    {
        yux::testing::TonePlayer tone("yux_mic_feed");
        tone.setAmplitude(0.5f);
        rig.record(CaptureTarget::fullMainDisplay(), 1500ms);
    }
    MovieTrackReader reader(rig.path);
    EXPECT_EQ(titles(reader),
              (std::vector<std::string>{"yux.source.screen", "yux.source.systemAudio", "yux.source.microphone"}));
    EXPECT_GT(peak(reader.readAudio(*reader.trackTitled("yux.source.microphone"))), 0.2f);
    const auto lines = rig.debugLog->lines();
    EXPECT_TRUE(std::ranges::any_of(lines, [](const std::string& line) {
        return line.find("capture microphone_route") == 0 && line.find("route=native") != std::string::npos;
    }));
}

// Players that queue far ahead (as media players do) started just before Record: the server
// mixed their first sound before the capture's streams came.
TEST(X11VideoCaptureOnTheDesktop, ToneAlreadyPlayingIsInEverySoundTrackFromTheFirstPictureToTheStop) {
    Rig rig;
    rig.useMicrophone();
    {
        using Buffering = yux::testing::TonePlayer::Buffering;
        yux::testing::TonePlayer system("yux_null_sink", Buffering::serverDefault, 0.5f);
        yux::testing::TonePlayer microphone("yux_mic_feed", Buffering::serverDefault, 0.5f);
        std::this_thread::sleep_for(300ms);
        rig.record(CaptureTarget::fullMainDisplay(), 1500ms);
    }
    MovieTrackReader reader(rig.path);
    const auto* screen = reader.trackTitled("yux.source.screen");
    ASSERT_NE(screen, nullptr);
    const double pictures = (screen->start + screen->duration).seconds();
    for (const char* title : {"yux.source.systemAudio", "yux.source.microphone"}) {
        SCOPED_TRACE(title);
        const auto* track = reader.trackTitled(title);
        ASSERT_NE(track, nullptr);
        const auto decoded = reader.readAudio(*track);
        const auto* samples = reinterpret_cast<const float*>(decoded.audio.bytes->data());
        const int channels = decoded.audio.channels;
        const auto frames = static_cast<std::int64_t>(decoded.audio.bytes->size() / sizeof(float)) / channels;
        std::int64_t first = 0;
        while (first < frames && std::fabs(samples[first * channels]) < 0.1f) ++first;
        ASSERT_LT(first, frames) << "the tone is missing";
        const double rate = decoded.audio.sampleRate;
        EXPECT_LT(decoded.start.seconds() + static_cast<double>(first) / rate, 0.1) << "the tone came late";
        EXPECT_NEAR(decoded.start.seconds() + static_cast<double>(frames) / rate, pictures, 0.1);
    }
}

TEST(X11VideoCaptureOnTheDesktop, FourTracksWithTheCameraDiscWhereTheBubbleIs) {
    // A desktop, and something on the screen for the bubble to cover in part, in the picture
    // for a person.
    yux::testing::X11RootBackground desktop(yux::testing::X11RootBackground::Setter::xsetroot, 0x336699);
    yux::testing::processEventsFor(500);  // the panel repaints over the new background
    yux::testing::X11TestWindow::Options options;
    options.x = 1200;
    options.y = 500;
    options.width = 500;
    options.height = 400;
    options.rgb = 0x3050c0;
    yux::testing::X11TestWindow window(options);
    ASSERT_TRUE(window.waitUntilViewable());
    Rig rig;
    rig.useMicrophone();
    rig.useCamera();
    rig.record(CaptureTarget::fullMainDisplay(), 1500ms);
    MovieTrackReader reader(rig.path);
    ASSERT_EQ(titles(reader), (std::vector<std::string>{"yux.source.screen", "yux.source.camera",
                                                        "yux.source.systemAudio", "yux.source.microphone"}));
    auto cameraFrames = reader.videoFrames(*reader.trackTitled("yux.source.camera"), 1);
    auto screenFrames = reader.videoFrames(*reader.trackTitled("yux.source.screen"), 1);
    ASSERT_EQ(cameraFrames.size(), 1u);
    ASSERT_EQ(screenFrames.size(), 1u);
    const auto& cameraFrame = cameraFrames.front();

    // Screen pixels and points are alike on the test display.
    Rect bubble = CameraOverlayGeometry{}.frame(rig.controller->preferences().camera, Rect{0, 0, 1920, 1080});
    const int cx = static_cast<int>(bubble.x + bubble.width / 2);
    const int cy = static_cast<int>(bubble.y + bubble.height / 2);
    Bgra centre = at(cameraFrame, cx, cy);
    EXPECT_GT(centre.a, 250);
    EXPECT_TRUE(isColour(centre, 240, 200, 40)) << centre.r << "," << centre.g << "," << centre.b;
    EXPECT_EQ(at(cameraFrame, static_cast<int>(bubble.x) + 2, static_cast<int>(bubble.y) + 2).a, 0) << "a corner";
    EXPECT_EQ(at(cameraFrame, 100, 100).a, 0);
    EXPECT_EQ(at(cameraFrame, cx, static_cast<int>(bubble.y) - 10).a, 0);

    // One frame of the four tracks, camera over screen, for a person to look at.
    QImage screen(screenFrames.front().picture()->data(), 1920, 1080,
                  static_cast<qsizetype>(screenFrames.front().picture()->stride()), QImage::Format_RGB32);
    QImage blended = screen.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage overlay(cameraFrame.picture()->data(), 1920, 1080, static_cast<qsizetype>(cameraFrame.picture()->stride()),
                   QImage::Format_ARGB32);
    {
        QPainter painter(&blended);
        painter.drawImage(0, 0, overlay);
    }
    QDir().mkpath(YUX_SCREENSHOT_DIR);
    EXPECT_TRUE(blended.save(QString(YUX_SCREENSHOT_DIR) + "/four-track-recording.png"));
}

TEST(X11VideoCaptureOnTheDesktop, AnAreaInFractionalPointsGivesEvenPixels) {
    Rig rig;
    rig.record(CaptureTarget::area({rig.mainDisplay(), {100.2, 80.7, 641.3, 479.6}}), 500ms);
    MovieTrackReader reader(rig.path);
    const auto* screen = reader.trackTitled("yux.source.screen");
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->width, 640);
    EXPECT_EQ(screen->height, 480);
}

TEST(X11VideoCaptureOnTheDesktop, AnApplicationShowsOnlyItsOwnWindowsAndNeverThisProcess) {
    yux::testing::X11TestWindow::Options mine;
    mine.x = 200;
    mine.y = 200;
    mine.width = 400;
    mine.height = 300;
    mine.rgb = 0x00ff00;
    mine.overrideRedirect = false;
    mine.applicationClass = "YuxTestGreen";
    mine.processID = 90001;
    yux::testing::X11TestWindow green(mine);
    yux::testing::X11TestWindow::Options theirs = mine;
    theirs.x = 700;
    theirs.rgb = 0xff0000;
    theirs.applicationClass = "YuxTestRed";
    theirs.processID = 90002;
    yux::testing::X11TestWindow red(theirs);
    ASSERT_TRUE(green.waitUntilViewable());
    ASSERT_TRUE(red.waitUntilViewable());
    // A window of this process on top of both.
    auto own = yellowWindowOfOurs(0, 0, 1920, 1080);
    auto [greenX, greenY] = green.rootPosition();
    auto [redX, redY] = red.rootPosition();

    Rig rig;
    rig.record(CaptureTarget::application("YuxTestGreen", rig.mainDisplay()), 500ms);
    MovieTrackReader application(rig.path);
    auto frames = application.videoFrames(*application.trackTitled("yux.source.screen"));
    ASSERT_FALSE(frames.empty());
    EXPECT_TRUE(isColour(at(frames.back(), greenX + 20, greenY + 20), 0, 255, 0));
    EXPECT_FALSE(isColour(at(frames.back(), redX + 20, redY + 20), 255, 0, 0)) << "another client shows";
    EXPECT_FALSE(isColour(at(frames.back(), 5, 5), 255, 255, 0)) << "this process shows";

    Rig whole;
    whole.record(CaptureTarget::fullMainDisplay(), 500ms);
    MovieTrackReader display(whole.path);
    auto pictures = display.videoFrames(*display.trackTitled("yux.source.screen"));
    ASSERT_FALSE(pictures.empty());
    EXPECT_FALSE(isColour(at(pictures.back(), 5, 5), 255, 255, 0)) << "this process shows";
    EXPECT_FALSE(isColour(at(pictures.back(), redX + 20, redY + 20), 255, 255, 0)) << "this process shows";
}

TEST(X11VideoCaptureOnTheDesktop, TheDesktopIsRecordedUnderEveryWindowWhateverPaintedIt) {
    using Setter = yux::testing::X11RootBackground::Setter;
    struct Case {
        const char* name;
        Setter setter;
        std::uint32_t rgb;
        bool area;  // else the full display
    };
    // A window of this process over the desktop, which the recording leaves out.
    auto own = yellowWindowOfOurs(100, 300, 200, 150);
    for (const Case& c : {Case{"xsetroot, full display", Setter::xsetroot, 0x336699, false},
                          Case{"_XROOTPMAP_ID, area", Setter::publishedPixmap, 0x996633, true}}) {
        SCOPED_TRACE(c.name);
        // A compositing manager shows a published wallpaper only: the screen has no such colour.
        if (c.setter == Setter::xsetroot && yux::testing::TestCompositor::running()) continue;
        yux::testing::X11RootBackground background(c.setter, c.rgb);
        const int r = static_cast<int>(c.rgb >> 16), g = static_cast<int>((c.rgb >> 8) & 0xff),
                  b = static_cast<int>(c.rgb & 0xff);
        Rig rig;
        // The area's top-left corner is at (0, 250).
        const int dy = c.area ? 250 : 0;
        rig.record(c.area ? CaptureTarget::area({rig.mainDisplay(), {0, 250, 400, 300}}) : CaptureTarget::fullMainDisplay(),
                   1000ms);
        MovieTrackReader reader(rig.path);
        const auto* screen = reader.trackTitled("yux.source.screen");
        ASSERT_NE(screen, nullptr);
        EXPECT_EQ(screen->width, c.area ? 400 : 1920);
        auto frames = reader.videoFrames(*screen);
        ASSERT_FALSE(frames.empty());
        const Bgra desktop = at(frames.back(), 50, 400 - dy);
        EXPECT_TRUE(isColour(desktop, r, g, b)) << desktop.r << "," << desktop.g << "," << desktop.b;
        const Bgra underOwn = at(frames.back(), 200, 375 - dy);
        EXPECT_TRUE(isColour(underOwn, r, g, b)) << underOwn.r << "," << underOwn.g << "," << underOwn.b;
    }
}

TEST(X11VideoCaptureOnTheDesktop, AnApplicationThatNamesNoProcessIsRecorded) {
    // Programs of the older toolkits set no _NET_WM_PID.
    yux::testing::X11TestProgram logo({"xlogo", "-geometry", "300x200+1000+250", "-bg", "#ff0000", "-fg", "#0000ff"});
    const xcb_window_t window = logo.waitForWindow("XLogo");
    ASSERT_NE(window, 0u) << "xlogo did not show";
    auto x11 = platform::X11Connection::open();
    EXPECT_FALSE(x11->cardinals(window, x11->atom("_NET_WM_PID"), XCB_ATOM_CARDINAL));
    platform::XcbReply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
        x11->raw(), xcb_translate_coordinates(x11->raw(), window, x11->root(), 0, 0), nullptr));
    ASSERT_TRUE(origin);

    Rig rig;
    rig.record(CaptureTarget::application("XLogo", rig.mainDisplay()), 500ms);
    MovieTrackReader reader(rig.path);
    auto frames = reader.videoFrames(*reader.trackTitled("yux.source.screen"));
    ASSERT_FALSE(frames.empty());
    const Bgra corner = at(frames.back(), origin->dst_x + 4, origin->dst_y + 4);
    EXPECT_TRUE(isColour(corner, 255, 0, 0)) << corner.r << "," << corner.g << "," << corner.b;
}

TEST(X11VideoCaptureOnTheDesktop, AStopDuringTheStartLeavesNoStreamBehind) {
    Rig rig;
    rig.useMicrophone();
    const int outputsBefore = sourceOutputs();
    const int clientsBefore = xClients();
    ASSERT_GE(outputsBefore, 0);
    ASSERT_GT(clientsBefore, 0);

    rig.controller->beginRecording();
    auto start = rig.engine->startCapture(rig.session, CaptureTarget::fullMainDisplay(), rig.path);
    ASSERT_TRUE(yux::testing::processEventsUntil(
        [&] {
            auto lines = rig.debugLog->lines();
            return std::ranges::any_of(lines, [](const std::string& l) { return l.find("stream_start_invoked") != std::string::npos; });
        },
        5000));
    try {
        waitForTask(rig.engine->stopCapture(rig.session));
    } catch (const AppError&) {
        // Stopped before any picture: nothing to finish.
    }
    EXPECT_THROW(waitForTask(start), AppError);
    rig.controller->endRecording();
    EXPECT_FALSE(rig.engine->isRegistered(rig.session));
    // The sound server and the X server drop a closed connection at their own pace.
    EXPECT_TRUE(yux::testing::processEventsUntil([&] { return sourceOutputs() == outputsBefore; }, 2000))
        << sourceOutputs() << " record streams, " << outputsBefore << " before";
    EXPECT_TRUE(yux::testing::processEventsUntil([&] { return xClients() == clientsBefore; }, 2000))
        << xClients() << " X clients, " << clientsBefore << " before";
}

// A stopped sound server takes connections on its socket and answers nothing. A start with
// system audio and a microphone fails within seconds with its cause (the system audio, which
// starts first, gives up first), and its clean-up leaves no scratch movie (it has no picture).
TEST(X11VideoCaptureOnTheDesktop, AStartOnAStoppedSoundServerFailsWithinSecondsAndLeavesNoMovie) {
    // The sound server's deadline, and room for a busy machine.
    constexpr double kBoundSeconds = 3.0 + 3.0;
    yux::testing::TemporaryDirectory folder;
    yux::testing::PrivateSoundServer server(folder.path());
    ASSERT_TRUE(server.start());
    yux::testing::SoundServerAddress address(server.address());
    auto debugLog = std::make_shared<yux::testing::RecordingDebugLog>();
    auto inputs = []() -> QCoro::Task<X11VideoCapture::RecordingInputs> {
        co_return X11VideoCapture::RecordingInputs{"yux_private.monitor", false};
    };
    X11VideoCapture engine(std::make_shared<X11ScreenRecordingPermission>(X11ScreenRecordingPermission::create()),
                           debugLog, nullptr, nullptr, inputs, X11VideoCapture::livePieces());
    const std::string path = folder.file("Scratch/take.mov");
    server.freeze();

    const auto sent = std::chrono::steady_clock::now();
    yux::testing::expectAppError(
        [&] { waitForTask(engine.startCapture(QUuid::createUuid(), CaptureTarget::fullMainDisplay(), path)); },
        AppError::systemPlaybackAudioFailed("The sound server did not answer within 3 seconds."));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    std::printf("the start on the stopped sound server failed after %.3f s\n", seconds);
    EXPECT_LT(seconds, kBoundSeconds);
    EXPECT_FALSE(std::filesystem::exists(path)) << "the scratch movie was left behind";
    const auto lines = debugLog->lines();
    EXPECT_TRUE(std::ranges::any_of(lines, [](const std::string& line) {
        return line.find("start_failed") != std::string::npos &&
               line.find("did not answer within 3 seconds") != std::string::npos;
    }));
    server.thaw();
}
