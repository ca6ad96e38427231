#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pulse/simple.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/x11/capture_stream.hpp"

#include <QApplication>
#include <QPalette>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>

#include "platform/async/locked.hpp"
#include "platform/audio/pulse_record_stream.hpp"
#include "platform/media/host_clock.hpp"
#include "platform/x11/x11_frame_source.hpp"
#include "support/media_time_printer.hpp"
#include "support/own_test_window.hpp"
#include "support/test_compositor.hpp"
#include "support/x11_test_client.hpp"
#include "support/x11_test_window.hpp"

using namespace yux::platform;
using yux::testing::X11TestWindow;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kRed = 0xff0000;
constexpr std::uint32_t kBlue = 0x0000ff;
constexpr std::uint32_t kYellow = 0xffff00;

struct Rgb {
    int r, g, b;
    bool near(std::uint32_t rgb) const {
        return std::abs(r - static_cast<int>((rgb >> 16) & 0xff)) < 8 &&
               std::abs(g - static_cast<int>((rgb >> 8) & 0xff)) < 8 && std::abs(b - static_cast<int>(rgb & 0xff)) < 8;
    }
};

Rgb pixelAt(const PixelBuffer& picture, int x, int y) {
    const std::uint8_t* p = picture.row(y) + static_cast<std::size_t>(x) * 4;
    return {p[2], p[1], p[0]};
}

// Runs a frame source and keeps the latest picture with the times around its delivery.
class FrameWatcher {
public:
    explicit FrameWatcher(FrameSourceSettings settings)
        : source_(std::move(settings), [this](SampleBuffer sample) {
              MediaTime arrived = hostTimeNow();
              latest_.with([&](Latest& latest) {
                  latest.sample = sample;
                  latest.arrived = arrived;
                  latest.count += 1;
                  latest.stamps.push_back(sample.presentationTime);
              });
          }) {
        source_.start();
    }
    ~FrameWatcher() { source_.stop(); }

    // Waits up to two seconds for a picture that satisfies `check`, pumping the Qt events.
    bool waitFor(const std::function<bool(const PixelBuffer&)>& check) {
        return yux::testing::processEventsUntil(
            [&] {
                auto latest = latest_.copy();
                return latest.sample.picture() != nullptr && check(*latest.sample.picture());
            },
            2000);
    }
    SampleBuffer latest() const { return latest_.copy().sample; }
    MediaTime arrived() const { return latest_.copy().arrived; }
    int count() const { return latest_.copy().count; }
    std::vector<MediaTime> stamps() const { return latest_.copy().stamps; }
    // Waits (generously) until the source has looked at `count` more grid slots.
    bool waitForLooks(std::int64_t count) {
        const std::int64_t target = source_.slotsLookedAt() + count;
        return yux::testing::processEventsUntil([&] { return source_.slotsLookedAt() >= target; }, 10000);
    }
    X11FrameSource& source() { return source_; }

private:
    struct Latest {
        SampleBuffer sample;
        MediaTime arrived;
        int count = 0;
        std::vector<MediaTime> stamps;
    };
    Locked<Latest> latest_;
    X11FrameSource source_;
};

X11TestWindow::Options placed(int x, int y, int width, int height, std::uint32_t rgb) {
    X11TestWindow::Options options;
    options.x = x;
    options.y = y;
    options.width = width;
    options.height = height;
    options.rgb = rgb;
    return options;
}

X11TestWindow::Options managed(int x, int y, std::uint32_t rgb, std::string applicationClass, std::int32_t pid) {
    auto options = placed(x, y, 200, 150, rgb);
    options.overrideRedirect = false;
    options.applicationClass = std::move(applicationClass);
    options.processID = pid;
    return options;
}

FrameSourceSettings region(int x, int y, int width, int height) {
    FrameSourceSettings settings;
    settings.region = {x, y, width, height};
    return settings;
}

// A window of this very process, painted green.
std::unique_ptr<QWidget> ownWindow(int x, int y, int width, int height) {
    return yux::testing::ownTestWindow(x, y, width, height, QColor(0, 255, 0));
}

