#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

#include "editor/export_editor_view.hpp"
#include "editor/editor_sidebar.hpp"
#include "editor/export_progress_sheet.hpp"
#include "editor/floating_trim_preview_window.hpp"
#include "null_editor.hpp"
#include "platform/async/wait_for.hpp"
#include "model/recording_shortcut.hpp"

using namespace yux;
using namespace yux::testing;
using Action = TrimWindowKeyAction;

TEST(TrimWindowKeys, ActsOnlyOnPlainSpaceIAndO) {
    EXPECT_EQ(trimWindowKeyAction({49}), Action::toggle);
    EXPECT_EQ(trimWindowKeyAction({34}), Action::setStart);
    EXPECT_EQ(trimWindowKeyAction({31}), Action::setEnd);
    EXPECT_EQ(trimWindowKeyAction({1}), Action::passOn);
    EXPECT_EQ(trimWindowKeyAction({49, RecordingShortcut::command}), Action::passOn);
    EXPECT_EQ(trimWindowKeyAction({49, RecordingShortcut::shift}), Action::passOn);
    EXPECT_EQ(trimWindowKeyAction({49, 0, false, true}), Action::passOn);         // sheet
    EXPECT_EQ(trimWindowKeyAction({49, 0, false, false, true}), Action::passOn);  // text field
    EXPECT_EQ(trimWindowKeyAction({49, 0, false, false, false, true}), Action::passOn);  // exporting
    EXPECT_EQ(trimWindowKeyAction({34, 0, true}), Action::swallow);
    EXPECT_FALSE(isTrimWindowKey(65));
}

namespace {

// X11 keycodes, as the server sends them.
constexpr int kX11Space = 65;
constexpr int kX11I = 31;
constexpr int kX11O = 32;

struct WindowHarness : NullEditor {
    std::vector<std::string> openedPaths;
    std::exception_ptr openFailure;
    FloatingTrimPreviewWindow presenter{log, [this](std::string path, PendingRecordingArtifact artifact,
                                                    TrimPreviewSaveHandling* handler,
                                                    std::shared_ptr<DebugLogBoundary> debugLog,
                                                    ExportEditorSession::OutcomeHandler onOutcome)
                                                 -> QCoro::Task<std::shared_ptr<ExportEditorSession>> {
        openedPaths.push_back(path);
        if (openFailure) std::rethrow_exception(openFailure);
        co_return ExportEditorSession::create(
            nullFacts(60, {nullSource(1, RecordingSourceKind::screen), nullSource(2, RecordingSourceKind::microphone)}),
            std::move(artifact), handler, debugLog, std::move(onOutcome), services());
    }};

    struct Running {
        std::optional<TrimPreviewOutcome> outcome;
        QCoro::Task<void> task;
    };

    std::unique_ptr<Running> present(std::string path = "/tmp/Yux/Scratch/a.mov") {
        auto running = std::make_unique<Running>();
        auto* state = running.get();
        auto artifact = PendingRecordingArtifact::decoded(path, Date{800000000.5}, 60, 5000000, {},
                                                          RecordingPresetCatalog{{bestH264Preset()}}, "best");
        running->task = [](FloatingTrimPreviewWindow& presenter, PendingRecordingArtifact artifact,
                           TrimPreviewSaveHandling* handler, Running* state) -> QCoro::Task<void> {
            state->outcome = co_await presenter.presentTrimPreview(std::move(artifact), handler);
        }(presenter, artifact, &saveHandler, state);
        runUntil([&] { return state->outcome || presenter.activeWindow(); });
        return running;
    }

    static void press(QWidget* target, int scanCode, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                      bool autoRepeat = false, quint32 x11State = 0) {
        QKeyEvent event(QEvent::KeyPress, Qt::Key_unknown, modifiers, static_cast<quint32>(scanCode), 0, x11State,
                        QString(), autoRepeat);
        QApplication::sendEvent(target, &event);
    }

    // Closes the window as its title bar does and answers the question with a click on `button`.
    static void closeAndAnswer(TrimPreviewWindowController* window, const char* button) {
        window->close();
        ASSERT_NE(window->discardQuestion(), nullptr) << "closing asked nothing";
        clickButton(window->discardQuestion(), button);
    }

