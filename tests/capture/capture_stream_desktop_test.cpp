#include <gtest/gtest.h>

#include <unistd.h>

#include "capture/capture_stream_configuration.hpp"

#include <QApplication>
#include <QPalette>
#include <QWidget>
#include <chrono>
#include <thread>

#include "platform/async/locked.hpp"
#include "support/x11_test_client.hpp"
#include "support/x11_test_window.hpp"

using namespace yux;
using namespace std::chrono_literals;

namespace {

bool isColour(const platform::PixelBuffer& picture, int x, int y, int r, int g, int b) {
    const std::uint8_t* p = picture.row(y) + static_cast<std::size_t>(x) * 4;
    return std::abs(p[2] - r) < 8 && std::abs(p[1] - g) < 8 && std::abs(p[0] - b) < 8;
}

// Starts the stream the way a recording does and waits for a picture that passes `check`.
bool recordUntil(const CaptureTarget& target, const std::function<bool(const platform::PixelBuffer&)>& check,
                 platform::StreamConfiguration* used = nullptr) {
    auto content = platform::ShareableContentProvider::create().current();
    const auto& display = resolveDisplay(content, target);
    auto configuration = streamConfiguration(target, MicrophoneRoute::from(std::nullopt), display);
    if (used != nullptr) *used = configuration;
    auto stream = platform::CaptureStream::create(contentFilter(content, target, display, getpid()), configuration);
    platform::SerialQueue writer("Yux.source-writer");
    platform::Locked<platform::SampleBuffer> latest;
    stream->addStreamOutput(platform::StreamOutputType::screen, writer,
                            [&](const platform::SampleBuffer& sample) { latest.with([&](auto& l) { l = sample; }); });
    stream->startCapture();
    bool passed = yux::testing::processEventsUntil(
        [&] {
            auto sample = latest.copy();
            return sample.picture() != nullptr && check(*sample.picture());
        },
        2000);
    stream->stopCapture();
    writer.sync([] {});
    return passed;
}

}  // namespace

TEST(CaptureStreamConfigurationOnTheDesktop, AreaAndFullDisplayTargetsLeaveOutThisProcessWindows) {
    yux::testing::X11TestWindow::Options blueOptions;
    blueOptions.x = 810;
    blueOptions.y = 610;
    blueOptions.width = 200;
    blueOptions.height = 120;
    blueOptions.rgb = 0x0000ff;
    yux::testing::X11TestWindow blue(blueOptions);
    ASSERT_TRUE(blue.waitUntilViewable());
    QWidget own(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
    own.setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(255, 255, 0));
    own.setPalette(palette);
    own.setGeometry(860, 640, 60, 40);
    own.show();
    yux::testing::processEventsFor(100);

    auto content = platform::ShareableContentProvider::create().current();
    DisplayID main{std::to_string(content.mainDisplayID)};
    platform::StreamConfiguration used;
    // An odd-sized area: its picture is one pixel narrower and lower.
    EXPECT_TRUE(recordUntil(CaptureTarget::area({main, {800, 600, 301, 201}}),
                            [](const platform::PixelBuffer& p) {
                                return isColour(p, 15, 15, 0, 0, 255) && isColour(p, 80, 60, 0, 0, 255);
                            },
                            &used));
    EXPECT_EQ(used.width, 300);
    EXPECT_EQ(used.height, 200);
    EXPECT_TRUE(recordUntil(CaptureTarget::fullMainDisplay(), [](const platform::PixelBuffer& p) {
        return isColour(p, 815, 615, 0, 0, 255) && isColour(p, 880, 660, 0, 0, 255);
    }));
}