// Runs pactl and returns what it printed, e.g. the index of a loaded module.
std::string pactl(const std::string& arguments) {
    std::string output;
    if (FILE* pipe = popen(("pactl " + arguments + " 2>&1").c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
        pclose(pipe);
    }
    while (!output.empty() && std::isspace(static_cast<unsigned char>(output.back()))) output.pop_back();
    return output;
}

// Plays a loud 1 kHz tone into a sink and returns once it has been played.
void playTone(const char* sink, int milliseconds) {
    const int rate = 48000;
    pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, rate, 2};
    int error = 0;
    pa_simple* player = pa_simple_new(nullptr, "yux-test", PA_STREAM_PLAYBACK, sink, "tone", &spec, nullptr, nullptr, &error);
    if (player == nullptr) return;
    std::vector<float> tone(static_cast<std::size_t>(rate * milliseconds / 1000) * 2);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = 0.5f * static_cast<float>(std::sin(2 * M_PI * 1000.0 * static_cast<double>(i / 2) / rate));
    }
    pa_simple_write(player, tone.data(), tone.size() * sizeof(float), &error);
    pa_simple_drain(player, &error);
    pa_simple_free(player);
}

// An X server of the test's own, to be stopped while a source records from it.
class PrivateXServer {
public:
    PrivateXServer() {
        int ends[2];
        if (pipe(ends) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ends[0]);
            int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, 1);
            dup2(quiet, 2);
            std::string fd = std::to_string(ends[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "320x240x24", "-nolisten", "tcp",
                   "+extension", "Composite", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ends[1]);
        std::string number;
        pollfd readable{ends[0], POLLIN, 0};
        char c = 0;
        // Its display number once it takes connections, or the end when it exits. Beside a build's
        // load, pinned to one processor, a start takes seconds: the limit is for one that hangs.
        while (poll(&readable, 1, 60'000) > 0 && read(ends[0], &c, 1) == 1 && c != '\n') number += c;
        close(ends[0]);
        if (!number.empty()) name_ = ":" + number;
    }
    ~PrivateXServer() { stop(); }
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
    // Holds it still: what it is asked from now on stays unanswered.
    void freeze() {
        int status = 0;
        if (pid_ > 0 && kill(pid_, SIGSTOP) == 0) waitpid(pid_, &status, WUNTRACED);
    }
    // Ends it as a crash would, and removes the lock and socket it leaves behind.
    void crash() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
        const std::string number = name_.substr(1);
        unlink(("/tmp/.X" + number + "-lock").c_str());
        unlink(("/tmp/.X11-unix/X" + number).c_str());
    }
    const std::string& name() const { return name_; }

private:
    pid_t pid_ = 0;
    std::string name_;
};

}  // namespace

TEST(X11FrameSource, AnotherClientsWindowIsSeenAtItsPlaceStampedOnTheHostClock) {
    X11TestWindow red(placed(1510, 710, 240, 160, kRed));
    ASSERT_TRUE(red.waitUntilViewable());
    MediaTime before = hostTimeNow();
    FrameWatcher watcher(region(1500, 700, 300, 200));
    ASSERT_GE(watcher.count(), 1);  // the first picture comes with the start
    EXPECT_TRUE(watcher.source().compositing());
    ASSERT_TRUE(watcher.waitFor([](const PixelBuffer& p) { return pixelAt(p, 10, 10).near(kRed); }));
    auto frame = watcher.latest();
    const auto& picture = *frame.picture();
    EXPECT_EQ(picture.width(), 300);
    EXPECT_EQ(picture.height(), 200);
    EXPECT_TRUE(pixelAt(picture, 249, 169).near(kRed));   // last red pixel
    EXPECT_FALSE(pixelAt(picture, 251, 171).near(kRed));  // just outside
    EXPECT_FALSE(pixelAt(picture, 5, 5).near(kRed));
    EXPECT_EQ(picture.data()[3], 255);  // opaque
    EXPECT_EQ(frame.frameStatus, FrameStatus::complete);
    EXPECT_GE(frame.presentationTime, before);
    EXPECT_LE(frame.presentationTime, watcher.arrived());
    EXPECT_LT((watcher.arrived() - frame.presentationTime).seconds(), 0.05);
}

