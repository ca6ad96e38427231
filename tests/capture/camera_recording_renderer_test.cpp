#include <gtest/gtest.h>

#include <QImage>

#include <array>
#include <cmath>

#include "capture/camera_recording_renderer.hpp"
#include "capture/camera_recording_source.hpp"
#include "platform/async/locked.hpp"
#include "platform/async/wait_for.hpp"
#include "support/app_error_expectations.hpp"
#include "support/media_time_printer.hpp"
#include "support/memory_preferences.hpp"
#include "support/screenshot_writer.hpp"

using namespace yux;
using yux::platform::PixelBuffer;
using yux::platform::SampleBuffer;

namespace {

using Bgra = std::array<int, 4>;

SampleBuffer cameraFrame(PixelBuffer picture, platform::MediaTime at = platform::MediaTime(1001, 30000)) {
    SampleBuffer sample;
    sample.presentationTime = at;
    sample.duration = platform::MediaTime(1, 30);
    sample.payload = std::move(picture);
    return sample;
}

PixelBuffer solid(int width, int height, Bgra colour) {
    auto picture = PixelBuffer::create(width, height);
    picture.fill(colour[0], colour[1], colour[2], 255);
    return picture;
}

// Left half red, right half blue, with a white bar a quarter in and a green band on top: every
// flip and crop shows.
PixelBuffer pattern(int width, int height) {
    auto picture = PixelBuffer::create(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = picture.row(y) + x * 4;
            bool left = x < width / 2;
            p[0] = left ? 30 : 220;
            p[1] = y < height / 6 ? 200 : 40;
            p[2] = left ? 220 : 30;
            p[3] = 255;
            if (std::abs(x - width / 4) < width / 40) p[0] = p[1] = p[2] = 255;
        }
    }
    return picture;
}

Bgra at(const SampleBuffer& sample, double x, double y) {
    const auto* picture = sample.picture();
    const std::uint8_t* p = picture->row(static_cast<int>(y)) + static_cast<int>(x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

void expectColour(const Bgra& actual, const Bgra& expected, int tolerance = 1) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(actual[c], expected[c], tolerance) << "channel " << c;
}

void saveScreenshot(const SampleBuffer& sample, const std::string& name) {
    const auto* picture = sample.picture();
    QImage image(picture->data(), picture->width(), picture->height(), static_cast<qsizetype>(picture->stride()),
                 QImage::Format_ARGB32);
    yux::test::writeScreenshot(image, QString::fromStdString(name));
}

const Size kPoints{1440, 900};
const Size kPixels{2880, 1800};

}  // namespace

TEST(CameraRecordingRenderer, ACircleIsAnOpaqueDiscExactlyWhereTheBubbleIs) {
    CameraPlacement placement;  // circle, bottom right
    CameraRecordingRenderer renderer(placement, kPixels, kPoints);
    Bgra colour{40, 120, 200, 255};
    auto rendered = renderer.render(cameraFrame(solid(1280, 720, colour)));
    saveScreenshot(rendered, "camera_circle");

    Rect bubble = CameraOverlayGeometry().frame(placement, Rect{0, 0, kPoints.width, kPoints.height});
    Rect disc{bubble.x * 2, bubble.y * 2, bubble.width * 2, bubble.height * 2};
    ASSERT_EQ(rendered.picture()->width(), 2880);
    ASSERT_EQ(rendered.picture()->height(), 1800);
    expectColour(at(rendered, disc.midX(), disc.midY()), colour);
    expectColour(at(rendered, disc.minX() + 3, disc.midY()), colour);
    expectColour(at(rendered, disc.midX(), disc.maxY() - 3), colour);
    // Outside, and inside the bubble's square but outside the circle: nothing at all.
    expectColour(at(rendered, disc.minX() - 3, disc.midY()), {0, 0, 0, 0}, 0);
    expectColour(at(rendered, 10, 10), {0, 0, 0, 0}, 0);
    expectColour(at(rendered, disc.minX() + 4, disc.minY() + 4), {0, 0, 0, 0}, 0);
    expectColour(at(rendered, disc.maxX() - 5, disc.maxY() - 5), {0, 0, 0, 0}, 0);

    // The rim is antialiased and thin, and its colour is straight, not darkened by its alpha.
    // Along a row a quarter down, the edge crosses at a slant.
    double row = disc.minY() + disc.height / 4;
    int partial = 0;
    for (double x = disc.minX(); x < disc.midX(); ++x) {
        auto pixel = at(rendered, x, row);
        if (pixel[3] > 0 && pixel[3] < 255) {
            ++partial;
            if (pixel[3] > 32) expectColour({pixel[0], pixel[1], pixel[2], 255}, colour, 3);
        }
    }
    EXPECT_GE(partial, 1);
    EXPECT_LE(partial, 3);
}

