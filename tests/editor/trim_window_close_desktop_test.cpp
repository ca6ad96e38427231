// The trim window on the test desktop, closed by the window manager as a user closes it.
#include <gtest/gtest.h>

#include <filesystem>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include "editor/editor_sidebar.hpp"
#include "editor/export_progress_sheet.hpp"
#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "editor/floating_trim_preview_window.hpp"
#include "platform/async/wait_for.hpp"
#include "session/live_session.hpp"
#include "support/screenshot_writer.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"
#include "support/x11_test_client.hpp"

namespace yux {
namespace {

using Window = TrimPreviewWindowController;

// X11 keycodes of the test keyboard; Alt+F4 is the window manager's "Close".
constexpr std::uint8_t kKeyAlt = 64;
constexpr std::uint8_t kKeyF4 = 70;
// A take being opened and drawn on a loaded machine.
constexpr int kOpenTimeoutMs = 20000;
constexpr int kAnswerTimeoutMs = 5000;

// One take in the trim window of a live session, as the program presents it.
struct PresentedTake {
    std::string movie;
    std::shared_ptr<RecordingExportSession> exportSession;
    FloatingTrimPreviewWindow presenter;
    std::optional<TrimPreviewOutcome> outcome;
    QCoro::Task<void> presenting;

    PresentedTake(testing::LiveSession& live, const std::string& name)
        : movie((live.locations.scratchDirectory() / name).string()),
          presenter(live.log, [](std::string path, PendingRecordingArtifact artifact, TrimPreviewSaveHandling* handler,
                                 std::shared_ptr<DebugLogBoundary> log, ExportEditorSession::OutcomeHandler onOutcome) {
              EditorServices services{platform::PreviewPlayer::create(), EditorPreviewLoaders::forMovie(path),
                                      [](const std::string&, std::function<void(const std::string&)>) {}};
              return ExportEditorSession::open(std::move(path), std::move(artifact), handler, std::move(log),
                                               std::move(onOutcome), std::move(services));
          }) {
        testing::TestMovieOptions options;
        options.durationSeconds = 2.0;
        testing::writeTestMovie(movie, options);
        exportSession = platform::waitForTask(live.exports->open(movie, Date::now()));
        presenting = [](PresentedTake& take) -> QCoro::Task<void> {
            take.outcome = co_await take.exportSession->presentPreview(&take.presenter, take.exportSession.get());
        }(*this);
    }

    // The window, once it has the keyboard.
    Window* window() {
        EXPECT_TRUE(testing::processEventsUntil([&] { return presenter.activeWindow() || outcome; }, kOpenTimeoutMs));
        Window* shown = presenter.activeWindow();
        if (!shown) return nullptr;
        if (!testing::processEventsUntil([&] { return shown->isActiveWindow(); }, kAnswerTimeoutMs)) {
            shown->activateWindow();
            EXPECT_TRUE(testing::processEventsUntil([&] { return shown->isActiveWindow(); }, kAnswerTimeoutMs));
        }
        return shown;
    }
};

void closeByWindowManager(testing::X11TestClient& desktop) { desktop.tap(kKeyF4, {kKeyAlt}); }

void clickOn(testing::X11TestClient& desktop, QWidget* widget) {
    const QPoint centre = widget->mapToGlobal(widget->rect().center());
    desktop.click(centre.x(), centre.y());
}

QPushButton* buttonOf(QMessageBox* box, const char* text) {
    for (auto* button : box->buttons())
        if (button->text() == QString::fromUtf8(text)) return qobject_cast<QPushButton*>(button);
    return nullptr;
}

// Waits for the question, shown and laid out.
QMessageBox* question(Window* window) {
    EXPECT_TRUE(testing::processEventsUntil(
        [&] { return window->discardQuestion() && window->discardQuestion()->isVisible(); }, kAnswerTimeoutMs))
        << "closing the window asked nothing";
    testing::processEventsFor(300);
    return window->discardQuestion();
}

struct TrimWindowCloseDesktop : ::testing::Test {
    testing::TemporaryDirectory root;
    testing::LiveSession live{root.path(),
                              std::make_shared<FfmpegRecordingTrimBoundary>(std::make_shared<testing::RecordingDebugLog>())};
    testing::X11TestClient desktop;

    void SetUp() override { std::filesystem::create_directories(live.locations.scratchDirectory()); }
};

TEST_F(TrimWindowCloseDesktop, ClosingATakeNeverExportedAsksKeepEditingKeepsItAndDiscardDeletesIt) {
    PresentedTake take(live, "never-exported.mov");
    Window* window = take.window();
    ASSERT_NE(window, nullptr) << "the window did not open";

    closeByWindowManager(desktop);
    QMessageBox* asked = question(window);
    ASSERT_NE(asked, nullptr);
    // The window with its question, as the desktop shows them.
    const QRect frame = window->frameGeometry().united(asked->frameGeometry());
    test::writeScreenshot(QApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                                                   frame.height()).toImage(),
                          "trim_discard_question");

    clickOn(desktop, buttonOf(asked, "Keep Editing"));
    ASSERT_TRUE(testing::processEventsUntil([&] { return !window->discardQuestion(); }, kAnswerTimeoutMs));
    testing::processEventsFor(200);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(take.outcome.has_value());
    EXPECT_TRUE(std::filesystem::exists(take.movie));

    ASSERT_EQ(take.window(), window);
    closeByWindowManager(desktop);
    asked = question(window);
    ASSERT_NE(asked, nullptr);
    clickOn(desktop, buttonOf(asked, "Discard"));
    ASSERT_TRUE(testing::processEventsUntil([&] { return take.outcome.has_value(); }, kAnswerTimeoutMs));
    EXPECT_EQ(*take.outcome, TrimPreviewOutcome::discarded());
    EXPECT_FALSE(std::filesystem::exists(take.movie));
}

TEST_F(TrimWindowCloseDesktop, ClosingAfterAnExportAsksNothing) {
    PresentedTake take(live, "exported.mov");
    Window* window = take.window();
    ASSERT_NE(window, nullptr) << "the window did not open";
    auto& model = window->model();
    testing::processEventsFor(300);  // laid out and drawn
    clickOn(desktop, window->findChild<EditorSidebar*>()->exportButton());
    ASSERT_TRUE(testing::processEventsUntil([&] { return model.saved() || model.errorMessage(); }, 120000));
    ASSERT_FALSE(model.errorMessage().has_value()) << *model.errorMessage();
    const std::string exported = model.saved()->file.path;

    ASSERT_EQ(take.window(), window);
    closeByWindowManager(desktop);
    ASSERT_TRUE(testing::processEventsUntil([&] { return take.outcome.has_value(); }, kAnswerTimeoutMs))
        << (window->discardQuestion() ? "it asked" : "it did not close");
    EXPECT_EQ(*take.outcome, TrimPreviewOutcome::saved());
    EXPECT_TRUE(std::filesystem::exists(exported));
    EXPECT_FALSE(std::filesystem::exists(take.movie));
}

}  // namespace
}  // namespace yux