TEST(X11FrameSource, AStillRegionTakesNoPictureWhateverChangesElsewhereAndAChangeInItTakesOne) {
    X11TestWindow red(placed(1210, 410, 100, 100, kRed));
    X11TestWindow blue(placed(1450, 420, 60, 60, kBlue));  // beside the region
    ASSERT_TRUE(red.waitUntilViewable());
    ASSERT_TRUE(blue.waitUntilViewable());
    auto settings = region(1200, 400, 200, 200);
    settings.showsCursor = false;
    FrameWatcher watcher(settings);
    ASSERT_TRUE(watcher.waitFor([](const PixelBuffer& p) { return pixelAt(p, 50, 50).near(kRed); }));
    // Settled: ten looks in a row without a picture (the mapping's own damage may take one).
    int settled = -1;
    for (int attempt = 0; attempt < 20 && settled != watcher.count(); ++attempt) {
        settled = watcher.count();
        ASSERT_TRUE(watcher.waitForLooks(10));
    }
    ASSERT_EQ(settled, watcher.count());

    // Changes beside the region, each seen by the source before the next.
    for (int step = 1; step <= 8; ++step) {
        blue.move(1450 + (step % 2) * 40, 420 + step * 10);
        blue.sync();
        ASSERT_TRUE(watcher.waitForLooks(3));
    }
    EXPECT_EQ(watcher.count(), settled);

    red.move(1260, 460);
    EXPECT_TRUE(watcher.waitFor([](const PixelBuffer& p) { return pixelAt(p, 150, 150).near(kRed); }));

    // Every picture sits on the source's grid: the first one's time plus whole intervals.
    auto times = watcher.stamps();
    const MediaTime interval = watcher.source().frameInterval();
    ASSERT_TRUE(interval.isValid());
    for (std::size_t i = 1; i < times.size(); ++i) {
        MediaTime since = times[i] - times[0];
        double intervals = since.seconds() / interval.seconds();
        EXPECT_GT(times[i], times[i - 1]);
        EXPECT_EQ(since, MediaTime(static_cast<std::int64_t>(std::llround(intervals)) * interval.value, interval.timescale))
            << "picture " << i << " at " << intervals << " intervals";
    }
}

TEST(X11FrameSource, OwnWindowsAreLeftOutOfDisplayAndAreaPictures) {
    X11TestWindow red(placed(1110, 810, 200, 150, kRed));
    ASSERT_TRUE(red.waitUntilViewable());
    auto own = ownWindow(1150, 840, 80, 60);  // on top of the red window

    // The whole display, as a full-display capture would take it.
    auto content = ShareableContentProvider::create().current();
    ShareableDisplay display;
    for (const auto& candidate : content.displays) {
        if (candidate.displayID == content.mainDisplayID) display = candidate;
    }
    std::vector<RunningApplication> self;
    for (const auto& application : content.applications) {
        if (application.processID == getpid()) self.push_back(application);
    }
    ASSERT_EQ(self.size(), 1u);
    StreamConfiguration configuration;
    configuration.width = display.width;
    configuration.height = display.height;
    FrameWatcher full(frameSourceSettings(ContentFilter::excluding(display, self), configuration, 1.0));
    ASSERT_TRUE(full.waitFor([](const PixelBuffer& p) { return pixelAt(p, 1115, 815).near(kRed); }));
    // Where our green window is, the red window under it shows.
    EXPECT_TRUE(pixelAt(*full.latest().picture(), 1190, 870).near(kRed));

    FrameWatcher area(region(1100, 800, 300, 200));
    ASSERT_TRUE(area.waitFor([](const PixelBuffer& p) { return pixelAt(p, 15, 15).near(kRed); }));
    EXPECT_TRUE(pixelAt(*area.latest().picture(), 90, 70).near(kRed));

    // Without leaving this process out, the green window is there: the check above means something.
    auto withOwn = region(1100, 800, 300, 200);
    withOwn.windows.excludeThisProcess = false;
    FrameWatcher everything(withOwn);
    EXPECT_TRUE(everything.waitFor([](const PixelBuffer& p) { return pixelAt(p, 90, 70).near(0x00ff00); }));
}

