#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>

#include "platform/async/wait_for.hpp"
#include "selection/interactive_screen_selection.hpp"
#include "selection/selection_test_inputs.hpp"

using namespace yux;
using yux::platform::waitForTask;

namespace {

const DisplayBounds kMain{DisplayID{"1"}, 0, 0, 1280, 800};
const ScreenSelectionGeometry kGeometry{8, 24};

void spin() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

bool sendKey(QObject* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    return press.isAccepted();
}

CapturePreference areaPreference(CaptureRect rect) {
    CapturePreference preference;
    preference.lastArea = SelectedCaptureArea{DisplayID{"1"}, rect};
    return preference;
}

struct Fixture {
    platform::SystemLog log = platform::SystemLog::create_null();
    platform::OutputTracker<platform::SystemLogLine> lines = log.track_lines();
    std::unique_ptr<InteractiveScreenSelection> service;

    explicit Fixture(std::unique_ptr<GlobalHotKey> escape = GlobalHotKey::create_null(),
                     CaptureInputsController* inputs = nullptr) {
        SelectionOverlayServices services;
        services.compositor = platform::CompositingManager::create_null(false);
        services.log = log;
        service = std::make_unique<InteractiveScreenSelection>(kGeometry, std::move(escape), inputs, nullptr, services);
    }
    SelectionOverlayPresenter& presenter() { return *service->activePresenter(); }
    SelectionOverlayView& view() { return *presenter().selectionWindow(); }
    int logged(const std::string& message) const {
        int count = 0;
        for (const auto& line : lines.data()) count += line.message == message;
        return count;
    }
};

const ScreenSelectionOutcome::Confirmed* confirmedOf(const ScreenSelectionOutcome& outcome) {
    return std::get_if<ScreenSelectionOutcome::Confirmed>(&outcome.value);
}

}  // namespace

TEST(InteractiveScreenSelection, ReturnConfirmsOnlyWhenTheModeAllowsAndOnlyOnce) {
    Fixture f;
    auto task = f.service->startSelection(CapturePreference::initial(), {kMain});
    spin();
    ASSERT_NE(f.service->activePresenter(), nullptr);
    // No area yet: Return passes on and nothing ends.
    EXPECT_FALSE(f.presenter().keyPressed(Qt::Key_Return, &f.view()));
    EXPECT_FALSE(f.view().controlBar()->recordButton()->look().enabled);
    // A drag draws an area.
    f.view().dragChanged({100, 100}, {400, 300});
    f.view().dragEnded();
    EXPECT_TRUE(f.view().controlBar()->recordButton()->look().enabled);
    SelectionOverlayView* view = &f.view();
    auto* record = view->controlBar()->recordButton();
    EXPECT_TRUE(sendKey(view, Qt::Key_Enter));
    record->click();  // the window is on its way out; Record changes nothing
    const auto outcome = waitForTask(task);
    const auto* confirmed = confirmedOf(outcome);
    ASSERT_NE(confirmed, nullptr);
    EXPECT_EQ(confirmed->selection.target.asArea()->rect, (CaptureRect{100, 100, 300, 200}));
    EXPECT_EQ(f.logged("capture_selection_confirm requested"), 1);
    // After the selection Return goes on to whatever has the keyboard.
    EXPECT_FALSE(f.presenter().keyPressed(Qt::Key_Return, nullptr));
}

TEST(InteractiveScreenSelection, AppModeNeedsAWindowAndScreenModeAlwaysConfirms) {
    Fixture f;
    CapturePreference app;
    app.mode = CaptureMode::app;
    auto task = f.service->startSelection(app, {kMain});
    spin();
    EXPECT_FALSE(f.presenter().keyPressed(Qt::Key_Return, &f.view()));
    f.presenter().viewModel()->setMode(CaptureMode::screen);
    EXPECT_TRUE(f.presenter().keyPressed(Qt::Key_Return, &f.view()));
    const auto outcome = waitForTask(task);
    ASSERT_NE(confirmedOf(outcome), nullptr);
    EXPECT_TRUE(confirmedOf(outcome)->selection.target.isFullMainDisplay());
}

TEST(InteractiveScreenSelection, TabCyclesModesOnlyInTheSelectionWindow) {
    Fixture f;
    auto task = f.service->startSelection(CapturePreference::initial(), {kMain});
    spin();
    auto* model = f.presenter().viewModel();
    QWidget elsewhere;
    EXPECT_FALSE(f.presenter().keyPressed(Qt::Key_Tab, &elsewhere));
    EXPECT_EQ(model->mode(), CaptureMode::area);
    EXPECT_TRUE(sendKey(&f.view(), Qt::Key_Tab));
    EXPECT_EQ(model->mode(), CaptureMode::app);
    EXPECT_TRUE(sendKey(&f.view(), Qt::Key_Backtab));  // Shift+Tab moves on too
    EXPECT_EQ(model->mode(), CaptureMode::screen);
    sendKey(&f.view(), Qt::Key_Tab);
    EXPECT_EQ(model->mode(), CaptureMode::area);
    waitForTask(f.service->cancelSelection());
    waitForTask(task);
}

