#include <gtest/gtest.h>

// Mouse events go through the window, as the desktop's do: the widget under the pointer gets
// the press and keeps the moves and the release that follow it.
#define QTEST_QPA_MOUSE_HANDLING
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QToolButton>

#include "capture/camera_preview_layer.hpp"
#include "capture/capture_input_controls.hpp"
#include "platform/async/wait_for.hpp"
#include "selection/camera_overlay_presenter.hpp"
#include "selection/interactive_screen_selection.hpp"
#include "selection/interactive_tray_overlay_view.hpp"
#include "selection/selection_test_inputs.hpp"
#include "support/proportional_digits_font.hpp"
#include "support/screenshot_writer.hpp"

using namespace yux;
using yux::platform::waitForTask;

namespace {

const DisplayBounds kMain{DisplayID{"1"}, 0, 0, 1280, 800};
const ScreenSelectionGeometry kGeometry{8, 24};
const CaptureRect kArea{300, 200, 500, 300};

void spin() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

CapturePreference areaPreference(CaptureRect rect) {
    CapturePreference preference;
    preference.lastArea = SelectedCaptureArea{DisplayID{"1"}, rect};
    return preference;
}

CapturePreference appPreference(std::optional<std::string> application = std::nullopt) {
    CapturePreference preference;
    preference.mode = CaptureMode::app;
    preference.lastApplication = std::move(application);
    return preference;
}

// One selection on screen, with input controls and, when asked, the camera bubble.
struct Overlay {
    yux::testing::SelectionTestInputs inputs;
    platform::SystemLog log = platform::SystemLog::create_null();
    platform::OutputTracker<platform::SystemLogLine> lines = log.track_lines();
    std::unique_ptr<CameraOverlayPresenter> camera;
    std::unique_ptr<InteractiveScreenSelection> service;
    QCoro::Task<ScreenSelectionOutcome> task;

    using SetUp = std::function<void(yux::testing::SelectionTestInputs&)>;