    static void clickButton(QMessageBox* box, const char* text) {
        for (auto* button : box->buttons()) {
            if (button->text() == QString::fromUtf8(text)) {
                QTest::mouseClick(button, Qt::LeftButton);
                return;
            }
        }
        ADD_FAILURE() << "no button " << text;
    }

    int keyLines() const {
        settle(10);  // the lines go out on their own
        int n = 0;
        for (const auto& line : log->lines())
            if (line.rfind("export_editor_key", 0) == 0) ++n;
        return n;
    }
};

}  // namespace

TEST(FloatingTrimPreviewWindow, ShowsAFixedFloatingWindowAndActsOnItsKeys) {
    WindowHarness h;
    auto running = h.present();
    auto* window = h.presenter.activeWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), QSize(1120, 680));
    EXPECT_EQ(window->windowTitle(), "Recording — Export");
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    auto& model = window->model();

    model.seek(12);
    WindowHarness::press(window, kX11I);
    EXPECT_EQ(model.edit().range().lower, 12);
    model.seek(20);
    WindowHarness::press(window, kX11I, Qt::NoModifier, true);  // held: the repeat does nothing
    EXPECT_EQ(model.edit().range().lower, 12);
    model.seek(40);
    WindowHarness::press(window, kX11O);
    EXPECT_EQ(model.edit().range().upper, 40);
    EXPECT_EQ(h.keyLines(), 3);

    // Caps Lock (X11 lock mask) is no modifier: Space still toggles, twice back to where it was.
    constexpr quint32 kLockMask = 2;
    bool before = model.playing();
    WindowHarness::press(window, kX11Space, Qt::NoModifier, false, kLockMask);
    EXPECT_NE(model.playing(), before);
    WindowHarness::press(window, kX11Space, Qt::NoModifier, false, kLockMask);
    EXPECT_EQ(model.playing(), before);
    EXPECT_EQ(h.keyLines(), 5);
    EXPECT_TRUE(h.log->lines().back().ends_with(" modifiers=65536")) << h.log->lines().back();

    // With a modifier, Space is passed on but still logged.
    bool wasPlaying = model.playing();
    WindowHarness::press(window, kX11Space, Qt::ControlModifier);
    EXPECT_EQ(model.playing(), wasPlaying);
    EXPECT_EQ(h.keyLines(), 6);
    EXPECT_EQ(h.log->lines().back(), "export_editor_key key_code=49 playing=false responder=none modifiers=262144");

    // A focused text field keeps its keys.
    auto* field = new QLineEdit(window);
    WindowHarness::press(field, kX11I);
    EXPECT_EQ(model.edit().range().lower, 12);
    EXPECT_EQ(h.keyLines(), 7);

    // Other windows are left alone and not logged.
    QWidget other;
    WindowHarness::press(&other, kX11I);
    EXPECT_EQ(h.keyLines(), 7);

    WindowHarness::closeAndAnswer(window, "Discard");
    ASSERT_TRUE(runUntil([&] { return running->outcome.has_value(); }));
    EXPECT_EQ(*running->outcome, TrimPreviewOutcome::discarded());
    EXPECT_EQ(h.presenter.activeWindow(), nullptr);
}

TEST(FloatingTrimPreviewWindow, RefusesToCloseWhileExportingThenReportsSaved) {
    WindowHarness h;
    auto running = h.present();
    auto* window = h.presenter.activeWindow();
    ASSERT_NE(window, nullptr);
    window->model().exportRecording();
    ASSERT_TRUE(runUntil([&] { return !h.saveHandler.calls.empty(); }));
    EXPECT_TRUE(window->hasSheet());
    EXPECT_FALSE(window->windowShouldClose());
    window->close();
    window->closeWindow();
    settle();
    EXPECT_FALSE(running->outcome.has_value());
    EXPECT_EQ(h.presenter.activeWindow(), window);

    h.saveHandler.succeed("/tmp/out/a.mp4");
    ASSERT_TRUE(runUntil([&] { return window->model().saved().has_value(); }));
    EXPECT_EQ(window->sheet()->titleText(), "Export complete");
    // The finished sheet still covers the window: what lies behind takes no input.
    EXPECT_FALSE(window->findChild<ExportEditorView*>()->isEnabled());
    window->sheet()->closeButton()->click();
    ASSERT_TRUE(runUntil([&] { return running->outcome.has_value(); }));
    EXPECT_EQ(*running->outcome, TrimPreviewOutcome::saved());
    EXPECT_EQ(h.presenter.activeWindow(), nullptr);
}

