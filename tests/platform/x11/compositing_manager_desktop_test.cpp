#include <gtest/gtest.h>

#include <QPainter>
#include <QWidget>

#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

#include "platform/x11/compositing_manager.hpp"
#include "platform/x11/x11_frame_source.hpp"
#include "support/test_compositor.hpp"
#include "support/x11_test_client.hpp"
#include "support/x11_test_window.hpp"

using namespace yux;
using yux::testing::processEventsFor;
using yux::testing::processEventsUntil;
using yux::testing::TestCompositor;

namespace {

constexpr std::uint32_t kFirst = 0x2060c0;
constexpr std::uint32_t kSecond = 0x20c060;
// Painted right after a switch: only a picture taken after it can show them.
constexpr std::uint32_t kAfterFirstSwitch = 0xc06020;
constexpr std::uint32_t kAfterSecondSwitch = 0xc0c020;

const QRect kWindow(300, 200, 600, 400);

// A window of this process over part of another's, painted as our overlays are: with alpha.
class OwnOverlay : public QWidget {
public:
    explicit OwnOverlay(QRect frame) {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
        setAttribute(Qt::WA_TranslucentBackground);
        setGeometry(frame);
        show();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), QColor(255, 0, 255, 160));
    }
};

std::uint32_t pixelAt(const platform::PixelBuffer& picture, int x, int y) {
    const std::uint8_t* row = picture.data() + static_cast<std::size_t>(y) * picture.stride();
    return reinterpret_cast<const std::uint32_t*>(row)[x] & 0xffffff;
}

// Another application's window at kWindow.
yux::testing::X11TestWindow::Options otherWindow(bool drawnOnly) {
    yux::testing::X11TestWindow::Options options;
    options.x = kWindow.x();
    options.y = kWindow.y();
    options.width = kWindow.width();
    options.height = kWindow.height();
    options.rgb = kFirst;
    options.applicationClass = "YuxSwitchApplication";
    options.processID = 900404;
    options.drawnOnly = drawnOnly;
    return options;
}

// The first picture of a region, our windows left out.
std::optional<std::uint32_t> capturedPixel(QPoint at) {
    platform::FrameSourceSettings settings;
    settings.region = {at.x(), at.y(), 2, 2};
    settings.showsCursor = false;
    std::optional<std::uint32_t> pixel;
    std::mutex mutex;
    platform::X11FrameSource source(settings, [&](platform::SampleBuffer sample) {
        std::lock_guard lock(mutex);
        if (!pixel && sample.picture()) pixel = pixelAt(*sample.picture(), 0, 0);
    });
    source.start();  // returns once the first picture is in
    source.stop();
    std::lock_guard lock(mutex);
    return pixel;
}

}  // namespace

TEST(CompositingManagerOnTheDesktop, TellsEachStopAndStartAtOnce) {
    TestCompositor compositor;
    auto manager = platform::CompositingManager::create();
    const bool first = manager->running();
    EXPECT_EQ(first, TestCompositor::running());
    std::vector<bool> told;
    QObject::connect(manager.get(), &platform::CompositingManager::changed, [&](bool running) {
        told.push_back(running);
    });
    for (std::size_t round = 1; round <= 4; ++round) {
        ASSERT_TRUE(compositor.toggle());
        ASSERT_TRUE(processEventsUntil([&] { return told.size() == round; }, 5000)) << "round " << round;
        const bool expected = round % 2 == 1 ? !first : first;
        EXPECT_EQ(told.back(), expected);
        EXPECT_EQ(manager->running(), expected);
    }
}

TEST(CompositingManagerOnTheDesktop, AWindowUnderOursIsSeenWhenTheCompositorHasJustStopped) {
    TestCompositor compositor;
    if (!TestCompositor::running()) {
        ASSERT_TRUE(compositor.start());
    }
    yux::testing::X11TestWindow other(otherWindow(true));
    ASSERT_TRUE(other.waitUntilViewable());
    auto manager = platform::CompositingManager::create();
    ASSERT_TRUE(manager->running());
    const auto hold = manager->holdWindowContents();
    // Covers the other window whole, as the selection overlay covers the screen.
    OwnOverlay over(kWindow.adjusted(-20, -20, 20, 20));
    processEventsFor(500);
    std::optional<std::uint32_t> seen;
    QObject::connect(manager.get(), &platform::CompositingManager::changed, [&](bool running) {
        if (!running) seen = capturedPixel(kWindow.center());
    });
    ASSERT_TRUE(compositor.stop());
    ASSERT_TRUE(processEventsUntil([&] { return seen.has_value(); }, 5000));
    EXPECT_EQ(*seen, kFirst);
    EXPECT_FALSE(manager->keepingContents());
}

