#include <gtest/gtest.h>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QApplication>
#include <QImage>
#include <QScreen>

#include <algorithm>

#include "capture/camera_preview_layer.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/x11/x11_frame_source.hpp"
#include "selection/camera_overlay_presenter.hpp"
#include "selection/interactive_screen_selection.hpp"
#include "selection/selection_test_inputs.hpp"
#include "support/screenshot_writer.hpp"
#include "support/test_compositor.hpp"
#include "support/x11_test_client.hpp"
#include "support/x11_test_window.hpp"

using namespace yux;
using yux::testing::processEventsFor;
using yux::testing::processEventsUntil;

namespace {

constexpr std::uint32_t kWindowColour = 0x2a7fd4;

// Presses of the primary button as another client sees them, and XTest clicks.
class ClickProbe {
public:
    ClickProbe(int x, int y, int width, int height) : connection_(xcb_connect(nullptr, nullptr)) {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        root_ = screen->root;
        window_ = xcb_generate_id(connection_);
        const std::uint32_t values[] = {0x7fd42a, 1, XCB_EVENT_MASK_BUTTON_PRESS};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, root_, static_cast<std::int16_t>(x),
                          static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                          static_cast<std::uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(connection_, window_);
        xcb_flush(connection_);
    }
    ~ClickProbe() {
        xcb_destroy_window(connection_, window_);
        xcb_disconnect(connection_);
    }
    void click(int x, int y) {
        xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_, static_cast<std::int16_t>(x),
                            static_cast<std::int16_t>(y), 0);
        xcb_test_fake_input(connection_, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(connection_, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(connection_);
    }
    bool pressed() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            const bool press = (event->response_type & 0x7f) == XCB_BUTTON_PRESS;
            std::free(event);
            if (press) presses_++;
        }
        return presses_ > 0;
    }

private:
    xcb_connection_t* connection_;
    xcb_window_t root_;
    xcb_window_t window_;
    int presses_ = 0;
};

// The primary button and the pointer of another client, through XTest, as a hand moves them.
class XTestPointer {
public:
    XTestPointer() : connection_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }
    ~XTestPointer() { xcb_disconnect(connection_); }
    void moveTo(QPoint p) {
        xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_,
                            static_cast<std::int16_t>(p.x()), static_cast<std::int16_t>(p.y()), 0);
        settle();
    }
    void button(bool down) {
        xcb_test_fake_input(connection_, down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE,
                            0, 0, 0);
        settle();
    }
    // Pressed at `at`, moved a little (unless the jitter is null), let go.
    void jitteredClick(QPoint at, QPoint jitter) {
        moveTo(at);
        button(true);
        if (!jitter.isNull()) {
            moveTo(at + QPoint(1, 0));
            moveTo(at + jitter);
        }
        button(false);
    }
    // Our windows among the root's children, bottom first.
    std::vector<xcb_window_t> stacking() {
        std::vector<xcb_window_t> windows;
        auto* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr);
        if (tree == nullptr) return windows;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        windows.assign(children, children + xcb_query_tree_children_length(tree));
        std::free(tree);
        return windows;
    }

private:
    void settle() {
        xcb_flush(connection_);
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        processEventsFor(60);
    }

    xcb_connection_t* connection_;
    xcb_window_t root_;
};

long stackIndex(const std::vector<xcb_window_t>& stacking, const QWidget* window) {
    const auto found = std::find(stacking.begin(), stacking.end(), static_cast<xcb_window_t>(window->winId()));
    return found == stacking.end() ? -1 : found - stacking.begin();
}

QPoint globalCentre(QWidget& widget) { return widget.mapToGlobal(widget.rect().center()); }

// The whole screen, our windows included.
QImage screen() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }

void saveScreen(const char* name) { yux::test::writeScreenshot(screen(), QString::fromUtf8(name)); }

