#include "shell/recording_shortcut_recorder.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>


#include "support/pending_answer.hpp"
#include "support/screenshot_writer.hpp"

using namespace yux;

namespace {

// The panel's model as the recorder sees it. Suspending waits for the test's answer; resuming
// answers at once.
class FakeModel : public ShortcutRecordingModel {
public:
    RecordingShortcut recordingShortcut() const override { return edited; }
    void setRecordingShortcut(const RecordingShortcut& shortcut) override { edited = shortcut; }
    bool isUnsavedSettings() const override { return !(edited == saved); }
    std::optional<std::string> blockingMessage() const override { return blocking; }
    QCoro::Task<bool> setShortcutRecording(bool recording) override {
        requests.push_back(recording);
        if (!recording) {
            events.push_back("resume");
            co_return true;
        }
        co_return co_await suspension.operation()();
    }
    void persistSettings() override {
        events.push_back("save " + edited.label());
        if (saveSucceeds) saved = edited;
    }

    // Gives the pending suspension its answer.
    void answer(bool ok) { suspension.answer(ok); }
    bool suspending() const { return suspension.pending(); }

    RecordingShortcut edited = RecordingShortcut::defaultShortcut();
    RecordingShortcut saved = RecordingShortcut::defaultShortcut();
    std::optional<std::string> blocking;
    bool saveSucceeds = true;
    std::vector<bool> requests;
    std::vector<std::string> events;

    yux::testing::PendingAnswer suspension;
};

std::uint32_t x11Code(std::uint32_t storedKeyCode) { return *X11KeyMap::x11Keycode(storedKeyCode); }

constexpr std::uint32_t kSix = 22;
constexpr std::uint32_t kEscape = 53;
constexpr std::uint32_t kF5 = 96;

// A window with a text field that has the focus, and the recorder below it.
struct Panel {
    explicit Panel(FakeModel& model) {
        auto* layout = new QVBoxLayout(&window);
        field = new QLineEdit(&window);
        layout->addWidget(field);
        recorder = new RecordingShortcutRecorder(model, &window);
        layout->addWidget(recorder);
        window.resize(340, window.sizeHint().height());
        window.show();
        field->setFocus();
    }

    // A press as X11 delivers it: the key's native code and the held modifiers. Answers whether
    // the press reached the field.
    bool press(std::uint32_t x11Keycode, Qt::KeyboardModifiers modifiers = {}, int key = Qt::Key_A,
               bool autoRepeat = false) {
        const QString before = field->text();
        QKeyEvent override(QEvent::ShortcutOverride, key, modifiers, x11Keycode, 0, 0, "x", autoRepeat);
        QApplication::sendEvent(field, &override);
        QKeyEvent event(QEvent::KeyPress, key, modifiers, x11Keycode, 0, 0, "x", autoRepeat);
        QApplication::sendEvent(field, &event);
        return field->text() != before;
    }

    void startCapture(FakeModel& model) {
        recorder->changeButton()->click();
        ASSERT_TRUE(model.suspending());
        model.answer(true);
        ASSERT_TRUE(recorder->isCapturing());
    }