TEST(X11FrameSource, ApplicationTargetShowsThatApplicationOnly) {
    const std::int32_t fakeEditor = 900001;
    const std::int32_t fakeOther = 900002;
    X11TestWindow editor(managed(300, 300, kRed, "YuxTestEditor", fakeEditor));
    X11TestWindow other(managed(360, 340, kBlue, "YuxTestOther", fakeOther));
    ASSERT_TRUE(editor.waitUntilViewable());
    ASSERT_TRUE(other.waitUntilViewable());
    // Let the window manager publish both in its client list.
    std::optional<RunningApplication> application;
    for (int attempt = 0; attempt < 100 && !application; ++attempt) {
        for (const auto& candidate : ShareableContentProvider::create().current().applications) {
            if (candidate.bundleIdentifier == "YuxTestEditor") application = candidate;
        }
        if (!application) std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(application);
    EXPECT_EQ(application->processID, fakeEditor);

    auto [editorX, editorY] = editor.rootPosition();
    auto [otherX, otherY] = other.rootPosition();
    FrameSourceSettings settings = region(0, 0, 1920, 1080);
    settings.windows.mode = WindowSelection::Mode::including;
    settings.windows.applicationClasses = {"YuxTestEditor"};
    FrameWatcher watcher(settings);
    // The other window is on top, yet the editor shows whole and the other not at all.
    ASSERT_TRUE(watcher.waitFor([&](const PixelBuffer& p) { return pixelAt(p, editorX + 190, editorY + 140).near(kRed); }));
    auto picture = *watcher.latest().picture();
    EXPECT_TRUE(pixelAt(picture, editorX + 5, editorY + 5).near(kRed));
    EXPECT_FALSE(pixelAt(picture, otherX + 195, otherY + 145).near(kBlue));

    // The editor repaints only where the other window covers it on screen: that still shows
    // (in a region of the editor alone, so that nothing else on screen takes a picture).
    FrameSourceSettings narrow = settings;
    narrow.region = {editorX, editorY, 200, 150};
    narrow.showsCursor = false;
    FrameWatcher editorOnly(narrow);
    ASSERT_TRUE(editorOnly.waitFor([&](const PixelBuffer& p) { return pixelAt(p, 190, 140).near(kRed); }));
    ASSERT_TRUE(editorOnly.waitForLooks(10));
    editor.fill(kYellow, 150, 100, 50, 50);
    EXPECT_TRUE(editorOnly.waitFor([&](const PixelBuffer& p) { return pixelAt(p, 190, 140).near(kYellow); }));
}

TEST(X11FrameSource, TheRootWindowShowsUnderOwnWindowsAndWhereWindowsLeaveWhateverPaintedIt) {
    using Setter = yux::testing::X11RootBackground::Setter;
    constexpr std::uint32_t kSky = 0x336699;
    constexpr std::uint32_t kSand = 0x996633;
    for (Setter setter : {Setter::xsetroot, Setter::publishedPixmap}) {
        SCOPED_TRACE(setter == Setter::xsetroot ? "xsetroot -solid" : "_XROOTPMAP_ID");
        // A compositing manager shows a published wallpaper only: the screen has no such colour.
        if (setter == Setter::xsetroot && yux::testing::TestCompositor::running()) continue;
        yux::testing::X11RootBackground background(setter, kSky);
        auto other = std::make_unique<X11TestWindow>(placed(160, 660, 120, 80, kRed));
        ASSERT_TRUE(other->waitUntilViewable());
        auto own = ownWindow(300, 700, 80, 60);
        auto settings = region(100, 600, 400, 300);
        settings.showsCursor = false;
        FrameWatcher watcher(settings);
        const auto shows = [](int x, int y, std::uint32_t rgb) {
            return [=](const PixelBuffer& p) { return pixelAt(p, x, y).near(rgb); };
        };
        EXPECT_TRUE(watcher.waitFor(shows(10, 10, kSky)));
        EXPECT_TRUE(watcher.waitFor(shows(240, 130, kSky))) << "under our own window";
        EXPECT_TRUE(watcher.waitFor(shows(120, 100, kRed)));

        // A new background while recording: at once where the root shows, soon under our window.
        background.set(kSand);
        EXPECT_TRUE(watcher.waitFor(shows(10, 10, kSand)));
        EXPECT_TRUE(watcher.waitFor(shows(240, 130, kSand))) << "under our own window";
        // Where a window was, the desktop shows once it moves away, and once it is gone.
        other->move(200, 620);
        EXPECT_TRUE(watcher.waitFor(shows(70, 70, kSand)));
        other.reset();
        EXPECT_TRUE(watcher.waitFor(shows(120, 40, kSand)));
        EXPECT_TRUE(pixelAt(*watcher.latest().picture(), 240, 130).near(kSand));
    }
}

TEST(X11FrameSource, WhatAProgramDrawsOnTheRootWindowShowsButNotOurOwnWindowOverIt) {
    if (yux::testing::TestCompositor::running()) {
        GTEST_SKIP() << "a compositing manager hides the root window's own drawing on screen too";
    }
    constexpr std::uint32_t kDrawn = 0x40c080;
    // A background to wipe the drawing with afterwards, so that later tests do not see it.
    yux::testing::X11RootBackground background(yux::testing::X11RootBackground::Setter::xsetroot, 0x000000);
    auto own = ownWindow(1300, 160, 80, 60);
    auto settings = region(1200, 100, 300, 200);
    settings.showsCursor = false;
    FrameWatcher watcher(settings);
    // Straight onto the root, as desktop widgets without a window of their own draw.
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, screen->root, XCB_GC_FOREGROUND, &kDrawn);
    xcb_rectangle_t area{1200, 100, 300, 200};
    xcb_poly_fill_rectangle(c, screen->root, gc, 1, &area);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    EXPECT_TRUE(watcher.waitFor([](const PixelBuffer& p) { return pixelAt(p, 20, 20).near(kDrawn); }));
    EXPECT_FALSE(pixelAt(*watcher.latest().picture(), 140, 90).near(0x00ff00)) << "our own window shows";
    xcb_free_gc(c, gc);
    xcb_disconnect(c);
}