// What the recorder would see: the capture layer's first picture, our windows left out.
QImage captured(const Rect& region) {
    platform::FrameSourceSettings settings;
    settings.region = {static_cast<int>(region.x), static_cast<int>(region.y), static_cast<int>(region.width),
                       static_cast<int>(region.height)};
    settings.showsCursor = false;
    QImage picture;
    std::mutex mutex;
    platform::X11FrameSource source(settings, [&](platform::SampleBuffer sample) {
        const auto* pixels = sample.picture();
        std::lock_guard lock(mutex);
        if (pixels && picture.isNull())
            picture = QImage(pixels->data(), pixels->width(), pixels->height(),
                             static_cast<qsizetype>(pixels->stride()), QImage::Format_RGB32)
                          .copy();
    });
    source.start();
    processEventsUntil([&] {
        std::lock_guard lock(mutex);
        return !picture.isNull();
    }, 3000);
    source.stop();
    return picture;
}

bool isWindowColour(const QColor& c) {
    return std::abs(c.red() - 0x2a) < 6 && std::abs(c.green() - 0x7f) < 6 && std::abs(c.blue() - 0xd4) < 6;
}

struct DesktopFixture {
    yux::testing::SelectionTestInputs inputs;
    std::unique_ptr<CameraOverlayPresenter> camera;
    std::unique_ptr<InteractiveScreenSelection> service;
    std::vector<DisplayBounds> displays;
    platform::SystemLog log = platform::SystemLog::create_null();
    platform::OutputTracker<platform::SystemLogLine> lines = log.track_lines();

    DesktopFixture() {
        inputs.start();
        inputs.enableCamera();
        // The null runtime's picture: a test card of colour bands.
        auto picture = platform::PixelBuffer::create(320, 180);
        const std::uint32_t bands[] = {0xffe6e6e6, 0xffe6c800, 0xff00c8c8, 0xff00c800, 0xffc800c8, 0xffc80000};
        for (int y = 0; y < 180; ++y)
            for (int x = 0; x < 320; ++x)
                reinterpret_cast<std::uint32_t*>(picture.row(y))[x] = bands[x * 6 / 320];
        inputs.runtime->previewLayer()->setPicture(picture);
        auto live = SelectionOverlayServices::live();
        live.log = log;
        camera = std::make_unique<CameraOverlayPresenter>(inputs.controller.get(), inputs.runtime,
                                                          CameraOverlayPresenter::Services::live());
        service = std::make_unique<InteractiveScreenSelection>(ScreenSelectionGeometry{8, 24}, GlobalHotKey::create(),
                                                               inputs.controller.get(), camera.get(), live);
        const QRect geometry = QGuiApplication::primaryScreen()->geometry();
        displays = {DisplayBounds(DisplayID{"1"}, geometry.x(), geometry.y(), geometry.width(), geometry.height())};
    }
};

// Waits until the selection window is up; false when it never comes.
bool selectionShown(DesktopFixture& f) {
    return processEventsUntil(
        [&] { return f.service->activePresenter() && f.service->activePresenter()->selectionWindow(); }, 2000);
}

// A window of another application, placed by the window manager.
yux::testing::X11TestWindow::Options applicationWindow(QRect frame, std::string applicationClass,
                                                       std::int32_t processID) {
    yux::testing::X11TestWindow::Options options;
    options.x = frame.x();
    options.y = frame.y();
    options.width = frame.width();
    options.height = frame.height();
    options.rgb = kWindowColour;
    options.overrideRedirect = false;
    options.applicationClass = std::move(applicationClass);
    options.processID = processID;
    return options;
}

CapturePreference areaPreference(CaptureRect rect) {
    CapturePreference preference;
    preference.lastArea = SelectedCaptureArea{DisplayID{"1"}, rect};
    return preference;
}

}  // namespace