TEST(InteractiveScreenSelection, EscapeCancelsWithThePreferenceAsEdited) {
    auto escape = GlobalHotKey::create_null();
    GlobalHotKey* key = escape.get();
    Fixture f(std::move(escape));
    auto task = f.service->startSelection(areaPreference({10, 10, 100, 100}), {kMain});
    spin();
    f.view().dragChanged({200, 200}, {260, 290});  // a new area
    f.view().dragEnded();
    f.presenter().viewModel()->setMode(CaptureMode::screen);
    key->simulate_pressed();
    const auto outcome = waitForTask(task);
    CapturePreference edited = areaPreference({200, 200, 60, 90});
    edited.mode = CaptureMode::screen;
    EXPECT_EQ(outcome, ScreenSelectionOutcome::cancelled(edited));
    EXPECT_EQ(f.service->activePresenter(), nullptr);
}

TEST(InteractiveScreenSelection, DragsCreateMoveAndResize) {
    Fixture f;
    auto task = f.service->startSelection(CapturePreference::initial(), {kMain});
    spin();
    auto& view = f.view();
    auto* model = f.presenter().viewModel();
    view.dragChanged({100, 100}, {300, 250});
    view.dragChanged({100, 100}, {400, 300});  // later changes reuse the first mode
    view.dragEnded();
    EXPECT_EQ(model->rect(), (Rect{100, 100, 300, 200}));
    view.dragChanged({200, 200}, {250, 220});  // inside: move
    view.dragEnded();
    EXPECT_EQ(model->rect(), (Rect{150, 120, 300, 200}));
    view.dragChanged({450, 200}, {500, 200});  // right edge: resize
    view.dragEnded();
    EXPECT_EQ(model->rect(), (Rect{150, 120, 350, 200}));
    view.dragChanged({600, 600}, {700, 650});  // outside: a new area
    view.dragEnded();
    EXPECT_EQ(model->rect(), (Rect{600, 600, 100, 50}));
    // Only in area mode.
    model->setMode(CaptureMode::screen);
    view.dragChanged({10, 10}, {50, 50});
    view.dragEnded();
    EXPECT_EQ(model->rect(), (Rect{600, 600, 100, 50}));
    waitForTask(f.service->cancelSelection());
    waitForTask(task);
}

TEST(InteractiveScreenSelection, EscapeThatCannotBeRegisteredFailsTheSelection) {
    Fixture f(GlobalHotKey::create_null({}, false));
    auto task = f.service->startSelection(CapturePreference::initial(), {kMain});
    const auto outcome = waitForTask(task);
    const auto* failed = std::get_if<ScreenSelectionOutcome::Failed>(&outcome.value);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->error.kind(), AppError::Case::keyboardShortcutUnavailable);
    EXPECT_EQ(f.service->activePresenter(), nullptr);
}

TEST(InteractiveScreenSelection, CancelWhileThePresenterIsBuiltEndsCancelledWithoutShowing) {
    Fixture f;
    const CapturePreference initial = areaPreference({1, 2, 30, 40});
    auto task = f.service->startSelection(initial, {kMain});
    waitForTask(f.service->cancelSelection());
    EXPECT_EQ(waitForTask(task), ScreenSelectionOutcome::cancelled(initial));
    EXPECT_EQ(f.service->activePresenter(), nullptr);
    // An empty display list never shows anything either.
    auto empty = f.service->startSelection(initial, {});
    EXPECT_EQ(waitForTask(empty), ScreenSelectionOutcome::cancelled(initial));
}