TEST(CameraRecordingRenderer, AReusedCanvasShowsNothingOfTheFrameBefore) {
    CameraPlacement bottomRight;
    CameraPlacement topLeft;
    topLeft.horizontal = topLeft.vertical = CameraPlacement::Anchor::start;
    CameraRecordingRenderer renderer(bottomRight, kPixels, kPoints);
    Rect old = CameraOverlayGeometry().frame(bottomRight, Rect{0, 0, kPoints.width, kPoints.height});
    auto first = renderer.render(cameraFrame(solid(64, 36, {9, 9, 9, 255})));
    auto kept = first;  // a copy still held (as a writer holds its last frame) keeps its pixels
    first = {};
    renderer.render(cameraFrame(solid(64, 36, {9, 9, 9, 255})));  // released at once: its canvas returns
    renderer.placement = topLeft;
    auto moved = renderer.render(cameraFrame(solid(64, 36, {9, 9, 9, 255})));
    expectColour(at(moved, old.midX() * 2, old.midY() * 2), {0, 0, 0, 0}, 0);
    expectColour(at(moved, old.maxX() * 2 - 2, old.midY() * 2), {0, 0, 0, 0}, 0);
    EXPECT_EQ(at(kept, old.midX() * 2, old.midY() * 2)[3], 255);
    Rect now = CameraOverlayGeometry().frame(topLeft, Rect{0, 0, kPoints.width, kPoints.height});
    EXPECT_EQ(at(moved, now.midX() * 2, now.midY() * 2)[3], 255);
}

TEST(CameraRecordingRenderer, KeepsTheFramesTimeAndDuration) {
    CameraRecordingRenderer renderer(CameraPlacement{}, {640, 360}, {640, 360});
    auto rendered = renderer.render(cameraFrame(solid(64, 36, {1, 2, 3, 255}), platform::MediaTime(777, 600)));
    EXPECT_EQ(rendered.presentationTime, platform::MediaTime(777, 600));
    EXPECT_EQ(rendered.duration, platform::MediaTime(1, 30));
    EXPECT_FALSE(rendered.decodeTime);

    SampleBuffer empty;
    empty.presentationTime = platform::MediaTime(1, 30);
    yux::testing::expectAppError([&] { renderer.render(empty); }, AppError::cameraFailed("Missing camera image"));
}

TEST(CameraRecordingRenderer, MirroringSwapsSidesOnlyWhenChosen) {
    CameraPlacement placement;
    placement.shape = CameraShape::rectangle;
    Rect bubble = CameraOverlayGeometry().frame(placement, Rect{0, 0, kPoints.width, kPoints.height});
    auto leftOfBubble = [&](const CameraPlacement& p) {
        auto rendered = CameraRecordingRenderer(p, kPixels, kPoints).render(cameraFrame(pattern(1280, 720)));
        return std::pair{at(rendered, bubble.minX() * 2 + 6, bubble.midY() * 2), rendered};
    };
    auto [absent, plain] = leftOfBubble(placement);
    EXPECT_GT(absent[2], 180) << "red on the left: not mirrored when absent";
    placement.mirrored = false;
    EXPECT_GT(leftOfBubble(placement).first[2], 180);
    placement.mirrored = true;
    auto [mirrored, flipped] = leftOfBubble(placement);
    EXPECT_GT(mirrored[0], 180) << "blue on the left when mirrored";
    EXPECT_LT(mirrored[2], 60);
    saveScreenshot(plain, "camera_rectangle");
    saveScreenshot(flipped, "camera_rectangle_mirrored");
}

TEST(CameraRecordingRenderer, RoundedCornersAre16PointsScaledToPixels) {
    CameraPlacement placement;
    placement.shape = CameraShape::rounded;
    auto rendered = CameraRecordingRenderer(placement, kPixels, kPoints).render(cameraFrame(pattern(1280, 720)));
    saveScreenshot(rendered, "camera_rounded");
    Rect bubble = CameraOverlayGeometry().frame(placement, Rect{0, 0, kPoints.width, kPoints.height});
    double x0 = bubble.minX() * 2;
    double y0 = bubble.minY() * 2;
    // On the diagonal of a corner the arc of radius 32 starts 9.4 px in; one of 16 would start at 4.7.
    EXPECT_EQ(at(rendered, x0 + 7, y0 + 7)[3], 0);
    EXPECT_EQ(at(rendered, x0 + 12, y0 + 12)[3], 255);
    EXPECT_EQ(at(rendered, x0 + 40, y0 + 1)[3], 255) << "the straight edge is not rounded";
}