TEST(SelectionOverlayOnTheDesktop, EscapeTypedOnTheKeyboardCancels) {
    DesktopFixture f;
    auto task = f.service->startSelection(areaPreference({300, 200, 500, 300}), f.displays);
    selectionShown(f);
    processEventsFor(300);
    yux::testing::X11TestClient keyboard;
    keyboard.tap(yux::testing::TestKey::escape);
    ASSERT_TRUE(processEventsUntil([&] { return task.isReady(); }, 3000));
    const auto outcome = platform::waitForTask(task);
    EXPECT_TRUE(std::holds_alternative<ScreenSelectionOutcome::Cancelled>(outcome.value));
}

TEST(SelectionOverlayOnTheDesktop, AreaBubbleTrayAndHighlightLeaveTheDesktopUsable) {
    const auto options = applicationWindow({200, 150, 900, 600}, "YuxOverlayNeighbour", 900202);
    yux::testing::X11TestWindow neighbour(options);
    ASSERT_TRUE(neighbour.waitUntilViewable());
    processEventsFor(300);

    DesktopFixture f;
    const CaptureRect area{300, 250, 640, 400};
    auto task = f.service->startSelection(areaPreference(area), f.displays);
    ASSERT_TRUE(selectionShown(f));
    processEventsFor(600);
    ASSERT_NE(f.camera->imageWindow(), nullptr);
    saveScreen("area-selected");
    // The bubble's tools show beside it.
    EXPECT_TRUE(f.camera->toolsWindow()->isVisible());
    saveScreen("bubble-with-tools");
    // Framing a zoomed bubble shows the whole picture faintly around it.
    const Rect bubble = f.camera->frame();
    f.camera->zoomed({bubble.midX(), bubble.midY()}, 2);
    f.camera->pointerPressed({bubble.midX(), bubble.midY()}, 2);
    f.camera->pointerReleased({bubble.midX(), bubble.midY()});
    processEventsFor(300);
    EXPECT_TRUE(f.camera->ghostWindow()->isVisible());
    saveScreen("bubble-framing");

    auto* presenter = f.service->activePresenter();
    presenter->viewModel()->setMode(CaptureMode::app);
    processEventsFor(700);  // the window list follows on the next poll
    auto* view = presenter->selectionWindow();
    view->hover(QPointF(600, 500));
    processEventsFor(200);
    saveScreen("application-picker");
    presenter->viewModel()->setMode(CaptureMode::area);
    processEventsFor(100);

    // The first Return accepts the bubble's editing (framing included), the second records.
    ASSERT_NE(f.camera->ghostWindow(), nullptr);
    EXPECT_TRUE(presenter->keyPressed(Qt::Key_Return, view));
    EXPECT_FALSE(f.camera->selected());
    EXPECT_FALSE(f.camera->ghostWindow()->isVisible());
    EXPECT_TRUE(presenter->pending());
    EXPECT_TRUE(presenter->keyPressed(Qt::Key_Return, view));
    const auto outcome = platform::waitForTask(task);
    ASSERT_TRUE(std::holds_alternative<ScreenSelectionOutcome::Confirmed>(outcome.value));
    platform::waitForTask(f.service->showRecordingControls());
    processEventsFor(1200);
    auto* tray = f.service->activePresenter()->trayWindow();
    ASSERT_NE(tray, nullptr);
    saveScreen("recording-tray");

    // While recording, a press on the bubble selects it and stays its own; a press in another
    // client's window deselects it.
    {
        ClickProbe elsewhere(1300, 200, 100, 100);
        processEventsFor(400);
        ASSERT_NE(f.camera->imageWindow(), nullptr);
        ASSERT_FALSE(f.camera->selected());
        const Rect shown = f.camera->frame();
        elsewhere.click(static_cast<int>(shown.midX()), static_cast<int>(shown.midY()));
        EXPECT_TRUE(processEventsUntil([&] { return f.camera->selected(); }, 2000));
        processEventsFor(300);
        EXPECT_TRUE(f.camera->selected());
        elsewhere.click(1350, 250);
        EXPECT_TRUE(processEventsUntil([&] { return !f.camera->selected(); }, 2000));
        EXPECT_TRUE(elsewhere.pressed());
    }


    // What is recorded under the outline and the tray is the window beneath, not our overlays.
    const QRect trayFrame = tray->geometry();
    const QImage underTray = captured({static_cast<double>(trayFrame.x()), static_cast<double>(trayFrame.y()),
                                       static_cast<double>(trayFrame.width()), static_cast<double>(trayFrame.height())});
    ASSERT_FALSE(underTray.isNull());
    EXPECT_TRUE(isWindowColour(underTray.pixelColor(underTray.width() / 2, underTray.height() / 2)));
    const QImage underOutline = captured({area.x - 10, area.y + 100, 20, 20});
    ASSERT_FALSE(underOutline.isNull());
    EXPECT_TRUE(isWindowColour(underOutline.pixelColor(8, 10)));

    // A click on the highlight's outline reaches the window beneath it.
    ClickProbe probe(static_cast<int>(area.x) - 20, static_cast<int>(area.y) + 150, 40, 40);
    processEventsFor(400);  // the poll raises our overlays above the probe again
    probe.click(static_cast<int>(area.x) - 2, static_cast<int>(area.y) + 170);
    EXPECT_TRUE(processEventsUntil([&] { return probe.pressed(); }, 2000));

    // A managed window raised later stays below the tray.
    yux::testing::X11TestWindow::Options later = options;
    later.x = trayFrame.x() - 50;
    later.y = trayFrame.y() - 50;
    later.width = trayFrame.width() + 100;
    later.height = trayFrame.height() + 100;
    later.rgb = 0xd42a2a;
    later.applicationClass = "YuxOverlayLater";
    yux::testing::X11TestWindow raised(later);
    ASSERT_TRUE(raised.waitUntilViewable());
    processEventsFor(800);
    const QImage shown = screen();
    const QColor atTray = shown.pixelColor(trayFrame.center());
    EXPECT_FALSE(atTray.red() > 180 && atTray.green() < 80) << "the later window covers the tray";

    platform::waitForTask(f.service->hideOverlay());
    EXPECT_EQ(f.camera->imageWindow(), nullptr);
}