namespace {

struct SwitchCase {
    const char* name;
    platform::PixelRect region;
    platform::WindowSelection windows;
    bool showsDesktop;  // an application's pictures show its windows only
};

class FrameSourceAcrossCompositorSwitches : public ::testing::TestWithParam<SwitchCase> {};

// What one picture shows at four places: on the other window and on the desktop, under our
// window and beside it.
struct Look {
    std::uint32_t underOurs;
    std::uint32_t beside;
    std::uint32_t desktopUnderOurs;
    std::uint32_t desktopBeside;
};

constexpr std::uint32_t kWallpaper = 0x5a3c78;

}  // namespace

// A take goes on while a compositing manager stops or starts: every picture shows the other
// window's own colours (none black, none of our window), the wallpaper under our window as
// beside it, and a colour painted after each switch reaches the pictures, so they never freeze.
TEST_P(FrameSourceAcrossCompositorSwitches, PicturesShowTheOtherWindowsThroughEachSwitch) {
    const SwitchCase& c = GetParam();
    TestCompositor compositor;
    // Published as wallpaper setters do: a compositing manager shows no other background.
    yux::testing::X11RootBackground wallpaper(yux::testing::X11RootBackground::Setter::publishedPixmap, kWallpaper);
    yux::testing::X11TestWindow other(otherWindow(false));
    ASSERT_TRUE(other.waitUntilViewable());
    // Over the other window's right edge and the desktop beside it.
    OwnOverlay over(QRect(kWindow.right() - 100, kWindow.y() + 100, 300, 200));
    processEventsFor(300);
    const QPoint underOurs(kWindow.right() - 50, kWindow.y() + 200);
    const QPoint beside(kWindow.x() + 300, kWindow.y() + 100);
    const QPoint desktopUnderOurs(kWindow.right() + 50, kWindow.y() + 200);
    const QPoint desktopBeside(kWindow.right() + 50, kWindow.bottom() + 20);

    platform::FrameSourceSettings settings;
    settings.region = c.region;
    settings.windows = c.windows;
    settings.showsCursor = false;
    settings.queueDepth = 3;
    std::mutex mutex;
    std::vector<Look> looks;
    platform::X11FrameSource source(settings, [&](platform::SampleBuffer sample) {
        const auto* picture = sample.picture();
        if (picture == nullptr) return;
        const auto at = [&](QPoint p) { return pixelAt(*picture, p.x() - c.region.x, p.y() - c.region.y); };
        const Look look{at(underOurs), at(beside), at(desktopUnderOurs), at(desktopBeside)};
        std::lock_guard lock(mutex);
        looks.push_back(look);
    });
    source.start();
    const auto paintFor = [&](int milliseconds) {
        for (int elapsed = 0; elapsed < milliseconds; elapsed += 40) {
            other.fill(elapsed % 80 == 0 ? kSecond : kFirst);
            processEventsFor(40);
        }
    };
    const auto reaches = [&](std::uint32_t colour) {
        other.fill(colour);
        return processEventsUntil(
            [&] {
                std::lock_guard lock(mutex);
                return !looks.empty() && looks.back().underOurs == colour && looks.back().beside == colour;
            },
            5000);
    };
    paintFor(400);
    ASSERT_TRUE(compositor.toggle());
    EXPECT_TRUE(reaches(kAfterFirstSwitch)) << "frozen after the first switch";
    paintFor(400);
    ASSERT_TRUE(compositor.toggle());
    EXPECT_TRUE(reaches(kAfterSecondSwitch)) << "frozen after the second switch";
    paintFor(400);
    source.stop();

    const std::set<std::uint32_t> painted{kFirst, kSecond, kAfterFirstSwitch, kAfterSecondSwitch};
    std::lock_guard lock(mutex);
    EXPECT_GT(looks.size(), 10u);
    for (std::size_t i = 0; i < looks.size(); ++i) {
        const Look& l = looks[i];
        EXPECT_TRUE(painted.contains(l.underOurs)) << "picture " << i << std::hex << ": " << l.underOurs;
        EXPECT_TRUE(painted.contains(l.beside)) << "picture " << i << std::hex << ": " << l.beside;
        EXPECT_EQ(l.desktopUnderOurs, l.desktopBeside) << "picture " << i;
        if (c.showsDesktop) EXPECT_EQ(l.desktopBeside, kWallpaper) << "picture " << i << std::hex << ": " << l.desktopBeside;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Takes, FrameSourceAcrossCompositorSwitches,
    ::testing::Values(SwitchCase{"fullScreen", {0, 0, 1920, 1080}, {}, true},
                      SwitchCase{"area", {kWindow.x() - 50, kWindow.y() - 50, 800, 500}, {}, true},
                      SwitchCase{"application",
                                 {0, 0, 1920, 1080},
                                 {platform::WindowSelection::Mode::including, {}, {"YuxSwitchApplication"}, true},
                                 false}),
    [](const ::testing::TestParamInfo<SwitchCase>& info) { return std::string(info.param.name); });