    // `setUp` starts the inputs in a state of its choosing.
    explicit Overlay(CapturePreference preference, std::vector<DesktopApplicationWindow> windows = {},
                     bool withCamera = false, const SetUp& setUp = {}, const DisplayBounds& display = kMain) {
        if (setUp) setUp(inputs);
        else inputs.start();
        if (withCamera) {
            inputs.enableCamera();
            auto picture = platform::PixelBuffer::create(32, 18);
            inputs.runtime->previewLayer()->setPicture(picture);
            camera = std::make_unique<CameraOverlayPresenter>(inputs.controller.get(), inputs.runtime,
                                                              CameraOverlayPresenter::Services{});
        }
        SelectionOverlayServices services;
        services.compositor = platform::CompositingManager::create_null(false);
        services.log = log;
        services.catalog = [windows] { return DesktopApplicationCatalog::create_null(windows); };
        service = std::make_unique<InteractiveScreenSelection>(kGeometry, GlobalHotKey::create_null(),
                                                               inputs.controller.get(), camera.get(), services);
        task = service->startSelection(std::move(preference), {display});
        spin();
    }
    ~Overlay() {
        if (service->activePresenter() && service->activePresenter()->pending()) {
            waitForTask(service->cancelSelection());
            waitForTask(task);
        }
    }
    SelectionOverlayView& view() { return *service->activePresenter()->selectionWindow(); }
    SelectionOverlayViewModel& model() { return *service->activePresenter()->viewModel(); }
    SelectionControlBar& bar() { return *view().controlBar(); }
    int gestures() const {
        int count = 0;
        for (const auto& line : lines.data()) count += line.message.rfind("capture_area_gesture_start", 0) == 0;
        return count;
    }
};

QPoint centreIn(QWidget& parent, QWidget& child) { return child.mapTo(&parent, child.rect().center()); }

// Places on the bar that are no button: a click there belongs to the bar alone.
std::vector<std::pair<std::string, QPoint>> barPlaces(SelectionControlBar& bar, CaptureMode mode) {
    auto* picker = bar.modePicker();
    auto* slot = bar.inputsSlot();
    auto* microphone = slot->findChild<QWidget*>("capture-input-microphone");
    auto* camera = slot->findChild<QWidget*>("capture-input-camera");
    const int gapX = (microphone->mapTo(&bar, QPoint(microphone->width(), 0)).x() + camera->mapTo(&bar, QPoint()).x()) / 2;
    std::vector<std::pair<std::string, QPoint>> places = {
        {"picker", picker->mapTo(&bar, picker->buttonRect(mode).center().toPoint())},
        {"background", QPoint(2, bar.height() / 2)},
        {"gap between the inputs", QPoint(gapX, centreIn(bar, *camera).y())},
    };
    if (mode != CaptureMode::app) {
        // The size label between the ratio menu and the inputs.
        auto* menu = bar.menuButton();
        const int left = menu->geometry().right();
        places.emplace_back("label", QPoint((left + slot->x()) / 2, bar.height() / 2));
    }
    return places;
}

// The parts of the input controls lie inside `container`, in one row band, and apart.
void expectFits(QWidget& container, QWidget& controls, const std::string& what) {
    constexpr int kRowHeight = 28;
    EXPECT_LE(controls.height(), kRowHeight) << what;
    std::vector<std::pair<QWidget*, QRect>> parts;
    for (QWidget* part : controls.findChildren<QWidget*>()) {
        if (!part->isVisibleTo(&container) || !part->findChildren<QWidget*>().isEmpty()) continue;
        const QRect r(part->mapTo(&container, QPoint()), part->size());
        EXPECT_TRUE(container.rect().contains(r))
            << what << ": " << part->objectName().toStdString() << " at " << r.y() << ".." << r.bottom();
        if (part->objectName() != "capture-input-busy") parts.emplace_back(part, r);
    }
    for (std::size_t i = 0; i < parts.size(); ++i)
        for (std::size_t j = i + 1; j < parts.size(); ++j)
            EXPECT_FALSE(parts[i].second.intersects(parts[j].second))
                << what << ": " << parts[i].first->objectName().toStdString() << " and "
                << parts[j].first->objectName().toStdString();
}

void jitteredClick(QWidget& widget, QPoint at, QPoint jitter) {
    QTest::mousePress(&widget, Qt::LeftButton, {}, at);
    QTest::mouseMove(&widget, at + QPoint(1, 0));
    QTest::mouseMove(&widget, at + jitter);
    QTest::mouseRelease(&widget, Qt::LeftButton, {}, at + jitter);
}

}  // namespace

TEST(SelectionOverlayView, PressesOnTheBarLeaveTheAreaAndRecordTakesTheAreaDrawn) {
    for (const std::string place : {"picker", "background", "gap between the inputs", "label"}) {
        Overlay o(areaPreference(kArea));
        auto& bar = o.bar();
        QPoint at;
        for (const auto& [name, point] : barPlaces(bar, CaptureMode::area))
            if (name == place) at = point;
        ASSERT_FALSE(qobject_cast<QAbstractButton*>(bar.childAt(at))) << place;
        jitteredClick(bar, at, QPoint(1, 1));
        EXPECT_EQ(o.model().rect(), rectOf(kArea)) << place;
        EXPECT_EQ(o.model().mode(), CaptureMode::area) << place;
        EXPECT_EQ(o.gestures(), 0) << place;

        // Record, pressed with a hand that moves a little, records the area drawn.
        jitteredClick(bar, centreIn(bar, *bar.recordButton()), QPoint(2, 1));
        spin();
        ASSERT_TRUE(o.task.isReady()) << place;
        const auto outcome = waitForTask(o.task);
        const auto* confirmed = std::get_if<ScreenSelectionOutcome::Confirmed>(&outcome.value);
        ASSERT_NE(confirmed, nullptr) << place;
        EXPECT_EQ(confirmed->selection.target.asArea()->rect, kArea) << place;
    }
}