// Typed on the keyboard: while a target is chosen, a click on the bubble gives the keyboard to
// its tools, so Tab stops changing the mode, and Return gives it back. While a take records, a
// click on the bubble leaves the keyboard with the program that had it.
TEST(SelectionOverlayOnTheDesktop, AClickOnTheBubbleTakesTheKeyboardOnlyWhileChoosing) {
    const CaptureRect area{300, 250, 640, 400};
    yux::testing::X11TestWindow recorded(
        applicationWindow({260, 210, 720, 480}, "YuxKeyboardNeighbour", 900404));
    ASSERT_TRUE(recorded.waitUntilViewable());
    DesktopFixture f;
    auto task = f.service->startSelection(areaPreference(area), f.displays);
    ASSERT_TRUE(selectionShown(f));
    processEventsFor(600);
    auto* presenter = f.service->activePresenter();
    yux::testing::X11TestClient keyboard;
    const auto holds = [&](const QWidget* window) {
        return processEventsUntil([&] { return keyboard.inputFocus() == static_cast<std::uint32_t>(window->winId()); },
                                  2000);
    };
    ASSERT_TRUE(holds(presenter->selectionWindow()));
    const Rect bubble = f.camera->frame();
    keyboard.click(static_cast<int>(bubble.midX()), static_cast<int>(bubble.midY()));
    EXPECT_TRUE(holds(f.camera->toolsWindow()));
    saveScreen("bubble-tools-with-the-keyboard");
    keyboard.tap(yux::testing::TestKey::tab);
    processEventsFor(300);
    EXPECT_EQ(presenter->viewModel()->mode(), CaptureMode::area);
    keyboard.tap(yux::testing::TestKey::returnKey);
    EXPECT_TRUE(processEventsUntil([&] { return !f.camera->selected(); }, 2000));
    EXPECT_TRUE(holds(presenter->selectionWindow()));
    EXPECT_TRUE(presenter->pending());
    keyboard.tap(yux::testing::TestKey::tab);
    EXPECT_TRUE(processEventsUntil([&] { return presenter->viewModel()->mode() == CaptureMode::app; }, 2000));
    presenter->viewModel()->setMode(CaptureMode::area);
    processEventsFor(300);

    f.camera->finishEditing();  // shown again with the area, the bubble starts selected
    ASSERT_TRUE(presenter->keyPressed(Qt::Key_Return, presenter->selectionWindow()));
    ASSERT_TRUE(processEventsUntil([&] { return task.isReady(); }, 3000));
    ASSERT_TRUE(std::holds_alternative<ScreenSelectionOutcome::Confirmed>(platform::waitForTask(task).value));
    platform::waitForTask(f.service->showRecordingControls());
    processEventsFor(400);
    // A click on the program gives it the keyboard, as its window manager does.
    keyboard.click(static_cast<int>(area.x) + 40, static_cast<int>(area.y) + 200);
    ASSERT_TRUE(processEventsUntil([&] { return keyboard.inputFocus() == recorded.id(); }, 2000));
    const Rect shown = f.camera->frame();
    keyboard.click(static_cast<int>(shown.midX()), static_cast<int>(shown.midY()));
    EXPECT_TRUE(processEventsUntil([&] { return f.camera->selected(); }, 2000));
    processEventsFor(300);
    EXPECT_EQ(keyboard.inputFocus(), recorded.id());
    platform::waitForTask(f.service->hideOverlay());
}

