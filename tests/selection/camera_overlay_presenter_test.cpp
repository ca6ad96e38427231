#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QToolButton>

#include "capture/camera_preview_layer.hpp"
#include "capture/camera_recording_renderer.hpp"
#include "selection/camera_overlay_presenter.hpp"
#include "selection/camera_overlay_windows.hpp"
#include "selection/camera_tools.hpp"
#include "selection/interactive_screen_selection.hpp"
#include "selection/selection_test_inputs.hpp"

using namespace yux;

namespace {

const Rect kArea{0, 0, 800, 600};
constexpr int kPictureWidth = 320;
constexpr int kPictureHeight = 180;

// A smooth picture whose every part differs, so showing the wrong part shows.
platform::PixelBuffer gradientPicture() {
    auto picture = platform::PixelBuffer::create(kPictureWidth, kPictureHeight);
    for (int y = 0; y < kPictureHeight; ++y) {
        std::uint8_t* row = picture.row(y);
        for (int x = 0; x < kPictureWidth; ++x) {
            row[x * 4 + 0] = static_cast<std::uint8_t>(60 + y);       // B
            row[x * 4 + 1] = static_cast<std::uint8_t>(200 - y / 2);  // G
            row[x * 4 + 2] = static_cast<std::uint8_t>(x * 255 / kPictureWidth);  // R
            row[x * 4 + 3] = 255;
        }
    }
    return picture;
}

void spin() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

struct CameraFixture {
    yux::testing::SelectionTestInputs inputs;
    platform::SystemLog log = platform::SystemLog::create_null();
    platform::OutputTracker<platform::SystemLogLine> lines = log.track_lines();
    platform::OutsideClickMonitor* outside = nullptr;
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::time_point(std::chrono::hours(1));
    std::optional<DisplayID> primary;
    std::unique_ptr<CameraOverlayPresenter> presenter;

