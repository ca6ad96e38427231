#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

#include "capture/camera_preview_layer.hpp"
#include "selection/interactive_screen_selection.hpp"
#include "selection/recording_view_test_support.hpp"
#include "selection/selection_test_inputs.hpp"

using namespace yux;
using yux::testing::rendered;

namespace {

const DisplayBounds kMain{DisplayID{"1"}, 0, 0, 1280, 800};
const CaptureRect kArea{200, 150, 600, 400};
const QColor kDesktop(40, 160, 80);

void spin() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// A selection over a green desktop whose compositing manager runs until the test says.
struct SwitchingOverlay {
    std::shared_ptr<platform::CompositingManager> compositor = platform::CompositingManager::create_null(true);
    std::vector<Rect> frozen;
    yux::testing::SelectionTestInputs inputs;
    std::unique_ptr<CameraOverlayPresenter> camera;
    std::unique_ptr<InteractiveScreenSelection> service;
    QCoro::Task<ScreenSelectionOutcome> task;

    SwitchingOverlay() {
        inputs.start();
        inputs.enableCamera();
        inputs.runtime->previewLayer()->setPicture(platform::PixelBuffer::create(32, 18));
        const auto freeze = [this](const Rect& rect) {
            frozen.push_back(rect);
            QImage picture(static_cast<int>(rect.width), static_cast<int>(rect.height), QImage::Format_RGB32);
            picture.fill(kDesktop);
            return picture;
        };
        CameraOverlayPresenter::Services cameraServices;
        cameraServices.compositor = compositor;
        cameraServices.freeze = freeze;
        camera = std::make_unique<CameraOverlayPresenter>(inputs.controller.get(), inputs.runtime, cameraServices);
        SelectionOverlayServices services;
        services.compositor = compositor;
        services.freeze = freeze;
        service = std::make_unique<InteractiveScreenSelection>(
            ScreenSelectionGeometry{8, 24}, GlobalHotKey::create_null(), inputs.controller.get(), camera.get(), services);
        CapturePreference preference;
        preference.lastArea = SelectedCaptureArea{kMain.displayID, kArea};
        task = service->startSelection(preference, {kMain});
        spin();
    }
    SelectionOverlayPresenter& presenter() { return *service->activePresenter(); }
    void record() {
        camera->finishEditing();
        presenter().keyPressed(Qt::Key_Return, presenter().selectionWindow());
        platform::waitForTask(task);
        platform::waitForTask(service->showRecordingControls());
        spin();
    }
};

}  // namespace

// Outside the area the selection dims the desktop: over the still picture without a
// compositing manager (opaque pixels), over nothing with one (the compositor blends).
TEST(OverlayPaintMode, TheSelectionDimsAStillPictureOnlyWhileNoCompositorRuns) {
    SwitchingOverlay o;
    auto* view = o.presenter().selectionWindow();
    ASSERT_NE(view, nullptr);
    const QPoint outside(50, 50);
    EXPECT_NEAR(rendered(*view).pixelColor(outside).alphaF(), 0.38, 0.01);
    EXPECT_TRUE(o.frozen.empty());

    o.compositor->simulate_change(false);
    EXPECT_EQ(o.presenter().paintMode(), OverlayPaintMode::opaque);
    ASSERT_EQ(o.frozen.size(), 1u);
    EXPECT_EQ(o.frozen[0], frameOf(kMain));
    const QColor still = rendered(*view).pixelColor(outside);
    EXPECT_EQ(still.alpha(), 255);
    EXPECT_NEAR(still.green(), kDesktop.green() * 0.62, 3);

    o.compositor->simulate_change(true);
    EXPECT_NEAR(rendered(*view).pixelColor(outside).alphaF(), 0.38, 0.01);
    // The same window and the same selection all along.
    EXPECT_EQ(o.presenter().selectionWindow(), view);
    EXPECT_TRUE(o.presenter().pending());
}

// While recording, without a compositing manager each window is cut to what it paints, so
// the live desktop shows around the outline, the tray and the bubble; with one, nothing is cut.
TEST(OverlayPaintMode, RecordingWindowsAreCutToWhatTheyPaintOnlyWhileNoCompositorRuns) {
    SwitchingOverlay o;
    o.record();
    ASSERT_NE(o.presenter().trayWindow(), nullptr);
    const struct {
        const char* name;
        QWidget* window;
        QPoint painted;  // window coordinates
    } windows[] = {
        {"highlight", o.presenter().highlightWindow(), QPoint(static_cast<int>(kArea.x) - 2, 300)},
        {"tray", o.presenter().trayWindow(), o.presenter().trayWindow()->rect().center()},
        {"bubble", o.camera->imageWindow(), o.camera->imageWindow()->rect().center()},
    };
    for (const auto& w : windows) EXPECT_TRUE(w.window->mask().isEmpty()) << w.name;

    o.compositor->simulate_change(false);
    for (const auto& w : windows) {
        EXPECT_TRUE(w.window->mask().contains(w.painted)) << w.name;
        EXPECT_FALSE(w.window->mask().contains(QPoint(0, 0))) << w.name;
    }
    o.compositor->simulate_change(true);
    for (const auto& w : windows) EXPECT_TRUE(w.window->mask().isEmpty()) << w.name;
    EXPECT_NEAR(rendered(*o.presenter().highlightWindow()).pixelColor(10, 10).alphaF(), 0.22, 0.01);
    platform::waitForTask(o.service->hideOverlay());
}

// Framing the camera while the compositing manager stops: the ghost gets the still desktop
// under it at once, and drops it when one starts again.
TEST(OverlayPaintMode, TheGhostGetsAStillDesktopWhenTheCompositorStops) {
    SwitchingOverlay o;
    const Rect bubble = o.camera->frame();
    o.camera->zoomed({bubble.midX(), bubble.midY()}, 2);
    o.camera->setCropping(true);
    o.camera->render();
    auto* ghost = o.camera->ghostWindow();
    ASSERT_TRUE(ghost->isVisible());
    o.frozen.clear();

    o.compositor->simulate_change(false);
    // The selection's display and the ghost's own place.
    const QRect place = ghost->geometry();
    const Rect ghostPlace{static_cast<double>(place.x()), static_cast<double>(place.y()),
                          static_cast<double>(place.width()), static_cast<double>(place.height())};
    EXPECT_EQ(o.frozen.size(), 2u);
    EXPECT_NE(std::find(o.frozen.begin(), o.frozen.end(), ghostPlace), o.frozen.end());
    const QColor behind = rendered(*ghost).pixelColor(place.width() / 2, 2);
    EXPECT_EQ(behind.alpha(), 255);
    EXPECT_GT(behind.green(), behind.red());

    o.compositor->simulate_change(true);
    EXPECT_LT(rendered(*ghost).pixelColor(place.width() / 2, 2).alpha(), 255);
}

// The contents of other windows are kept only while an overlay shows.
TEST(OverlayPaintMode, WindowContentsAreHeldOnlyWhileTheOverlayShows) {
    SwitchingOverlay o;
    EXPECT_EQ(o.compositor->holds(), 2);  // the selection and the bubble
    o.record();
    EXPECT_EQ(o.compositor->holds(), 2);
    platform::waitForTask(o.service->hideOverlay());
    EXPECT_EQ(o.compositor->holds(), 0);

    SwitchingOverlay cancelled;
    platform::waitForTask(cancelled.service->cancelSelection());
    platform::waitForTask(cancelled.task);
    EXPECT_EQ(cancelled.compositor->holds(), 0);
}