TEST(SelectionOverlayOnTheDesktop, PressesOnTheBarStayThereAndRecordTakesTheAreaDrawn) {
    DesktopFixture f;
    const CaptureRect area{300, 250, 640, 400};
    auto task = f.service->startSelection(areaPreference(area), f.displays);
    ASSERT_TRUE(selectionShown(f));
    processEventsFor(600);
    auto* presenter = f.service->activePresenter();
    auto* bar = presenter->selectionWindow()->controlBar();
    auto* picker = bar->modePicker();
    XTestPointer pointer;
    // The picker's current mode and the bar's own background, each pressed with a shaking hand.
    pointer.jitteredClick(picker->mapToGlobal(picker->buttonRect(CaptureMode::area).center().toPoint()), QPoint(1, 1));
    pointer.jitteredClick(bar->mapToGlobal(QPoint(2, bar->height() / 2)), QPoint(1, 1));
    EXPECT_EQ(presenter->viewModel()->rect(), rectOf(area));
    EXPECT_EQ(presenter->viewModel()->mode(), CaptureMode::area);

    const auto pointerLines = [&] {
        std::vector<std::string> found;
        for (const auto& line : f.lines.data())
            if (line.message.rfind("capture_selection_pointer", 0) == 0) found.push_back(line.message);
        return found;
    };
    const auto before = pointerLines().size();
    const QPoint record = globalCentre(*bar->recordButton());
    const QPoint local = record - presenter->selectionWindow()->mapToGlobal(QPoint());
    pointer.jitteredClick(record, QPoint(2, 1));
    ASSERT_TRUE(processEventsUntil([&] { return task.isReady(); }, 3000));
    // Each press and release in the window is logged once, those on the bar's controls too.
    const auto logged = pointerLines();
    ASSERT_EQ(logged.size(), before + 2);
    EXPECT_EQ(logged[before], "capture_selection_pointer type=leftMouseDown point=(" + std::to_string(local.x()) +
                                  ", " + std::to_string(local.y()) + ")");
    EXPECT_EQ(logged[before + 1].rfind("capture_selection_pointer type=leftMouseUp point=(", 0), 0u);
    const auto outcome = platform::waitForTask(task);
    const auto* confirmed = std::get_if<ScreenSelectionOutcome::Confirmed>(&outcome.value);
    ASSERT_NE(confirmed, nullptr);
    EXPECT_EQ(confirmed->selection.target.asArea()->rect, area);
    platform::waitForTask(f.service->hideOverlay());
}