TEST(X11FrameSource, CursorIsDrawnWhenAsked) {
    X11TestWindow red(placed(610, 110, 200, 200, kRed));
    ASSERT_TRUE(red.waitUntilViewable());
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_warp_pointer(c, XCB_NONE, screen->root, 0, 0, 0, 0, 700, 200);
    xcb_flush(c);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    auto differs = [](const PixelBuffer& p) {
        int changed = 0;
        for (int y = 0; y < p.height(); ++y)
            for (int x = 0; x < p.width(); ++x) changed += pixelAt(p, x, y).near(kRed) ? 0 : 1;
        return changed;
    };
    auto plain = region(660, 150, 100, 100);
    plain.showsCursor = false;
    {
        FrameWatcher watcher(plain);
        ASSERT_TRUE(watcher.waitFor([](const PixelBuffer& p) { return pixelAt(p, 0, 0).near(kRed); }));
        EXPECT_EQ(differs(*watcher.latest().picture()), 0);
    }
    auto withCursor = region(660, 150, 100, 100);
    FrameWatcher watcher(withCursor);
    EXPECT_TRUE(watcher.waitFor([&](const PixelBuffer& p) { return pixelAt(p, 0, 0).near(kRed) && differs(p) > 10; }));
    xcb_disconnect(c);
}

TEST(X11FrameSource, EveryPictureShowsTheWholeRegionThoughOnlyWhatChangedIsPaintedAgain) {
    // Pictures alternate between buffers, each of which missed what changed for the other.
    for (bool fillsAlpha : {true, false}) {
        SCOPED_TRACE(fillsAlpha ? "ARGB" : "the screen's format");
        X11TestWindow window(placed(1310, 560, 200, 100, kRed));
        ASSERT_TRUE(window.waitUntilViewable());
        auto settings = region(1300, 550, 300, 200);
        settings.showsCursor = false;
        settings.fillsAlpha = fillsAlpha;
        FrameWatcher watcher(settings);
        ASSERT_TRUE(watcher.waitFor([](const PixelBuffer& p) { return pixelAt(p, 20, 20).near(kRed); }));
        const std::uint32_t colours[] = {kBlue, kYellow, 0x00ff00};
        std::uint32_t quarters[4] = {kRed, kRed, kRed, kRed};
        for (int step = 0; step < 12; ++step) {
            const int quarter = step % 4;
            quarters[quarter] = colours[step % 3];
            window.fill(quarters[quarter], (quarter % 2) * 100, (quarter / 2) * 50, 100, 50);
            // The change has been seen a few grid slots ago by now.
            ASSERT_TRUE(watcher.waitForLooks(6));
            const auto picture = *watcher.latest().picture();
            for (int q = 0; q < 4; ++q) {
                EXPECT_TRUE(pixelAt(picture, 10 + (q % 2) * 100 + 50, 10 + (q / 2) * 50 + 25).near(quarters[q]))
                    << "step " << step << ", quarter " << q;
            }
        }
    }
}