TEST(FloatingTrimPreviewWindow, AFailedExportShowsTheAlertWhichCountsAsASheet) {
    WindowHarness h;
    auto running = h.present();
    auto* window = h.presenter.activeWindow();
    ASSERT_NE(window, nullptr);
    window->model().exportRecording();
    h.saveHandler.fail(std::make_exception_ptr(std::runtime_error("The disk is full.")));
    ASSERT_TRUE(runUntil([&] { return window->alert() != nullptr; }));
    EXPECT_EQ(window->alert()->windowTitle(), "Export");
    EXPECT_TRUE(window->hasSheet());
    bool wasPlaying = window->model().playing();
    WindowHarness::press(window, kX11Space);
    EXPECT_EQ(window->model().playing(), wasPlaying);
    EXPECT_FALSE(window->findChild<ExportEditorView*>()->isEnabled());
    window->alert()->done(QMessageBox::Ok);
    ASSERT_TRUE(runUntil([&] { return !window->model().errorMessage().has_value(); }));
    EXPECT_TRUE(window->findChild<ExportEditorView*>()->isEnabled());
    WindowHarness::closeAndAnswer(window, "Discard");
    ASSERT_TRUE(runUntil([&] { return running->outcome.has_value(); }));
    EXPECT_EQ(*running->outcome, TrimPreviewOutcome::discarded());
}

TEST(FloatingTrimPreviewWindow, OpeningFailuresComeBackAsFailedWithoutAWindow) {
    WindowHarness h;
    h.openFailure = std::make_exception_ptr(AppError::outputFinalizationFailed("Recording has no video track"));
    auto first = h.present("~/Videos/a.mov");
    ASSERT_TRUE(first->outcome.has_value());
    EXPECT_EQ(*first->outcome, TrimPreviewOutcome::failed(AppError::outputFinalizationFailed("Recording has no video track")));
    EXPECT_EQ(h.openedPaths[0], QDir::homePath().toStdString() + "/Videos/a.mov");

    h.openFailure = std::make_exception_ptr(std::runtime_error("boom"));
    auto second = h.present();
    ASSERT_TRUE(second->outcome.has_value());
    EXPECT_EQ(*second->outcome, TrimPreviewOutcome::failed(AppError::outputFinalizationFailed("trim preview failed")));
    EXPECT_EQ(h.presenter.activeWindow(), nullptr);
}

TEST(FloatingTrimPreviewWindow, AnEarlierWindowClosingLeavesTheLaterOnesSlot) {
    WindowHarness h;
    auto first = h.present();
    auto* firstWindow = h.presenter.activeWindow();
    auto second = h.present();
    auto* secondWindow = h.presenter.activeWindow();
    ASSERT_NE(firstWindow, secondWindow);

    firstWindow->closeWindow();
    ASSERT_TRUE(runUntil([&] { return first->outcome.has_value(); }));
    EXPECT_EQ(h.presenter.activeWindow(), secondWindow);
    EXPECT_FALSE(second->outcome.has_value());

    secondWindow->closeWindow();
    ASSERT_TRUE(runUntil([&] { return second->outcome.has_value(); }));
    EXPECT_EQ(h.presenter.activeWindow(), nullptr);
}