    QWidget window;
    QLineEdit* field;
    RecordingShortcutRecorder* recorder;
};

TEST(RecordingShortcutRecorder, ShowsTheShortcutAndWhileRecordingAsksForKeys) {
    FakeModel model;
    Panel panel(model);
    EXPECT_EQ(panel.recorder->keyCap()->text(), "Shift+Super+6");
    EXPECT_EQ(panel.recorder->changeButton()->text(), "Change");
    EXPECT_EQ(panel.recorder->changeButton()->accessibleName(), "Change recording shortcut");
    EXPECT_FALSE(panel.recorder->resetButton()->isVisible());
    EXPECT_FALSE(panel.recorder->retryButton()->isVisible());
    // Keys pass untouched while nothing is recorded.
    EXPECT_TRUE(panel.press(x11Code(kSix), {}, Qt::Key_6));

    panel.recorder->changeButton()->click();
    EXPECT_EQ(model.requests, std::vector<bool>{true});
    EXPECT_EQ(panel.recorder->keyCap()->text(), "Press keys\u2026");
    EXPECT_EQ(panel.recorder->changeButton()->text(), "Cancel");
    EXPECT_EQ(panel.recorder->changeButton()->accessibleName(), "Cancel recording shortcut");
    EXPECT_TRUE(panel.recorder->resetButton()->isVisible());
    EXPECT_EQ(panel.recorder->resetButton()->text(), "Reset to Shift+Super+6");
    // Until the hot key is suspended, presses still go where they went.
    EXPECT_TRUE(panel.press(x11Code(kSix), {}, Qt::Key_6));
    model.answer(true);
    EXPECT_TRUE(panel.recorder->isCapturing());
    yux::test::writeScreenshot(panel.window, "shortcut_recorder_capturing");
}

TEST(RecordingShortcutRecorder, BareEscapeCancelsButWithSuperItBecomesTheShortcut) {
    FakeModel model;
    Panel panel(model);
    panel.startCapture(model);
    EXPECT_FALSE(panel.press(x11Code(kEscape), {}, Qt::Key_Escape));
    EXPECT_FALSE(panel.recorder->isRecording());
    EXPECT_EQ(model.events, std::vector<std::string>{"resume"});
    EXPECT_EQ(model.edited, RecordingShortcut::defaultShortcut());
    // Escape again goes back to the window.
    EXPECT_TRUE(panel.press(x11Code(kEscape), {}, Qt::Key_A));

    model.events.clear();
    panel.startCapture(model);
    EXPECT_FALSE(panel.press(x11Code(kEscape), Qt::MetaModifier, Qt::Key_Escape));
    EXPECT_FALSE(panel.recorder->isRecording());
    EXPECT_EQ(model.events, (std::vector<std::string>{"resume", "save Super+Escape"}));
    EXPECT_EQ(panel.recorder->keyCap()->text(), "Super+Escape");
}

TEST(RecordingShortcutRecorder, AcceptsAPlainFunctionKeyAndMapsEveryModifierIgnoringLocks) {
    FakeModel model;
    Panel panel(model);
    panel.startCapture(model);
    EXPECT_FALSE(panel.press(x11Code(kF5), {}, Qt::Key_F5));
    EXPECT_EQ(model.saved.label(), "F5");
    EXPECT_EQ(model.saved.modifiers(), 0u);

    // A key held since before the capture began: its repeat is a press like any other.
    panel.startCapture(model);
    EXPECT_FALSE(panel.press(x11Code(kF5), Qt::AltModifier, Qt::Key_F5, /*autoRepeat=*/true));
    EXPECT_EQ(model.saved.label(), "Alt+F5");

    panel.startCapture(model);
    panel.press(x11Code(kSix), Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier |
                                   Qt::KeypadModifier, Qt::Key_6);
    EXPECT_EQ(model.saved.label(), "Ctrl+Alt+Shift+Super+6");
    EXPECT_EQ(model.saved.modifiers(), 0x1B00u);
}

TEST(RecordingShortcutRecorder, AnUnknownKeyIsRefusedAndModifierOnlyPressesChangeNothing) {
    FakeModel model;
    Panel panel(model);
    std::uint32_t unknown = 0;
    for (std::uint32_t code = 8; code < 256 && unknown == 0; ++code) {
        if (!X11KeyMap::keyCode(static_cast<std::uint8_t>(code))) unknown = code;
    }
    ASSERT_NE(unknown, 0u);
    panel.startCapture(model);

    EXPECT_FALSE(panel.press(50, Qt::ShiftModifier, Qt::Key_Shift));
    EXPECT_TRUE(panel.recorder->isCapturing());
    EXPECT_TRUE(model.events.empty());

    EXPECT_FALSE(panel.press(unknown, Qt::MetaModifier));
    EXPECT_TRUE(panel.recorder->isCapturing());
    EXPECT_EQ(panel.recorder->message(), "Choose a supported key combination.");
    EXPECT_TRUE(panel.recorder->messageLabel()->isVisible());

    // The refusal stays up after a later key is taken, until the next change begins.
    panel.press(x11Code(kSix), Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_6);
    EXPECT_EQ(model.saved.label(), "Ctrl+Shift+6");
    EXPECT_TRUE(panel.recorder->message().has_value());
    panel.recorder->begin();
    EXPECT_FALSE(panel.recorder->message().has_value());
}

TEST(RecordingShortcutRecorder, CancelBeforeTheSuspensionAnswersNeverListens) {
    FakeModel model;
    Panel panel(model);
    panel.recorder->changeButton()->click();
    panel.recorder->changeButton()->click();  // Cancel
    EXPECT_FALSE(panel.recorder->isRecording());
    EXPECT_EQ(model.requests, (std::vector<bool>{true, false}));
    model.answer(true);
    EXPECT_FALSE(panel.recorder->isCapturing());
    EXPECT_FALSE(panel.recorder->message().has_value());
    EXPECT_TRUE(panel.press(x11Code(kSix), {}, Qt::Key_6));
    EXPECT_EQ(model.events, std::vector<std::string>{"resume"});
}

TEST(RecordingShortcutRecorder, ARefusedSuspensionShowsTheCoordinatorsMessage) {
    FakeModel model;
    model.blocking = "Shortcut settings are being saved.";
    Panel panel(model);
    panel.recorder->changeButton()->click();
    model.answer(false);
    EXPECT_FALSE(panel.recorder->isRecording());
    EXPECT_FALSE(panel.recorder->isCapturing());
    EXPECT_EQ(panel.recorder->message(), "Shortcut settings are being saved.");
    EXPECT_EQ(panel.recorder->changeButton()->text(), "Change");

    // Cancelled before the refusal came: the refusal is still said, and nothing listens.
    panel.recorder->changeButton()->click();
    EXPECT_FALSE(panel.recorder->message().has_value());
    panel.recorder->changeButton()->click();  // Cancel
    model.answer(false);
    EXPECT_FALSE(panel.recorder->isCapturing());
    EXPECT_EQ(panel.recorder->message(), "Shortcut settings are being saved.");
}

TEST(RecordingShortcutRecorder, LeavingTheScreenOrTheTabEndsTheCaptureWithoutSaving) {
    FakeModel model;
    Panel panel(model);
    panel.startCapture(model);
    panel.recorder->hide();
    EXPECT_FALSE(panel.recorder->isCapturing());
    EXPECT_EQ(model.events, std::vector<std::string>{"resume"});
    EXPECT_TRUE(panel.press(x11Code(kSix), {}, Qt::Key_6));

    panel.recorder->show();
    panel.startCapture(model);
    panel.recorder->setPanelVisible(false);
    EXPECT_FALSE(panel.recorder->isRecording());
    EXPECT_EQ(model.events, (std::vector<std::string>{"resume", "resume"}));

    // Closing the window while capturing lets the key presses go and resumes the hot key.
    panel.recorder->setPanelVisible(true);
    panel.startCapture(model);
    delete panel.recorder;
    EXPECT_EQ(model.events.size(), 3u);
    EXPECT_TRUE(panel.press(x11Code(kSix), {}, Qt::Key_6));
}

TEST(RecordingShortcutRecorder, ResetSavesTheDefaultAndAFailedSaveOffersARetry) {
    FakeModel model;
    model.edited = model.saved = RecordingShortcut(kF5, 0);
    model.saveSucceeds = false;
    Panel panel(model);
    panel.startCapture(model);
    panel.recorder->resetButton()->click();
    EXPECT_EQ(model.events, (std::vector<std::string>{"resume", "save Shift+Super+6"}));
    panel.recorder->refresh();
    EXPECT_EQ(panel.recorder->keyCap()->text(), "Shift+Super+6");
    EXPECT_TRUE(panel.recorder->retryButton()->isVisible());
    EXPECT_EQ(panel.recorder->retryButton()->text(), "Retry saving shortcut");
    yux::test::writeScreenshot(panel.window, "shortcut_recorder_retry");

    model.saveSucceeds = true;
    panel.recorder->retryButton()->click();
    panel.recorder->refresh();
    EXPECT_EQ(model.saved, RecordingShortcut::defaultShortcut());
    EXPECT_FALSE(panel.recorder->retryButton()->isVisible());
}

}  // namespace