TEST(X11FrameSource, TheCursorLeavesNoTrailInLaterPictures) {
    X11TestWindow window(placed(1310, 810, 280, 180, kBlue));
    ASSERT_TRUE(window.waitUntilViewable());
    FrameWatcher watcher(region(1300, 800, 300, 200));
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    // Pixels within a few of the hot spot that are not the window's: the cursor's.
    auto cursorNear = [](const PixelBuffer& p, int x, int y) {
        int drawn = 0;
        for (int dy = 0; dy < 8; ++dy)
            for (int dx = 0; dx < 8; ++dx) drawn += pixelAt(p, x + dx, y + dy).near(kBlue) ? 0 : 1;
        return drawn > 4;
    };
    const int places[][2] = {{40, 40}, {200, 40}, {40, 120}, {200, 120}, {120, 80}};
    for (std::size_t i = 0; i < std::size(places); ++i) {
        xcb_warp_pointer(c, XCB_NONE, screen->root, 0, 0, 0, 0, static_cast<std::int16_t>(1300 + places[i][0]),
                         static_cast<std::int16_t>(800 + places[i][1]));
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        ASSERT_TRUE(watcher.waitFor([&](const PixelBuffer& p) { return cursorNear(p, places[i][0], places[i][1]); }))
            << "place " << i;
        const auto picture = *watcher.latest().picture();
        for (std::size_t before = 0; before < i; ++before) {
            EXPECT_FALSE(cursorNear(picture, places[before][0], places[before][1])) << "a trail at place " << before;
        }
    }
    xcb_disconnect(c);
}

TEST(CaptureStreamOnTheDesktop, DeliversScreenSystemAudioAndMicrophoneOnTheWriterQueue) {
    auto content = ShareableContentProvider::create().current();
    ASSERT_FALSE(content.displays.empty());
    StreamConfiguration configuration;
    configuration.width = 640;
    configuration.height = 360;
    configuration.sourceRect = PointRect{100, 100, 640, 360};
    configuration.capturesAudio = true;
    configuration.captureMicrophone = true;
    configuration.microphoneCaptureDeviceID = "yux_null_source";
    auto stream = CaptureStream::create(ContentFilter::excluding(content.displays[0], {}), configuration);

    SerialQueue writer("Yux.source-writer");
    struct Counts {
        int screen = 0;
        double audio = 0, microphone = 0;  // seconds
        bool onQueue = true;
        int width = 0;
    };
    Locked<Counts> counts;
    auto count = [&](StreamOutputType type) {
        return [&, type](const SampleBuffer& sample) {
            counts.with([&](Counts& c) {
                c.onQueue = c.onQueue && writer.isCurrent();
                if (type == StreamOutputType::screen) {
                    c.screen += 1;
                    c.width = sample.picture()->width();
                } else {
                    (type == StreamOutputType::audio ? c.audio : c.microphone) += sample.duration.seconds();
                }
            });
        };
    };
    stream->addStreamOutput(StreamOutputType::screen, writer, count(StreamOutputType::screen));
    stream->addStreamOutput(StreamOutputType::audio, writer, count(StreamOutputType::audio));
    stream->addStreamOutput(StreamOutputType::microphone, writer, count(StreamOutputType::microphone));
    EXPECT_FALSE(stream->frameInterval().isValid());
    stream->startCapture();
    EXPECT_EQ(stream->frameInterval(), MediaTime(1, 60));  // the test display reports no rate of its own
    std::this_thread::sleep_for(200ms);
    stream->stopCapture();
    writer.sync([] {});
    int screenAtStop = counts.copy().screen;
    std::this_thread::sleep_for(50ms);
    writer.sync([] {});

    auto seen = counts.copy();
    EXPECT_GE(seen.screen, 1);  // at least the first picture, even on a still screen
    EXPECT_EQ(seen.width, 640);
    // Nothing plays: the idle outputs send nothing, and silence stands in for it.
    EXPECT_GE(seen.audio, 0.1);
    EXPECT_GE(seen.microphone, 0.1);
    EXPECT_TRUE(seen.onQueue);
    EXPECT_EQ(seen.screen, screenAtStop);  // nothing after the stop
}