TEST(SelectionOverlayView, ClicksOnTheBarDoNotPickTheWindowBeneath) {
    const std::vector<DesktopApplicationWindow> windows = {{1, "Gedit", "Text Editor", {0, 0, 1280, 800}}};
    for (const std::string place : {"picker", "background", "gap between the inputs"}) {
        Overlay o(appPreference(), windows);
        auto& bar = o.bar();
        QPoint at;
        for (const auto& [name, point] : barPlaces(bar, CaptureMode::app))
            if (name == place) at = point;
        QTest::mouseClick(&bar, Qt::LeftButton, {}, at);
        EXPECT_EQ(o.model().capturePreference().lastApplication, std::nullopt) << place;
        EXPECT_EQ(o.model().mode(), CaptureMode::app) << place;
    }
    // Beside the bar a click picks the window.
    Overlay o(appPreference(), windows);
    QTest::mouseClick(&o.view(), Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(o.model().capturePreference().lastApplication, std::optional<std::string>("Gedit"));
}

TEST(SelectionOverlayView, APickerClickChoosesTheModeItWasPressedOn) {
    Overlay o(areaPreference(kArea));
    auto* picker = o.bar().modePicker();
    const QPoint app = picker->buttonRect(CaptureMode::app).center().toPoint();
    const QPoint screen = picker->buttonRect(CaptureMode::screen).center().toPoint();
    // Pressed on one button and let go on another: nothing.
    QTest::mousePress(picker, Qt::LeftButton, {}, app);
    QTest::mouseMove(picker, screen);
    QTest::mouseRelease(picker, Qt::LeftButton, {}, screen);
    EXPECT_EQ(o.model().mode(), CaptureMode::area);
    EXPECT_EQ(o.model().rect(), rectOf(kArea));
    QTest::mouseClick(picker, Qt::LeftButton, {}, screen);
    EXPECT_EQ(o.model().mode(), CaptureMode::screen);
}

TEST(SelectionOverlayView, NumbersKeepTheirWidthAndThePickerReadsAsThreeCheckedButtons) {
    test::ProportionalDigitsFont face;
    ASSERT_TRUE(face.digitsDiffer());
    const DisplayBounds twoPixelsPerPoint{DisplayID{"1"}, 0, 0, 1280, 800, 2560, 1600};
    Overlay o(areaPreference({100, 100, 500, 500}), {}, false, {}, twoPixelsPerPoint);
    const auto labelFor = [&](double side) {
        o.model().setRect(Rect{100, 100, side, side});
        return std::make_pair(o.model().targetLabel(), o.view().targetLabelRect().width());
    };
    const auto [wide, wideWidth] = labelFor(500);
    const auto [narrow, narrowWidth] = labelFor(559);
    EXPECT_EQ(wide, "1000 \u00d7 1000");
    EXPECT_EQ(narrow, "1118 \u00d7 1118");
    EXPECT_DOUBLE_EQ(narrowWidth, wideWidth);
    const auto start = std::chrono::steady_clock::now();
    const auto timeWidth = [&](int seconds) {
        InteractiveTrayOverlayView tray(&o.model(), start, {400, 40}, false, {}, OverlayPaintMode::opaque,
                                        [&] { return start + std::chrono::seconds(seconds); });
        return std::make_pair(tray.elapsedText(), tray.layout().time.width());
    };
    EXPECT_EQ(timeWidth(671).second, timeWidth(0).second) << timeWidth(671).first.toStdString();

    auto* picker = QAccessible::queryAccessibleInterface(o.bar().modePicker());
    ASSERT_NE(picker, nullptr);
    ASSERT_EQ(picker->childCount(), 3);
    const auto expectChecked = [&](int checked) {
        const char* names[] = {"Area", "App", "Screen"};
        for (int i = 0; i < 3; ++i) {
            QAccessibleInterface* button = picker->child(i);
            EXPECT_EQ(button->role(), QAccessible::Button) << i;
            EXPECT_EQ(button->text(QAccessible::Name).toStdString(), names[i]);
            EXPECT_EQ(button->state().checked, i == checked) << names[i];
            EXPECT_EQ(picker->indexOfChild(button), i);
        }
    };
    expectChecked(0);
    picker->child(2)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(o.model().mode(), CaptureMode::screen);
    expectChecked(2);
}

TEST(SelectionOverlayView, TheApplicationMenuListsEachApplicationOnceByIdentifierAndItsLabelKeepsToOneLine) {
    const std::string longName = "Smith & Sons Bookkeeping for Small Businesses";
    const std::vector<DesktopApplicationWindow> windows = {
        {1, "org.zeta", longName, {10, 10, 300, 580}},
        {2, "org.beta", "Zed", {50, 50, 200, 150}},
        {3, "org.zeta", longName, {100, 100, 100, 100}},
    };
    // A narrow display: the bar is three rows and the menu spans its width.
    Overlay o(appPreference("org.zeta"), windows, false, {}, DisplayBounds{DisplayID{"1"}, 0, 0, 324, 600});
    QToolButton* menu = o.bar().menuButton();
    emit menu->menu()->aboutToShow();
    QStringList titles;
    for (QAction* item : menu->menu()->actions()) titles << item->iconText();
    EXPECT_EQ(titles, (QStringList{"Zed", QString::fromStdString(longName)}));

    const QString shown = menu->text().replace(QStringLiteral("&&"), QStringLiteral("&"));
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Smith & Sons"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
    EXPECT_LE(menu->sizeHint().width(), menu->width());
    yux::test::writeScreenshot(o.view().grab(o.bar().geometry().adjusted(-12, -12, 12, 12)).toImage(),
                               QStringLiteral("selection-bar-app-menu-narrow"));
}

TEST(SelectionOverlayView, EveryPressStartsAFreshDrag) {
    Overlay o(CapturePreference::initial());
    auto& view = o.view();
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(&view, QPoint(300, 250));
    EXPECT_EQ(o.model().rect(), (Rect{100, 100, 200, 150}));
    // The release went elsewhere; the next press draws from where it is.
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(600, 500));
    QTest::mouseMove(&view, QPoint(700, 560));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(700, 560));
    EXPECT_EQ(o.model().rect(), (Rect{600, 500, 100, 60}));
    EXPECT_EQ(o.gestures(), 2);
}