TEST(InteractiveScreenSelection, ActionStream) {
    Fixture f;
    // Before any selection.
    EXPECT_EQ(waitForTask(f.service->nextRecordingOverlayAction()), RecordingOverlayAction::closed);
    auto task = f.service->startSelection(areaPreference({100, 100, 300, 200}), {kMain});
    spin();
    f.presenter().keyPressed(Qt::Key_Return, &f.view());
    ASSERT_NE(confirmedOf(waitForTask(task)), nullptr);
    waitForTask(f.service->showRecordingControls());
    auto& presenter = f.presenter();
    ASSERT_NE(presenter.highlightWindow(), nullptr);
    ASSERT_NE(presenter.trayWindow(), nullptr);
    EXPECT_FALSE(presenter.trayWindow()->stopping());
    // Stop twice before anyone reads: both arrive, in order.
    auto* tray = presenter.trayWindow();
    const QPointF stop = tray->layout().stop.center();
    for (int i = 0; i < 2; ++i) {
        QMouseEvent press(QEvent::MouseButtonPress, stop, tray->mapToGlobal(stop), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(tray, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, stop, tray->mapToGlobal(stop), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(tray, &release);
    }
    EXPECT_EQ(waitForTask(f.service->nextRecordingOverlayAction()), RecordingOverlayAction::stopRequested);
    EXPECT_EQ(waitForTask(f.service->nextRecordingOverlayAction()), RecordingOverlayAction::stopRequested);
    waitForTask(f.service->showStoppingControls());
    EXPECT_TRUE(presenter.trayWindow()->stopping());
    EXPECT_EQ(presenter.highlightWindow()->mode(), PassthroughHighlightOverlayMode::stopping);
    // A reader waiting when the overlay hides gets the one closed.
    auto waiting = f.service->nextRecordingOverlayAction();
    waitForTask(f.service->hideOverlay());
    EXPECT_EQ(waitForTask(waiting), RecordingOverlayAction::closed);
    EXPECT_EQ(f.service->activePresenter(), nullptr);
    EXPECT_EQ(waitForTask(f.service->nextRecordingOverlayAction()), RecordingOverlayAction::closed);
}

// The tray's time counts from the recording's start on the steady clock it was given, taken once:
// not from the selection's start, nor again for a tray built later.
TEST(InteractiveScreenSelection, TheTrayCountsFromTheRecordingsStartOnTheGivenClock) {
    auto now = std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::hours(5));
    SelectionOverlayServices services;
    services.compositor = platform::CompositingManager::create_null(false);
    services.now = [now] { return *now; };
    InteractiveScreenSelection service(kGeometry, GlobalHotKey::create_null(), nullptr, nullptr, services);
    auto task = service.startSelection(areaPreference({100, 100, 300, 200}), {kMain});
    spin();
    ASSERT_NE(service.activePresenter(), nullptr);
    auto& presenter = *service.activePresenter();
    presenter.keyPressed(Qt::Key_Return, presenter.selectionWindow());
    ASSERT_NE(confirmedOf(waitForTask(task)), nullptr);
    *now += std::chrono::seconds(30);
    waitForTask(service.showRecordingControls());
    *now += std::chrono::milliseconds(61'500);
    ASSERT_NE(presenter.trayWindow(), nullptr);
    EXPECT_EQ(presenter.trayWindow()->elapsedText().toStdString(), "01:01");
    presenter.showInteractiveTrayWindow(false);
    *now += std::chrono::seconds(64);
    EXPECT_EQ(presenter.trayWindow()->elapsedText().toStdString(), "02:05");
    waitForTask(service.hideOverlay());
}

TEST(InteractiveScreenSelection, ADroppedPresenterEndsItsSelectionAndItsStream) {
    auto presenter = std::make_unique<SelectionOverlayPresenter>(kGeometry, nullptr, nullptr, nullptr,
                                                                 SelectionOverlayServices{});
    auto actions = presenter->overlayActions();
    const auto next = [](AsyncChannel<RecordingOverlayAction> channel) -> QCoro::Task<std::optional<RecordingOverlayAction>> {
        co_return co_await channel.next();
    };
    auto waiting = next(actions);
    presenter.reset();
    EXPECT_EQ(waitForTask(waiting), std::nullopt);
}

TEST(InteractiveScreenSelection, BusyInputsBlockRecordAndReturn) {
    yux::testing::SelectionTestInputs inputs;
    inputs.holdBusy();
    ASSERT_TRUE(inputs.controller->busy());
    Fixture f(GlobalHotKey::create_null(), inputs.controller.get());
    CapturePreference screen;
    screen.mode = CaptureMode::screen;
    auto task = f.service->startSelection(screen, {kMain});
    spin();
    EXPECT_FALSE(f.view().controlBar()->recordButton()->look().enabled);
    f.view().controlBar()->recordButton()->click();
    f.presenter().keyPressed(Qt::Key_Return, &f.view());
    spin();
    EXPECT_TRUE(f.presenter().pending());
    inputs.release();
    EXPECT_TRUE(f.view().controlBar()->recordButton()->look().enabled);
    f.presenter().keyPressed(Qt::Key_Return, &f.view());
    ASSERT_NE(confirmedOf(waitForTask(task)), nullptr);
}

TEST(MenuBarHeight, WorkAreaInsetAtLeast24) {
    EXPECT_EQ(menuBarHeightFor(kMain, std::nullopt), 24);
    EXPECT_EQ(menuBarHeightFor(kMain, Rect{0, 32, 1280, 768}), 32);
    EXPECT_EQ(menuBarHeightFor(kMain, Rect{0, 0, 1280, 760}), 24);
    EXPECT_EQ(menuBarHeightFor(kMain, Rect{2000, 40, 100, 100}), 24);  // on another monitor
}