TEST(CaptureStreamOnTheDesktop, MissingMicrophoneFailsTheStartAndLeavesItStopped) {
    auto content = ShareableContentProvider::create().current();
    StreamConfiguration configuration;
    configuration.width = 64;
    configuration.height = 64;
    configuration.capturesAudio = true;
    configuration.captureMicrophone = true;
    configuration.microphoneCaptureDeviceID = "yux_unplugged_microphone";
    auto stream = CaptureStream::create(ContentFilter::excluding(content.displays[0], {}), configuration);
    EXPECT_THROW(stream->startCapture(), AudioSourceUnavailable);
    EXPECT_THROW(stream->stopCapture(), std::logic_error);
}

TEST(CaptureStreamOnTheDesktop, ALostMicrophoneIsReportedRecordsSilenceAndSoundResumesWhenItIsBack) {
    // A microphone of our own: the monitor of a sink this test loads and unloads.
    std::string module = pactl("load-module module-null-sink sink_name=yux_vanishing");
    ASSERT_FALSE(module.empty());
    auto content = ShareableContentProvider::create().current();
    StreamConfiguration configuration;
    configuration.width = 64;
    configuration.height = 64;
    configuration.captureMicrophone = true;
    configuration.microphoneCaptureDeviceID = "yux_vanishing.monitor";
    auto stream = CaptureStream::create(ContentFilter::excluding(content.displays[0], {}), configuration);

    SerialQueue writer("Yux.source-writer");
    struct Heard {
        std::vector<std::pair<MediaTime, MediaTime>> spans;  // start, end
        std::optional<MediaTime> loud;
        std::vector<CaptureStreamFailure> failures;
    };
    Locked<Heard> heard;
    stream->addStreamOutput(StreamOutputType::microphone, writer, [&](const SampleBuffer& sample) {
        heard.with([&](Heard& h) {
            h.spans.emplace_back(sample.presentationTime, sample.presentationTime + sample.duration);
            const auto* samples = reinterpret_cast<const float*>(sample.audio()->bytes->data());
            for (std::int64_t i = 0; i < sample.audio()->frameCount() && !h.loud; ++i) {
                if (std::fabs(samples[2 * i]) > 0.25f) h.loud = sample.presentationTime + MediaTime(i, 48000);
            }
        });
    });
    stream->setFailureHandler(writer, [&](const CaptureStreamFailure& failure) {
        heard.with([&](Heard& h) { h.failures.push_back(failure); });
    });
    auto reaches = [&](MediaTime time) {
        return [&heard, time] {
            auto h = heard.copy();
            return !h.spans.empty() && h.spans.back().second >= time;
        };
    };
    MediaTime started = hostTimeNow();
    stream->startCapture();
    ASSERT_TRUE(yux::testing::processEventsUntil(reaches(started + MediaTime(2, 10)), 5000));

    pactl("unload-module " + module);
    MediaTime lost = hostTimeNow();
    ASSERT_TRUE(yux::testing::processEventsUntil([&] { return !heard.copy().failures.empty(); }, 5000));
    // The track goes on while the source is gone.
    EXPECT_TRUE(yux::testing::processEventsUntil(reaches(lost + MediaTime(1, 2)), 5000));

    module = pactl("load-module module-null-sink sink_name=yux_vanishing");
    MediaTime back = hostTimeNow();
    for (int attempt = 0; attempt < 20 && !heard.copy().loud; ++attempt) playTone("yux_vanishing", 200);
    writer.sync([] {});
    stream->stopCapture();
    MediaTime stopped = hostTimeNow();
    writer.sync([] {});
    pactl("unload-module " + module);

    auto h = heard.copy();
    ASSERT_EQ(h.failures.size(), 1u);  // one outage, one report
    EXPECT_EQ(h.failures[0].output, StreamOutputType::microphone);
    EXPECT_NE(h.failures[0].message.find("\"yux_vanishing.monitor\""), std::string::npos) << h.failures[0].message;
    ASSERT_TRUE(h.loud) << "no sound after the source came back";
    EXPECT_GT(*h.loud, back);
    // One timeline in order from the start to the stop; silence stood in while the source was gone.
    double covered = 0;
    for (std::size_t i = 0; i < h.spans.size(); ++i) {
        if (i > 0) EXPECT_LE(h.spans[i - 1].second, h.spans[i].first);
        covered += (h.spans[i].second - h.spans[i].first).seconds();
    }
    EXPECT_GT(covered, (stopped - started).seconds() - 0.3);
    EXPECT_GE(h.spans.back().second, stopped - MediaTime(1, 20));
}