TEST(SelectionOverlayView, APressOnTheBubblesRimIsTheBubblesOwn) {
    // Another application's window lies under the bubble's right rim.
    const std::vector<DesktopApplicationWindow> windows = {{2, "Firefox", "Firefox", {870, 100, 60, 600}},
                                                           {1, "Gedit", "Text Editor", {100, 100, 800, 500}}};
    Overlay o(appPreference("Gedit"), windows, true);
    ASSERT_NE(o.camera->imageWindow(), nullptr);
    const Rect bubble = o.camera->frame();
    const QPoint rim(static_cast<int>(bubble.maxX()) + 6, static_cast<int>(bubble.midY()));
    ASSERT_TRUE(rectOf(windows[0].frame).contains(Point{static_cast<double>(rim.x()), static_cast<double>(rim.y())}));
    o.camera->finishEditing();
    ASSERT_FALSE(o.camera->selected());

    QTest::mouseClick(&o.view(), Qt::LeftButton, {}, rim);
    EXPECT_TRUE(o.camera->selected());
    EXPECT_EQ(o.model().capturePreference().lastApplication, std::optional<std::string>("Gedit"));
    // Dragged by its rim, the bubble moves and the overlay draws nothing.
    const Rect before = o.camera->frame();
    QTest::mousePress(&o.view(), Qt::LeftButton, {}, rim);
    QTest::mouseMove(&o.view(), rim + QPoint(-60, -40));
    QTest::mouseRelease(&o.view(), Qt::LeftButton, {}, rim + QPoint(-60, -40));
    EXPECT_NE(o.camera->frame(), before);
    EXPECT_EQ(o.model().capturePreference().lastApplication, std::optional<std::string>("Gedit"));
}