TEST(SelectionOverlayOnTheDesktop, TheTrayStaysAboveTheHighlightAndBelowTheBubble) {
    DesktopFixture f;
    auto task = f.service->startSelection(areaPreference({300, 250, 640, 400}), f.displays);
    ASSERT_TRUE(selectionShown(f));
    auto* presenter = f.service->activePresenter();
    f.camera->finishEditing();
    ASSERT_TRUE(presenter->keyPressed(Qt::Key_Return, presenter->selectionWindow()));
    const auto outcome = platform::waitForTask(task);
    ASSERT_TRUE(std::holds_alternative<ScreenSelectionOutcome::Confirmed>(outcome.value));
    platform::waitForTask(f.service->showRecordingControls());
    XTestPointer server;
    // Each tray is a new window, made at a new address (so Qt lists it elsewhere among its
    // windows); wherever it is listed, it goes above the highlight.
    std::vector<std::unique_ptr<QWidget>> spacers;
    for (int round = 0; round < 24; ++round) {
        for (int i = 0; i <= round % 3; ++i) spacers.push_back(std::make_unique<QWidget>());
        presenter->showInteractiveTrayWindow(round % 2 == 1);
        processEventsFor(100);
        const auto stacking = server.stacking();
        const long highlight = stackIndex(stacking, presenter->highlightWindow());
        const long tray = stackIndex(stacking, presenter->trayWindow());
        const long bubble = stackIndex(stacking, f.camera->imageWindow());
        ASSERT_GE(highlight, 0);
        EXPECT_GT(tray, highlight) << "round " << round;
        EXPECT_GT(bubble, tray) << "round " << round;
    }
    platform::waitForTask(f.service->hideOverlay());
}

TEST(SelectionOverlayOnTheDesktop, ClicksOnTheBarDoNotPickTheWindowBeneath) {
    const auto options = applicationWindow({40, 40, 1840, 960}, "YuxUnderTheBar", 900303);
    yux::testing::X11TestWindow beneath(options);
    ASSERT_TRUE(beneath.waitUntilViewable());
    processEventsFor(300);

    DesktopFixture f;
    CapturePreference app;
    app.mode = CaptureMode::app;
    auto task = f.service->startSelection(app, f.displays);
    ASSERT_TRUE(selectionShown(f));
    auto* presenter = f.service->activePresenter();
    ASSERT_TRUE(processEventsUntil([&] { return !presenter->viewModel()->windows().empty(); }, 2000));
    processEventsFor(300);
    auto* bar = presenter->selectionWindow()->controlBar();
    auto* picker = bar->modePicker();
    const auto [left, top] = beneath.rootPosition();
    const QRect window(left, top, options.width, options.height);
    const QPoint background = bar->mapToGlobal(QPoint(2, bar->height() / 2));
    ASSERT_TRUE(window.contains(background));

    XTestPointer pointer;
    pointer.jitteredClick(picker->mapToGlobal(picker->buttonRect(CaptureMode::app).center().toPoint()), QPoint());
    pointer.jitteredClick(background, QPoint());
    EXPECT_EQ(presenter->viewModel()->capturePreference().lastApplication, std::nullopt);
    // Beside the bar the same window is picked.
    pointer.jitteredClick(QPoint(window.center().x(), window.top() + 100), QPoint());
    EXPECT_TRUE(processEventsUntil(
        [&] { return presenter->viewModel()->capturePreference().lastApplication.has_value(); }, 2000));
    platform::waitForTask(f.service->cancelSelection());
    platform::waitForTask(task);
}