    CameraFixture() {
        inputs.start();
        inputs.enableCamera();
        inputs.platform->aspect = static_cast<double>(kPictureWidth) / kPictureHeight;
        inputs.runtime->previewLayer()->setPicture(gradientPicture());
        CameraOverlayPresenter::Services services;
        services.log = log;
        services.now = [this] { return now; };
        services.mainDisplayID = [this] { return primary; };
        services.outsideClicks = [this] {
            auto monitor = platform::OutsideClickMonitor::create_null();
            outside = monitor.get();
            return monitor;
        };
        presenter = std::make_unique<CameraOverlayPresenter>(inputs.controller.get(), inputs.runtime, services);
        presenter->update(kArea, {Rect{600, 10, 150, 40}});
    }
    const CameraPlacement& placement() const { return inputs.controller->preferences().camera; }
    void drag(Point from, Point to, bool shift = false) {
        presenter->pointerPressed(from, 1);
        presenter->pointerDragged(to, shift);
        presenter->pointerReleased(to);
        spin();
    }
};

QImage bubblePixels(QWidget& bubble) {
    QImage image(bubble.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    bubble.render(&image);
    return image;
}

// Inside the shape (kept off the rim), each bubble pixel is the recorded frame's pixel there.
void expectBubbleMatchesRecording(CameraFixture& f) {
    QWidget* bubble = f.presenter->imageWindow();
    ASSERT_NE(bubble, nullptr);
    const QImage shown = bubblePixels(*bubble);
    CameraRecordingRenderer renderer(f.placement(), Size{kArea.width, kArea.height}, Size{kArea.width, kArea.height});
    platform::SampleBuffer sample;
    sample.payload = gradientPicture();
    const auto recorded = renderer.render(sample);
    const auto* frame = recorded.picture();
    ASSERT_NE(frame, nullptr);
    const Rect f0 = f.presenter->frame();
    const QPainterPath inside =
        cameraShapePath(f.placement().shape, QRectF(0, 0, f0.width, f0.height).adjusted(4, 4, -4, -4), 12);
    int compared = 0;
    int worst = 0;
    for (int y = 0; y < shown.height(); y += 5) {
        for (int x = 0; x < shown.width(); x += 5) {
            if (!inside.contains(QPointF(x + 0.5, y + 0.5))) continue;
            const QColor a = shown.pixelColor(x, y);
            const int gx = bubble->x() + x;
            const int gy = bubble->y() + y;
            const std::uint8_t* p = frame->row(gy) + gx * 4;
            worst = std::max({worst, std::abs(a.blue() - p[0]), std::abs(a.green() - p[1]), std::abs(a.red() - p[2])});
            ++compared;
        }
    }
    EXPECT_GT(compared, 20);
    EXPECT_LE(worst, 4);
}

}  // namespace

TEST(CameraOverlayPresenter, ShowsSelectedWithToolsAndHidesWithoutACamera) {
    CameraFixture f;
    ASSERT_NE(f.presenter->imageWindow(), nullptr);
    EXPECT_TRUE(f.presenter->selected());
    EXPECT_TRUE(f.presenter->toolsWindow()->isVisible());
    EXPECT_TRUE(f.inputs.controller->cameraWindowID().has_value());
    // The default bubble: bottom-right, 32 from both edges, 0.36 of the shorter side.
    EXPECT_EQ(f.presenter->frame(), (Rect{800 - 32 - 216, 600 - 32 - 216, 216, 216}));
    f.presenter->update(Rect{0, 0, 0, 600}, {});
    EXPECT_EQ(f.presenter->imageWindow(), nullptr);
    EXPECT_EQ(f.inputs.controller->cameraWindowID(), std::nullopt);
    f.presenter->update(kArea, {});
    EXPECT_NE(f.presenter->imageWindow(), nullptr);
    f.inputs.enableCamera();  // switched off
    f.presenter->update(kArea, {});
    EXPECT_EQ(f.presenter->imageWindow(), nullptr);
}

TEST(CameraOverlayPresenter, GrabReachCornersAndCursors) {
    CameraFixture f;
    const Rect frame = f.presenter->frame();  // (552, 352, 216, 216)
    // 11 outside the left edge still takes the bubble; 13 does not.
    EXPECT_TRUE(f.presenter->pointerPressed({frame.minX() - 11, frame.midY()}, 1));
    f.presenter->pointerReleased({frame.minX() - 11, frame.midY()});
    EXPECT_FALSE(f.presenter->pointerPressed({frame.minX() - 13, frame.midY()}, 1));
    EXPECT_FALSE(f.presenter->selected());
    // Corners need both distances below 12.
    EXPECT_EQ(f.presenter->corner({frame.minX() + 11, frame.minY() + 11}, frame), 0);
    EXPECT_EQ(f.presenter->corner({frame.maxX() - 5, frame.minY()}, frame), 1);
    EXPECT_EQ(f.presenter->corner({frame.minX(), frame.maxY() + 3}, frame), 2);
    EXPECT_EQ(f.presenter->corner({frame.maxX(), frame.maxY()}, frame), 3);
    EXPECT_EQ(f.presenter->corner({frame.minX() + 12, frame.minY()}, frame), std::nullopt);
    EXPECT_EQ(f.presenter->cursor({frame.minX(), frame.minY()}), OverlayCursor::diagonalNWSE);
    EXPECT_EQ(f.presenter->cursor({frame.maxX(), frame.minY()}), OverlayCursor::diagonalNESW);
    EXPECT_EQ(f.presenter->cursor({frame.midX(), frame.midY()}), OverlayCursor::move);
    EXPECT_EQ(f.presenter->cursor({10, 10}), std::nullopt);
    // A double-click frames: open hand, closed while dragging.
    f.presenter->pointerPressed({frame.midX(), frame.midY()}, 1);
    f.presenter->pointerReleased({frame.midX(), frame.midY()});
    f.presenter->pointerPressed({frame.midX(), frame.midY()}, 2);
    EXPECT_TRUE(f.presenter->cropping());
    EXPECT_EQ(f.presenter->cursor({frame.midX(), frame.midY()}), OverlayCursor::closedHand);
    f.presenter->pointerReleased({frame.midX(), frame.midY()});
    EXPECT_EQ(f.presenter->cursor({frame.midX(), frame.midY()}), OverlayCursor::openHand);
    EXPECT_TRUE(f.presenter->ghostWindow()->isVisible());
}

TEST(CameraOverlayPresenter, ClicksElsewhereDeselectUnlessOnControls) {
    CameraFixture f;
    // A control region keeps the selection.
    EXPECT_FALSE(f.presenter->pointerPressed({650, 20}, 1));
    EXPECT_TRUE(f.presenter->selected());
    // A click in another application deselects and ends framing.
    f.presenter->setCropping(true);
    ASSERT_NE(f.outside, nullptr);
    f.outside->simulate_click();
    EXPECT_FALSE(f.presenter->selected());
    EXPECT_FALSE(f.presenter->cropping());
    // Finishing an unselected bubble does nothing and logs nothing.
    const auto logged = f.lines.data().size();
    EXPECT_FALSE(f.presenter->finishEditing());
    EXPECT_EQ(f.lines.data().size(), logged);
}

TEST(CameraOverlayPresenter, CornerResizeKeepsProportionUnlessAShiftedRectangle) {
    CameraFixture f;
    const Rect frame = f.presenter->frame();
    // Top-left corner dragged in by 100: width 116, circle keeps its proportion.
    f.drag({frame.minX(), frame.minY()}, {frame.minX() + 100, frame.minY() + 30}, true);
    Rect resized = f.presenter->frame();
    EXPECT_NEAR(resized.width, 116, 1e-6);
    EXPECT_NEAR(resized.height, 116, 1e-6);
    EXPECT_NEAR(resized.maxX(), frame.maxX(), 1e-6);
    EXPECT_NEAR(resized.maxY(), frame.maxY(), 1e-6);
    // The width stops at 60.
    f.drag({resized.minX(), resized.minY()}, {resized.minX() + 500, resized.minY()});
    EXPECT_NEAR(f.presenter->frame().width, 60, 1e-6);
    // A rectangle with Shift sizes both ways.
    CameraPlacement rectangle = f.placement();
    rectangle.shape = CameraShape::rectangle;
    f.inputs.controller->setCameraPlacement(rectangle);
    f.presenter->render();
    const Rect r = f.presenter->frame();
    f.drag({r.maxX(), r.maxY()}, {r.maxX(), r.maxY() - 20}, true);
    EXPECT_NEAR(f.presenter->frame().height, std::max(60.0, r.height - 20), 1e-6);
    EXPECT_NEAR(f.presenter->frame().width, r.width, 1e-6);
}

TEST(CameraOverlayPresenter, MovingSnapsShowsGuidesAndReanchors) {
    CameraFixture f;
    const Rect frame = f.presenter->frame();
    f.presenter->pointerPressed({frame.midX(), frame.midY()}, 1);
    // Near the left margin and the vertical centre.
    const double dx = (16 + 3) - frame.minX();
    const double dy = (300 - frame.height / 2 + 4) - frame.minY();
    f.presenter->pointerDragged({frame.midX() + dx, frame.midY() + dy}, false);
    EXPECT_NEAR(f.presenter->frame().minX(), 16, 1e-6);
    EXPECT_NEAR(f.presenter->frame().midY(), 300, 1e-6);
    const auto guides = f.presenter->guidesState();
    ASSERT_TRUE(guides.guideX.has_value());
    EXPECT_NEAR(*guides.guideX, 16 + 8, 1e-6);  // in the guides window's coordinates
    EXPECT_TRUE(guides.pins);
    EXPECT_EQ(f.placement().horizontal, CameraPlacement::Anchor::start);
    EXPECT_EQ(f.placement().vertical, CameraPlacement::Anchor::centre);
    f.presenter->pointerReleased({frame.midX() + dx, frame.midY() + dy});
    EXPECT_FALSE(f.presenter->guidesState().guideX.has_value());
}

TEST(CameraOverlayPresenter, WheelZoomsAroundThePointerWithinRange) {
    CameraFixture f;
    const Rect frame = f.presenter->frame();
    EXPECT_FALSE(f.presenter->zoomed({10, 10}, 2));  // outside: passes on
    EXPECT_TRUE(f.presenter->zoomed({frame.minX() + 1, frame.midY()}, 2));
    EXPECT_NEAR(f.placement().zoom, 2, 1e-9);
    EXPECT_LT(f.placement().centreX, 0.5);  // the picture's left stays under the pointer
    f.presenter->zoomed({frame.midX(), frame.midY()}, 10);
    EXPECT_NEAR(f.placement().zoom, 4, 1e-9);
    f.presenter->zoomed({frame.midX(), frame.midY()}, 0.01);
    EXPECT_NEAR(f.placement().zoom, 1, 1e-9);
}

TEST(CameraOverlayPresenter, MirroredFramingFollowsThePointer) {
    CameraFixture f;
    CameraPlacement mirrored = f.placement();
    mirrored.mirrored = true;
    f.inputs.controller->setCameraPlacement(mirrored);
    const Rect frame = f.presenter->frame();
    // Zoom in near the bubble's left edge: mirrored, that edge shows the picture's right side.
    f.presenter->zoomed({frame.minX() + 1, frame.midY()}, 2);
    EXPECT_GT(f.placement().centreX, 0.5);
    // A framing pan to the right moves the shown picture right, so the crop moves left in the
    // unmirrored picture... and the mirrored picture still follows the pointer.
    const double before = f.placement().centreX;
    f.presenter->setCropping(true);
    f.drag({frame.midX(), frame.midY()}, {frame.midX() + 20, frame.midY()});
    EXPECT_GT(f.placement().centreX, before);
    expectBubbleMatchesRecording(f);
}

TEST(CameraOverlayPresenter, PlacementSurvivesSaveAndLoadAndTheBubbleShowsTheRecordedPicture) {
    CameraFixture f;
    Rect frame = f.presenter->frame();
    f.drag({frame.midX(), frame.midY()}, {frame.midX() - 300, frame.midY() - 200});
    frame = f.presenter->frame();
    f.drag({frame.maxX(), frame.maxY()}, {frame.maxX() + 40, frame.maxY() + 10});
    frame = f.presenter->frame();
    f.presenter->zoomed({frame.minX() + frame.width * 0.3, frame.minY() + frame.height * 0.7}, 1.8);
    f.presenter->toolsWindow();
    auto* tools = static_cast<CameraTools*>(f.presenter->toolsWindow());
    tools->mirrorButton()->click();
    tools->shapeButton(CameraShape::rounded)->click();
    f.presenter->setCropping(true);
    frame = f.presenter->frame();
    f.drag({frame.midX(), frame.midY()}, {frame.midX() - 15, frame.midY() + 12});
    spin();
    const CameraPlacement edited = f.placement();
    EXPECT_TRUE(edited.isMirrored());
    EXPECT_EQ(edited.shape, CameraShape::rounded);
    EXPECT_GT(edited.zoom, 1.5);
    expectBubbleMatchesRecording(f);

    CaptureInputsController reloaded(f.inputs.memory.store(), f.inputs.runtime,
                                     platform::SystemSettingsOpener::create_null(true),
                                     platform::SystemLog::create_null());
    auto start = reloaded.start();
    platform::waitForTask(start);
    EXPECT_EQ(reloaded.preferences().camera, edited);
    auto stop = reloaded.stop();
    platform::waitForTask(stop);
}

TEST(CameraGuides, PinsAndFramingOutline) {
    const auto draw = [](CameraGuidesState state) {
        QImage image(400, 300, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paintCameraGuides(painter, state);
        painter.end();
        return image;
    };
    CameraGuidesState state;
    state.area = Rect{8, 8, 380, 280};
    state.frame = Rect{100, 100, 100, 100};
    state.placement.horizontal = CameraPlacement::Anchor::centre;
    state.placement.vertical = CameraPlacement::Anchor::end;
    state.pins = true;
    const QImage pins = draw(state);
    // No horizontal pin for a centred anchor; a vertical one below the bubble.
    EXPECT_EQ(pins.pixelColor(50, 150).alpha(), 0);
    int blue = 0;
    for (int y = 201; y < 288; ++y) blue += pins.pixelColor(150, y).blue() > 150 && pins.pixelColor(150, y).alpha() > 0;
    EXPECT_GT(blue, 20);
    // Framing: the outline is the accent colour and there are no corner handles.
    state.pins = false;
    state.cropping = true;
    state.placement.shape = CameraShape::rectangle;
    const QImage framing = draw(state);
    const QColor edge = framing.pixelColor(150, 100);
    EXPECT_GT(edge.blue(), 200);
    EXPECT_LT(edge.red(), 60);
    EXPECT_EQ(framing.pixelColor(104, 96).alpha(), 0);  // where a handle would be
    state.cropping = false;
    state.handles = true;
    EXPECT_GT(draw(state).pixelColor(103, 97).alpha(), 200);
}

TEST(CameraOverlayPresenter, EscapeAndReturnFirstEndTheBubblesEditing) {
    CameraFixture f;
    auto escape = GlobalHotKey::create_null();
    GlobalHotKey* key = escape.get();
    SelectionOverlayServices services;
    services.compositor = platform::CompositingManager::create_null(false);
    InteractiveScreenSelection service(ScreenSelectionGeometry{8, 24}, std::move(escape), f.inputs.controller.get(),
                                       f.presenter.get(), services);
    CapturePreference preference;
    preference.lastArea = SelectedCaptureArea{DisplayID{"1"}, CaptureRect{0, 0, 800, 600}};
    auto task = service.startSelection(preference, {DisplayBounds(DisplayID{"1"}, 0, 0, 1280, 800)});
    spin();
    auto* presenter = service.activePresenter();
    ASSERT_NE(presenter, nullptr);
    ASSERT_TRUE(f.presenter->selected());
    // Escape while framing ends only the framing.
    f.presenter->setCropping(true);
    key->simulate_pressed();
    EXPECT_FALSE(f.presenter->cropping());
    EXPECT_TRUE(presenter->pending());
    // Return while the bubble is selected accepts its editing and records nothing.
    EXPECT_TRUE(presenter->keyPressed(Qt::Key_Return, presenter->selectionWindow()));
    EXPECT_FALSE(f.presenter->selected());
    EXPECT_TRUE(presenter->pending());
    // Now Escape cancels.
    key->simulate_pressed();
    const auto outcome = platform::waitForTask(task);
    EXPECT_EQ(outcome, ScreenSelectionOutcome::cancelled(preference));
    // A cancelled selection hides the bubble.
    EXPECT_EQ(f.presenter->imageWindow(), nullptr);
}

// While a target is chosen, a press on the bubble gives its tools window the keyboard, so Tab
// stops changing the mode; Return accepts the bubble and gives the keyboard back, and so does
// Record. While a take records, a press on the bubble leaves the keyboard with the program.
TEST(CameraOverlayPresenter, APressOnTheBubbleTakesTheKeyboardOnlyWhileChoosing) {
    CameraFixture f;
    SelectionOverlayServices services;
    services.compositor = platform::CompositingManager::create_null(false);
    InteractiveScreenSelection service(ScreenSelectionGeometry{8, 24}, GlobalHotKey::create_null(),
                                       f.inputs.controller.get(), f.presenter.get(), services);
    CapturePreference preference;
    preference.lastArea = SelectedCaptureArea{DisplayID{"1"}, CaptureRect{0, 0, 800, 600}};
    auto task = service.startSelection(preference, {DisplayBounds(DisplayID{"1"}, 0, 0, 1280, 800)});
    spin();
    auto* presenter = service.activePresenter();
    ASSERT_NE(presenter, nullptr);
    QWidget* selection = presenter->selectionWindow();
    const auto keyboard = [] { return QApplication::activeWindow(); };
    const auto type = [&](Qt::Key key) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : keyboard();
        ASSERT_NE(target, nullptr);
        QTest::keyClick(target, key);
        spin();
    };
    const Rect frame = f.presenter->frame();
    const auto pressBubble = [&] {
        EXPECT_TRUE(f.presenter->pointerPressed({frame.midX(), frame.midY()}, 1));
        f.presenter->pointerReleased({frame.midX(), frame.midY()});
        spin();
    };
    ASSERT_EQ(keyboard(), selection);
    pressBubble();
    EXPECT_EQ(keyboard(), f.presenter->toolsWindow());
    type(Qt::Key_Tab);
    EXPECT_EQ(presenter->viewModel()->mode(), CaptureMode::area);
    type(Qt::Key_Return);
    EXPECT_FALSE(f.presenter->selected());
    EXPECT_TRUE(presenter->pending());
    EXPECT_EQ(keyboard(), selection);
    type(Qt::Key_Tab);
    EXPECT_EQ(presenter->viewModel()->mode(), CaptureMode::app);
    presenter->viewModel()->setMode(CaptureMode::area);

    pressBubble();
    ASSERT_EQ(keyboard(), f.presenter->toolsWindow());
    presenter->selectionWindow()->controlBar()->recordButton()->click();
    ASSERT_TRUE(std::holds_alternative<ScreenSelectionOutcome::Confirmed>(platform::waitForTask(task).value));
    spin();
    EXPECT_NE(keyboard(), f.presenter->toolsWindow());

    platform::waitForTask(service.showRecordingControls());
    QWidget recorded;
    recorded.show();
    recorded.activateWindow();
    spin();
    ASSERT_EQ(keyboard(), &recorded);
    pressBubble();
    EXPECT_TRUE(f.presenter->selected());
    EXPECT_EQ(keyboard(), &recorded);
    platform::waitForTask(service.hideOverlay());
}

TEST(SelectionOverlayPresenter, WithoutAnEscapeKeyTheSelectionFailsWithItsOwnMessage) {
    SelectionOverlayPresenter presenter(ScreenSelectionGeometry{8, 24}, nullptr, nullptr, nullptr, {});
    auto task = presenter.runSelection({DisplayBounds(DisplayID{"1"}, 0, 0, 1280, 800)}, CapturePreference::initial());
    const auto outcome = platform::waitForTask(task);
    EXPECT_EQ(outcome, ScreenSelectionOutcome::failed(AppError::keyboardShortcutUnavailable("Escape registration failed.")));
    EXPECT_EQ(presenter.selectionWindow(), nullptr);
}

TEST(CameraOverlayPresenter, AutomationShowsTheBubbleOnThePrimaryDisplayAndReportsWhatItHas) {
    // The second display is listed first; a 16:9 picture fills a square bubble by its middle.
    const std::vector<DisplayBounds> displays{DisplayBounds(DisplayID{"2"}, 1000, 0, 1280, 800),
                                              DisplayBounds(DisplayID{"1"}, 0, 0, 1000, 1000)};
    struct Case {
        std::optional<DisplayID> primary;
        Rect area;
        std::string shown;
    };
    const Case cases[] = {
        {DisplayID{"1"}, Rect{0, 0, 1000, 1000},
         "enabled=true running=true connection_active=true window=(608, 608, 360, 360) host=(0, 0, 360, 360) "
         "layer=(-140, 0, 640, 360)"},
        // Nothing named primary: the display at the desktop's origin.
        {std::nullopt, Rect{0, 0, 1000, 1000},
         "enabled=true running=true connection_active=true window=(608, 608, 360, 360) host=(0, 0, 360, 360) "
         "layer=(-140, 0, 640, 360)"},
        {DisplayID{"2"}, Rect{1000, 0, 1280, 800},
         "enabled=true running=true connection_active=true window=(1960, 480, 288, 288) host=(0, 0, 288, 288) "
         "layer=(-112, 0, 512, 288)"},
    };
    for (const Case& c : cases) {
        CameraFixture f;
        f.primary = c.primary;
        EXPECT_EQ(f.presenter->showForAutomation(CaptureTarget::fullMainDisplay(), displays), c.shown);
        EXPECT_EQ(f.presenter->area(), c.area);
        EXPECT_FALSE(f.presenter->selected());
    }

    // Mirrored, the picture lies flipped about the bubble.
    CameraFixture mirrored;
    mirrored.primary = DisplayID{"1"};
    CameraPlacement placement = mirrored.placement();
    placement.mirrored = true;
    placement.zoom = 2;
    placement.centreX = 0.3;
    mirrored.inputs.controller->setCameraPlacement(placement);
    EXPECT_THAT(mirrored.presenter->showForAutomation(CaptureTarget::fullMainDisplay(), displays),
                ::testing::EndsWith(" layer=(-716, -180, 1280, 720)"));

    // The camera stopped under the overlay, then switched off: no bubble, no feed.
    CameraFixture f;
    f.primary = DisplayID{"1"};
    auto stop = f.inputs.runtime->stop(CaptureInputKind::camera);
    platform::waitForTask(stop);
    EXPECT_EQ(f.presenter->showForAutomation(CaptureTarget::fullMainDisplay(), displays),
              "enabled=true running=false connection_active=false window=none host=none layer=none");
    f.inputs.enableCamera();
    EXPECT_EQ(f.presenter->showForAutomation(CaptureTarget::fullMainDisplay(), displays),
              "enabled=false running=false connection_active=false window=none host=none layer=none");
}