TEST(SelectionOverlayView, TheInputButtonsLeaveTheKeyboardToTheOverlay) {
    Overlay o(areaPreference(kArea));
    o.view().activateWindow();
    spin();
    for (auto* button : o.bar().inputsSlot()->findChildren<QAbstractButton*>())
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus) << button->objectName().toStdString();
    const bool camera = o.inputs.controller->enabled(CaptureInputKind::camera);
    // Space goes to whatever has the keyboard.
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Space);
    spin();
    EXPECT_EQ(o.inputs.controller->enabled(CaptureInputKind::camera), camera);
    EXPECT_FALSE(qobject_cast<QAbstractButton*>(QApplication::focusWidget()));
}

TEST(SelectionOverlayView, TheInputControlsFitTheBarAndTheTrayInEveryState) {
    using Inputs = yux::testing::SelectionTestInputs;
    const CaptureDevice microphone{"alsa_input.usb-mic", "USB Mic"};
    const auto withMicrophone = [microphone](Inputs& inputs) { inputs.platform->options.microphones = {microphone}; };
    // Switched on last time, its device gone since.
    const auto microphoneGone = [](Inputs& inputs) {
        CaptureInputPreferences stored;
        stored.microphoneEnabled = true;
        stored.microphoneDeviceID = "alsa_input.unplugged";
        inputs.memory.store(stored);
    };
    struct State {
        const char* name;
        Overlay::SetUp setUp;
    };
    const State states[] = {
        {"off", [&](Inputs& i) { withMicrophone(i); i.start(); }},
        {"on",
         [&](Inputs& i) {
             withMicrophone(i);
             i.start();
             waitForTask(i.controller->select(CaptureInputKind::microphone, microphone.id));
             i.enableCamera();
         }},
        {"no-devices",
         [](Inputs& i) {
             i.platform->options.cameras = {};
             i.start();
         }},
        {"microphone-on-without-device",
         [&](Inputs& i) {
             microphoneGone(i);
             i.start();
         }},
        {"camera-refused",
         [&](Inputs& i) {
             withMicrophone(i);
             i.platform->options.cameraAccess = false;
             i.start();
             i.enableCamera();
         }},
        {"both-warn",
         [&](Inputs& i) {
             microphoneGone(i);
             i.platform->options.cameraAccess = false;
             i.start();
             i.enableCamera();
         }},
        {"busy", [](Inputs& i) { i.holdBusy(); }},
        {"recording",
         [&](Inputs& i) {
             withMicrophone(i);
             i.start();
             waitForTask(i.controller->select(CaptureInputKind::microphone, microphone.id));
             i.controller->beginRecording();
         }},
    };
    QImage desktop(1280, 800, QImage::Format_RGB32);
    desktop.fill(QColor(0x33, 0x66, 0x99));
    for (const auto& state : states) {
        Overlay o(areaPreference(kArea), {}, false, state.setUp);
        auto& bar = o.bar();
        o.view().setFrozenBackground(desktop);
        spin();
        auto* controls = qobject_cast<CaptureInputControls*>(bar.inputsSlot());
        ASSERT_NE(controls, nullptr) << state.name;
        expectFits(bar, *controls, std::string("bar, ") + state.name);
        EXPECT_LE(controls->geometry().right(), bar.recordButton()->geometry().left()) << state.name;
        yux::test::writeScreenshot(o.view().grab(bar.geometry().adjusted(-12, -12, 12, 12)).toImage(),
                                   QString("overlay-bar-inputs-") + state.name);

        InteractiveTrayOverlayView tray(&o.model(), std::chrono::steady_clock::now(), {400, 40}, false, {},
                                        OverlayPaintMode::opaque);
        tray.show();
        spin();
        auto* trayControls = qobject_cast<CaptureInputControls*>(tray.inputsSlot());
        ASSERT_NE(trayControls, nullptr) << state.name;
        expectFits(tray, *trayControls, std::string("tray, ") + state.name);
        EXPECT_LE(trayControls->geometry().right(), tray.layout().label.left()) << state.name;
        yux::test::writeScreenshot(tray, QString("recording-tray-inputs-") + state.name);
        if (o.inputs.controller->busy()) o.inputs.release();
    }
}