TEST(CameraRecordingRenderer, ZoomShowsTheMiddleOfThePictureLarger) {
    CameraPlacement placement;
    placement.zoom = 2;
    placement.centreX = 0.25;  // on the white bar
    auto rendered = CameraRecordingRenderer(placement, kPixels, kPoints).render(cameraFrame(pattern(1280, 720)));
    saveScreenshot(rendered, "camera_circle_zoomed");
    Rect bubble = CameraOverlayGeometry().frame(placement, Rect{0, 0, kPoints.width, kPoints.height});
    expectColour(at(rendered, bubble.midX() * 2, bubble.midY() * 2), {255, 255, 255, 255}, 2);
    // At zoom 2 the bar, 1/20 of the picture wide, spans 1/20 × 2 of the crop's 9/16 … wider than at zoom 1.
    int white = 0;
    for (double x = bubble.minX() * 2; x < bubble.maxX() * 2; ++x) {
        if (at(rendered, x, bubble.midY() * 2)[1] > 240) ++white;
    }
    EXPECT_NEAR(white, 2 * bubble.width * 2 * (1.0 / 20) / (9.0 / 16), 6);
}

TEST(CameraRecordingSource, RendersFramesOnTheWritersQueueAndFollowsPlacementFromTheNextFrame) {
    const CaptureDevice phone{"yux-usb:1", "iPhone · Yux Cam (USB)"};
    auto platformStub = StubbedPulseV4l2Capture::create({});
    auto receiver = std::make_shared<ScriptedUSBCameraReceiver>();
    receiver->phones = {{phone}};
    auto runtime =
        std::make_shared<CaptureDeviceRuntime>(platformStub->functions(), receiver, std::make_shared<CameraFrameFeed>());
    yux::testing::MemoryPreferences preferences;
    CaptureInputsController inputs(preferences.store(), runtime, platform::SystemSettingsOpener::create_null(true),
                                   platform::SystemLog::create_null(),
                                   [](std::chrono::milliseconds, platform::CancelToken) -> QCoro::Task<void> { co_return; });
    platform::waitForTask(runtime->start(CaptureInputKind::camera, phone.id));

    platform::SerialQueue writer("Yux.source-writer");
    platform::Locked<std::vector<MicrophoneResult>> received;
    CameraRecordingSource source(runtime, inputs, {320, 180}, {320, 180}, writer, [&](MicrophoneResult result) {
        EXPECT_TRUE(writer.isCurrent());
        received.with([&](auto& all) { all.push_back(std::move(result)); });
    });
    auto deliver = [&](int index) {
        receiver->simulate_picture(cameraFrame(solid(64, 36, {0, 0, 255, 255}), platform::MediaTime(index, 30)));
        runtime->frames().queue().sync([] {});
        writer.sync([] {});
    };
    auto picture = [&](std::size_t index) { return std::get<SampleBuffer>(received.copy().at(index)); };

    deliver(1);
    CameraPlacement moved;
    moved.horizontal = CameraPlacement::Anchor::start;
    moved.vertical = CameraPlacement::Anchor::start;
    moved.gapX = 0;
    moved.gapY = 0;
    inputs.setCameraPlacement(moved);
    deliver(2);
    ASSERT_EQ(received.copy().size(), 2u);
    EXPECT_EQ(at(picture(0), 2, 2)[3], 0) << "the default bubble sits bottom right";
    EXPECT_EQ(at(picture(1), 30, 30)[3], 255) << "the moved one top left, from the next frame";
    EXPECT_EQ(picture(1).presentationTime, platform::MediaTime(2, 30));

    receiver->simulate_picture(SampleBuffer{platform::MediaTime(3, 30), platform::MediaTime(1, 30), {}, {}, {}, true});
    runtime->frames().queue().sync([] {});
    writer.sync([] {});
    ASSERT_EQ(received.copy().size(), 3u);
    EXPECT_TRUE(std::holds_alternative<std::exception_ptr>(received.copy()[2])) << "a frame that cannot render is an error";

    source.stop();
    deliver(4);
    EXPECT_EQ(received.copy().size(), 3u);
}