TEST(X11FrameSource, AStillScreenTakesItsFirstPictureOnlyAndAServerThatGoesAwayIsReportedOnceWithNoPictureAfter) {
    const std::string lost = "The connection to the X server was lost while recording.";
    for (bool whileAsked : {false, true}) {
        SCOPED_TRACE(whileAsked ? "the server dies while the source waits for its answer" : "the server stops");
        PrivateXServer server;  // nothing else draws on it
        ASSERT_FALSE(server.name().empty()) << "Xvfb did not start";
        auto settings = region(0, 0, 64, 64);
        settings.display = server.name();
        // What the source handed on, in order: "picture", or the failure's message.
        Locked<std::vector<std::string>> handed;
        auto hand = [&](const std::string& what) { handed.with([&](auto& all) { all.push_back(what); }); };
        X11FrameSource source(settings, [&](SampleBuffer) { hand("picture"); }, {}, hand);
        source.start();
        const auto atStart = handed.copy();
        ASSERT_TRUE(!atStart.empty() && atStart.front() == "picture") << "start() returns once the first picture is handed on";
        // What setting up reported changed is in the first picture, not a reason for a second.
        ASSERT_TRUE(yux::testing::processEventsUntil([&] { return source.slotsLookedAt() >= 5; }, 10000));
        EXPECT_EQ(handed.copy(), std::vector<std::string>{"picture"}) << "pictures of a still screen";

        if (whileAsked) {
            // Each look asks where the cursor is, and the frozen server answers no more: the look
            // under way waits for ever, or else the next one, whose start is waited for (not
            // checked: while the one under way waits, none starts).
            server.freeze();
            const std::int64_t looked = source.slotsLookedAt();
            yux::testing::processEventsUntil([&] { return source.slotsLookedAt() > looked; }, 2000);
            server.crash();
        } else {
            server.stop();
        }
        const auto reports = [&] {
            const auto all = handed.copy();
            return std::count(all.begin(), all.end(), lost);
        };
        ASSERT_TRUE(yux::testing::processEventsUntil([&] { return reports() > 0; }, 10000));
        source.stop();
        const auto all = handed.copy();
        EXPECT_EQ(reports(), 1) << "handed on, in order: " << ::testing::PrintToString(all);
        EXPECT_EQ(all.back(), lost) << "handed on, in order: " << ::testing::PrintToString(all);
    }
}

TEST(X11FrameSource, PicturesStillHeldByTheConsumerLimitWhatIsInFlight) {
    X11TestWindow red(placed(1610, 210, 100, 100, kRed));
    ASSERT_TRUE(red.waitUntilViewable());
    auto settings = region(1600, 200, 300, 300);
    settings.showsCursor = false;
    settings.queueDepth = 1;  // one picture in flight, two spare
    Locked<std::vector<SampleBuffer>> held;
    X11FrameSource source(settings, [&](SampleBuffer sample) { held.with([&](auto& all) { all.push_back(sample); }); });
    source.start();
    // Each change seen by the source before the next: every one asks for a picture.
    for (int step = 1; step <= 10; ++step) {
        red.move(1610 + step * 10, 210);
        red.sync();
        const std::int64_t looked = source.slotsLookedAt();
        ASSERT_TRUE(yux::testing::processEventsUntil([&] { return source.slotsLookedAt() >= looked + 2; }, 10000));
    }
    EXPECT_EQ(held.copy().size(), 3u);
    held.with([](auto& all) { all.clear(); });  // the consumer lets go
    red.move(1620, 260);
    EXPECT_TRUE(yux::testing::processEventsUntil([&] { return !held.copy().empty(); }, 2000));
    source.stop();
}