TEST(FloatingTrimPreviewWindow, ClosingATakeNeverExportedAsksAndKeepEditingKeepsTheWindow) {
    WindowHarness h;
    auto running = h.present();
    auto* window = h.presenter.activeWindow();
    ASSERT_NE(window, nullptr);
    auto* view = window->findChild<ExportEditorView*>();

    window->close();
    QMessageBox* question = window->discardQuestion();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->windowTitle(), "Discard this recording?");
    EXPECT_EQ(question->text(), "Discard this recording?");
    EXPECT_EQ(question->informativeText(), "The recording has not been exported. It will be deleted.");
    ASSERT_EQ(question->buttons().size(), 2);
    std::map<QString, QMessageBox::ButtonRole> roles;
    for (auto* button : question->buttons()) roles[button->text()] = question->buttonRole(button);
    EXPECT_EQ(roles, (std::map<QString, QMessageBox::ButtonRole>{{"Discard", QMessageBox::DestructiveRole},
                                                                 {"Keep Editing", QMessageBox::RejectRole}}));
    EXPECT_EQ(question->defaultButton()->text(), "Keep Editing");
    EXPECT_EQ(question->escapeButton()->text(), "Keep Editing");
    EXPECT_EQ(question->windowModality(), Qt::WindowModal);
    // A second close while it asks asks nothing more.
    window->close();
    EXPECT_EQ(window->discardQuestion(), question);

    // Keep Editing, by its button and by Escape: the window and its take stay.
    const std::function<void(QMessageBox*)> keepEditing[] = {
        [](QMessageBox* box) { WindowHarness::clickButton(box, "Keep Editing"); },
        [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); },
    };
    for (const auto& answer : keepEditing) {
        if (!window->discardQuestion()) window->close();
        ASSERT_NE(window->discardQuestion(), nullptr);
        EXPECT_TRUE(window->hasSheet());
        EXPECT_FALSE(view->isEnabled());
        answer(window->discardQuestion());
        settle();
        EXPECT_EQ(window->discardQuestion(), nullptr);
        EXPECT_FALSE(window->hasSheet());
        EXPECT_TRUE(view->isEnabled());
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(h.presenter.activeWindow(), window);
        EXPECT_FALSE(running->outcome.has_value());
    }

    WindowHarness::closeAndAnswer(window, "Discard");
    ASSERT_TRUE(runUntil([&] { return running->outcome.has_value(); }));
    EXPECT_EQ(*running->outcome, TrimPreviewOutcome::discarded());
    EXPECT_EQ(h.presenter.activeWindow(), nullptr);
}

TEST(FloatingTrimPreviewWindow, DeleteClosesAtOnceAndAClosingAfterAnExportAsksNothing) {
    struct Case {
        const char* name;
        bool exported;
        TrimPreviewOutcome expected;
    };
    for (const auto& c : {Case{"Delete", false, TrimPreviewOutcome::discarded()},
                          Case{"close after an export", true, TrimPreviewOutcome::saved()}}) {
        WindowHarness h;
        auto running = h.present();
        auto* window = h.presenter.activeWindow();
        ASSERT_NE(window, nullptr) << c.name;
        if (c.exported) {
            window->model().exportRecording();
            h.saveHandler.succeed("/tmp/out/a.mov");
            ASSERT_TRUE(runUntil([&] { return window->model().saved().has_value(); })) << c.name;
            // Back to editing: the export still counts.
            window->sheet()->editAgainButton()->click();
            window->close();
        } else {
            QTest::mouseClick(window->findChild<EditorSidebar*>()->deleteButton(), Qt::LeftButton);
        }
        EXPECT_EQ(window->discardQuestion(), nullptr) << c.name;
        ASSERT_TRUE(runUntil([&] { return running->outcome.has_value(); })) << c.name;
        EXPECT_EQ(*running->outcome, c.expected) << c.name;
    }
}

TEST(FloatingTrimPreviewWindow, QuittingClosesWithoutAskingAndWithoutAnOutcome) {
    WindowHarness h;
    auto asking = h.present();
    auto* askingWindow = h.presenter.activeWindow();
    askingWindow->close();
    ASSERT_NE(askingWindow->discardQuestion(), nullptr);
    auto exporting = h.present();
    auto* exportingWindow = h.presenter.activeWindow();
    exportingWindow->model().exportRecording();
    ASSERT_TRUE(runUntil([&] { return !h.saveHandler.calls.empty(); }));

    platform::waitForTask(h.presenter.closeForQuit());
    EXPECT_FALSE(exportingWindow->model().isExporting()) << "the export was cancelled and has ended";
    settle();
    for (auto* window : {askingWindow, exportingWindow}) {
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(window->discardQuestion(), nullptr);
    }
    EXPECT_FALSE(asking->outcome.has_value());
    EXPECT_FALSE(exporting->outcome.has_value());
}