namespace {

// The neighbour's colour under a black dim of `dim`: a picture of it, not black.
bool isWindowColourDimmed(const QColor& c, double dim) {
    const auto near = [dim](int value, int full) { return std::abs(value - full * (1 - dim)) < 8; };
    return near(c.red(), 0x2a) && near(c.green(), 0x7f) && near(c.blue(), 0xd4);
}

// Toggles the compositing manager and waits until the overlay has followed.
void switchCompositor(yux::testing::TestCompositor& compositor, const std::function<OverlayPaintMode()>& paintMode) {
    const OverlayPaintMode next =
        yux::testing::TestCompositor::running() ? OverlayPaintMode::opaque : OverlayPaintMode::translucent;
    ASSERT_TRUE(compositor.toggle());
    ASSERT_TRUE(processEventsUntil([&] { return paintMode() == next; }, 5000));
    processEventsFor(800);
}

const char* modeName(OverlayPaintMode mode) { return mode == OverlayPaintMode::opaque ? "opaque" : "translucent"; }

const CaptureRect kSwitchArea{300, 250, 640, 400};

// Another application's window around the area, the compositing manager the test switches,
// and the overlay.
struct SwitchingDesktop {
    yux::testing::X11TestWindow neighbour{applicationWindow({200, 150, 900, 600}, "YuxSwitchNeighbour", 900505)};
    bool neighbourShown = neighbour.waitUntilViewable();
    yux::testing::TestCompositor compositor;
    DesktopFixture f;

    QCoro::Task<ScreenSelectionOutcome> select() {
        return f.service->startSelection(areaPreference(kSwitchArea), f.displays);
    }
    // On the neighbour, outside the area.
    QPoint outside() {
        const auto [left, top] = neighbour.rootPosition();
        return {left + 40, top + 40};
    }
};

}  // namespace

// A compositing manager stops or starts while Yux waits, then twice while the user chooses:
// the selection shows as the desktop is now, the same selection goes on, dimming a picture of
// the desktop (a still one without a compositor), the bubble shows, and Record takes the area
// drawn before.
TEST(SelectionOverlayOnTheDesktop, TheSelectionFollowsTheCompositorBothWays) {
    SwitchingDesktop d;
    ASSERT_TRUE(d.neighbourShown);
    auto& f = d.f;
    ASSERT_TRUE(d.compositor.toggle());
    processEventsFor(500);
    const OverlayPaintMode before =
        yux::testing::TestCompositor::running() ? OverlayPaintMode::translucent : OverlayPaintMode::opaque;
    auto task = d.select();
    ASSERT_TRUE(selectionShown(f));
    processEventsFor(600);
    auto* presenter = f.service->activePresenter();
    EXPECT_EQ(presenter->paintMode(), before);
    SelectionOverlayView* view = presenter->selectionWindow();
    const QPoint outside = d.outside();
    const CaptureRect& area = kSwitchArea;
    const QPoint inside(static_cast<int>(area.x) + 100, static_cast<int>(area.y) + 300);
    for (int round = 0; round < 3; ++round) {
        if (round > 0) switchCompositor(d.compositor, [&] { return presenter->paintMode(); });
        const std::string mode = modeName(presenter->paintMode());
        saveScreen(("selection-" + std::to_string(round) + "-" + mode).c_str());
        const QImage shown = screen();
        EXPECT_TRUE(isWindowColourDimmed(shown.pixelColor(outside), 0.38))
            << mode << ": " << shown.pixelColor(outside).name().toStdString();
        EXPECT_TRUE(isWindowColour(shown.pixelColor(inside))) << mode;
        const Rect bubble = f.camera->frame();
        const QColor atBubble = shown.pixelColor(static_cast<int>(bubble.midX()), static_cast<int>(bubble.midY()));
        EXPECT_GT(atBubble.red() + atBubble.green() + atBubble.blue(), 150) << mode << ": the bubble is dark";
        EXPECT_EQ(presenter->selectionWindow(), view);
        EXPECT_TRUE(presenter->pending());
        EXPECT_EQ(presenter->viewModel()->rect(), rectOf(area));
    }
    f.camera->finishEditing();
    ASSERT_TRUE(presenter->keyPressed(Qt::Key_Return, view));
    const auto outcome = platform::waitForTask(task);
    const auto* confirmed = std::get_if<ScreenSelectionOutcome::Confirmed>(&outcome.value);
    ASSERT_NE(confirmed, nullptr);
    EXPECT_EQ(confirmed->selection.target.asArea()->rect, area);
}

// The same during a recording: the tray and the highlight stay (translucent with a
// compositor, masked to what they paint without one) and the take's pictures show the
// neighbour under them throughout.
TEST(SelectionOverlayOnTheDesktop, TheRecordingControlsFollowTheCompositorBothWays) {
    SwitchingDesktop d;
    ASSERT_TRUE(d.neighbourShown);
    auto& f = d.f;
    const CaptureRect& area = kSwitchArea;
    auto task = d.select();
    ASSERT_TRUE(selectionShown(f));
    auto* presenter = f.service->activePresenter();
    f.camera->finishEditing();
    ASSERT_TRUE(presenter->keyPressed(Qt::Key_Return, presenter->selectionWindow()));
    ASSERT_TRUE(std::holds_alternative<ScreenSelectionOutcome::Confirmed>(platform::waitForTask(task).value));
    platform::waitForTask(f.service->showRecordingControls());
    processEventsFor(800);
    auto* tray = presenter->trayWindow();
    auto* highlight = presenter->highlightWindow();
    ASSERT_NE(tray, nullptr);

    // The take: the whole screen, our windows left out, looked at under the tray and the outline.
    const QRect trayFrame = tray->geometry();
    const QPoint underTray = trayFrame.center();
    const QPoint underOutline(static_cast<int>(area.x) - 2, static_cast<int>(area.y) + 170);
    platform::FrameSourceSettings settings;
    settings.region = {0, 0, 1920, 1080};
    settings.showsCursor = false;
    std::mutex mutex;
    std::vector<std::pair<QColor, QColor>> looks;
    platform::X11FrameSource take(settings, [&](platform::SampleBuffer sample) {
        const auto* picture = sample.picture();
        if (picture == nullptr) return;
        const auto at = [picture](QPoint p) {
            return QColor::fromRgb(reinterpret_cast<const QRgb*>(picture->data() + p.y() * picture->stride())[p.x()]);
        };
        std::lock_guard lock(mutex);
        looks.emplace_back(at(underTray), at(underOutline));
    });
    take.start();

    const QPoint outside = d.outside();
    const TrayLayout layout = tray->layout();
    const QPoint stop = tray->mapToGlobal(layout.stop.center().toPoint() + QPoint(0, 6));
    for (int round = 0; round < 2; ++round) {
        switchCompositor(d.compositor, [&] { return presenter->paintMode(); });
        const OverlayPaintMode paintMode = presenter->paintMode();
        const std::string mode = modeName(paintMode);
        saveScreen(("recording-" + std::to_string(round + 1) + "-" + mode).c_str());
        const QImage shown = screen();
        const double dim = paintMode == OverlayPaintMode::translucent ? 0.22 : 0;
        EXPECT_TRUE(isWindowColourDimmed(shown.pixelColor(outside), dim))
            << mode << ": " << shown.pixelColor(outside).name().toStdString();
        const QColor red = shown.pixelColor(stop);
        EXPECT_TRUE(red.red() > 200 && red.green() < 100) << mode << ": no Stop at " << red.name().toStdString();
        EXPECT_EQ(presenter->trayWindow(), tray);
        EXPECT_EQ(presenter->highlightWindow(), highlight);
        EXPECT_FALSE(presenter->closed());
    }
    take.stop();
    std::lock_guard lock(mutex);
    ASSERT_FALSE(looks.empty());
    for (const auto& [tray, outline] : looks) {
        EXPECT_TRUE(isWindowColour(tray)) << tray.name().toStdString();
        EXPECT_TRUE(isWindowColour(outline)) << outline.name().toStdString();
    }
    platform::waitForTask(f.service->hideOverlay());
}
