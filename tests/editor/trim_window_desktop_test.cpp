#include <gtest/gtest.h>

#include <filesystem>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include "editor/editor_pixel_field.hpp"
#include "editor/editor_sidebar.hpp"
#include "editor/export_editor_view.hpp"
#include "editor/export_progress_sheet.hpp"
#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "editor/floating_trim_preview_window.hpp"
#include "platform/async/wait_for.hpp"
#include "platform/desktop/file_manager_reveal.hpp"
#include "platform/media/media_asset.hpp"
#include "session/live_session.hpp"
#include "support/private_bus.hpp"
#include "support/screenshot_writer.hpp"
#include "support/sink_monitor.hpp"
#include "support/temporary_directory.hpp"
#include "support/test_movie_generator.hpp"
#include "support/x11_test_client.hpp"

namespace yux {
namespace {

// X11 keycodes of the test keyboard.
constexpr std::uint8_t kKeyS = 39;
constexpr std::uint8_t kKeyDelete = 119;
constexpr std::uint8_t kKeySpace = 65;

bool runFor(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A take in a live session's scratch folder, as the recorder leaves it for the trim window.
struct PendingTake {
    testing::TemporaryDirectory root;
    testing::LiveSession live{root.path(),
                              std::make_shared<FfmpegRecordingTrimBoundary>(std::make_shared<testing::RecordingDebugLog>())};
    std::shared_ptr<RecordingExportSession> exportSession;
    std::optional<TrimPreviewOutcome> outcome;
    std::optional<QCoro::Task<void>> presenting;

    explicit PendingTake(const testing::TestMovieOptions& options) {
        std::filesystem::create_directories(live.locations.scratchDirectory());
        const std::string take = (live.locations.scratchDirectory() / "take.mov").string();
        testing::writeTestMovie(take, options);
        exportSession = platform::waitForTask(live.exports->open(take, Date::now()));
    }

    // Presents the take in `presenter`: its window once it has opened and taken focus, else null.
    TrimPreviewWindowController* present(FloatingTrimPreviewWindow& presenter) {
        presenting = [](RecordingExportSession& session, FloatingTrimPreviewWindow& window,
                        std::optional<TrimPreviewOutcome>& result) -> QCoro::Task<void> {
            result = co_await session.presentPreview(&window, &session);
        }(*exportSession, presenter, outcome);
        if (!runFor([&] { return presenter.activeWindow() != nullptr || outcome.has_value(); }, 20000)) return nullptr;
        auto* window = presenter.activeWindow();
        if (window == nullptr || !runFor([&] { return window->isActiveWindow(); }, 5000)) return nullptr;
        return window;
    }
};

TEST(TrimWindowDesktop, CutsSpeedsUpCropsAndExportsAFourTrackRecording) {
    testing::TestMovieOptions options;
    options.camera = true;
    options.microphone = true;
    options.durationSeconds = 4.0;
    PendingTake pending(options);
    auto& root = pending.root;
    auto& live = pending.live;
    auto& outcome = pending.outcome;

    // "Show in Files" reaches a file manager on a bus of this test's own.
    std::filesystem::create_directories(root.file("bus"));
    testing::PrivateBus bus(root.file("bus"));
    ASSERT_TRUE(bus.isRunning()) << "dbus-daemon did not start";
    auto service = bus.connect(QStringLiteral("file-manager"));
    testing::FakeFileManager fileManager;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    auto reveal = platform::FileManagerReveal::create(bus.connect(QStringLiteral("editor")), QStringLiteral("true"));

    FloatingTrimPreviewWindow presenter(live.log, [&](std::string path, PendingRecordingArtifact artifact,
                                                      TrimPreviewSaveHandling* handler,
                                                      std::shared_ptr<DebugLogBoundary> log,
                                                      ExportEditorSession::OutcomeHandler onOutcome) {
        EditorServices services{platform::PreviewPlayer::create(), EditorPreviewLoaders::forMovie(path),
                                [reveal](const std::string& file, auto failed) { reveal->reveal(file, std::move(failed)); }};
        return ExportEditorSession::open(std::move(path), std::move(artifact), handler, std::move(log),
                                         std::move(onOutcome), std::move(services));
    });

    auto* window = pending.present(presenter);
    ASSERT_NE(window, nullptr) << "the window did not open or never took focus";
    auto& model = window->model();
    ASSERT_TRUE(runFor([&] { return model.waveforms().size() == 2 && model.thumbnails().size() == 2; }, 20000));

    // Cut at 1 s and 3 s by the keyboard, play the middle twice as fast, remove the last part.
    testing::X11TestClient keyboard;
    model.seek(1.0);
    keyboard.tap(kKeyS);
    keyboard.sync();
    ASSERT_TRUE(runFor([&] { return model.edit().sections().size() == 2; }, 3000));
    model.seek(3.0);
    keyboard.tap(kKeyS);
    keyboard.sync();
    ASSERT_TRUE(runFor([&] { return model.edit().sections().size() == 3; }, 3000));
    model.seek(2.0);
    auto* view = window->findChild<ExportEditorView*>();
    ASSERT_NE(view, nullptr);
    view->speedButton(3)->click();
    EXPECT_EQ(model.selectedSection().speed, 2.0);
    // Removing after the speed change: equal neighbours merge on every change.
    model.seek(3.5);
    keyboard.tap(kKeyDelete);
    keyboard.sync();
    ASSERT_TRUE(runFor([&] { return !model.edit().sections().back().kept; }, 3000));
    ASSERT_EQ(model.edit().sections().size(), 3u);
    model.setSourcesExpanded(true);
    QApplication::processEvents();
    test::writeScreenshot(*window, "trim_desktop_lanes");

    // A square crop, and H.264 instead of the default preset's HEVC.
    auto* sidebar = window->findChild<EditorSidebar*>();
    sidebar->cropButton()->click();
    sidebar->ratioPicker()->setCurrentIndex(3);
    emit sidebar->ratioPicker()->activated(3);
    auto crop = model.crop().pixels(model.frameSize());
    EXPECT_EQ(crop.width, crop.height);
    QApplication::processEvents();
    test::writeScreenshot(*window, "trim_desktop_crop");

    // Typing in a crop field never splits.
    auto* field = sidebar->cropField(0);
    field->setFocus();
    ASSERT_TRUE(runFor([&] { return field->hasFocus(); }, 3000));
    model.seek(0.5);
    keyboard.tap(kKeyS);
    keyboard.sync();
    runFor([] { return false; }, 200);
    EXPECT_EQ(model.edit().sections().size(), 3u);
    EXPECT_TRUE(field->text().contains(QLatin1Char('s')));
    field->setText(QString::number(static_cast<long long>(crop.width)));
    emit field->returnPressed();
    field->clearFocus();
    sidebar->formatButton(0)->click();
    ASSERT_EQ(model.codec(), RecordingVideoCodec::h264);

    sidebar->exportButton()->click();
    ASSERT_TRUE(model.isExporting());
    ASSERT_TRUE(runFor([&] { return model.saved().has_value() || model.errorMessage().has_value(); }, 120000));
    ASSERT_FALSE(model.errorMessage().has_value()) << *model.errorMessage();
    EXPECT_EQ(window->sheet()->titleText(), "Export complete");
    QApplication::processEvents();
    test::writeScreenshot(*window, "trim_desktop_finished");
    const std::string output = model.saved()->file.path;
    window->sheet()->revealButton()->click();
    ASSERT_TRUE(runFor([&] { return !fileManager.shown.isEmpty(); }, 5000));
    EXPECT_EQ(fileManager.shown, QStringList{QUrl::fromLocalFile(QString::fromStdString(output)).toString(QUrl::FullyEncoded)});
    window->sheet()->closeButton()->click();
    // The window and its model are gone once the outcome is in.

    ASSERT_TRUE(runFor([&] { return outcome.has_value(); }, 10000));
    EXPECT_EQ(*outcome, TrimPreviewOutcome::saved());
    EXPECT_EQ(presenter.activeWindow(), nullptr);

    auto asset = platform::MediaAsset::open(output);
    auto videos = asset.tracksOf(platform::MediaTrackType::video);
    auto audios = asset.tracksOf(platform::MediaTrackType::audio);
    ASSERT_EQ(videos.size(), 1u);
    ASSERT_EQ(audios.size(), 1u);
    EXPECT_EQ(videos[0].codec, "h264");
    EXPECT_EQ(audios[0].codec, "aac");
    EXPECT_EQ(videos[0].width, static_cast<int>(crop.width));
    EXPECT_EQ(videos[0].height, static_cast<int>(crop.height));
    // 1 s as it was, 2 s at double speed, the last second removed.
    EXPECT_NEAR(asset.durationSeconds, 2.0, 1.0 / options.frameRate);
    // Second 0 of the source at 0.5 s, second 2 of the source (sped up) at 1.6 s.
    auto x = static_cast<int>(crop.width / 2);
    auto y = static_cast<int>(crop.height / 2);
    EXPECT_TRUE(testing::near(testing::pixelAt(output, 0.5, x, y), testing::screenColorAt(0), 40));
    EXPECT_TRUE(testing::near(testing::pixelAt(output, 1.75, x, y), testing::screenColorAt(2), 40));
}

// The played part of the transport's time label ("1:05.3 / 2:00.0"), in seconds.
double labelSeconds(const QString& text) {
    auto played = text.section(QStringLiteral(" / "), 0, 0);
    return played.section(QLatin1Char(':'), 0, 0).toDouble() * 60 + played.section(QLatin1Char(':'), 1, 1).toDouble();
}

// Milliseconds from `play` until the time label has moved on by half a second (-1: never).
qint64 untilHalfASecondPlayed(ExportEditorView& view, const std::function<void()>& play) {
    double from = labelSeconds(view.timeLabel()->text());
    QElapsedTimer timer;
    timer.start();
    play();
    if (!runFor([&] { return labelSeconds(view.timeLabel()->text()) >= from + 0.5; }, 5000)) return -1;
    return timer.elapsed();
}

// The preview plays through the desktop's sound output however long the window stood before
// Play, the first time and after a pause, by the button and by Space.
TEST(TrimWindowDesktop, PlayRunsTheTimeAndTheSoundAtOnce) {
    testing::TestMovieOptions options;
    options.durationSeconds = 6.0;
    PendingTake pending(options);
    FloatingTrimPreviewWindow presenter(pending.live.log);  // the program's own player, with sound
    auto* window = pending.present(presenter);
    ASSERT_NE(window, nullptr) << "the window did not open or never took focus";
    auto& model = window->model();
    ASSERT_TRUE(runFor([&] { return !model.waveforms().empty(); }, 20000));
    auto* view = window->findChild<ExportEditorView*>();
    ASSERT_NE(view, nullptr);
    testing::X11TestClient keyboard;
    auto space = [&] {
        keyboard.tap(kKeySpace);
        keyboard.sync();
    };

    // A user looks at the window a while before playing.
    runFor([] { return false; }, 2000);
    testing::SinkMonitor monitor;
    auto first = untilHalfASecondPlayed(*view, [&] { view->playButton()->click(); });
    EXPECT_GE(first, 0) << "the first Play never moved the time";
    EXPECT_LT(first, 1000) << "the first Play moved the time late";
    EXPECT_EQ(view->playButton()->accessibleName(), QStringLiteral("Pause"));

    space();
    ASSERT_TRUE(runFor([&] { return !model.playing(); }, 3000));
    runFor([] { return false; }, 1500);
    auto again = untilHalfASecondPlayed(*view, space);
    EXPECT_GE(again, 0) << "Play after a pause never moved the time";
    EXPECT_LT(again, 1000) << "Play after a pause moved the time late";
    space();
    ASSERT_TRUE(runFor([&] { return !model.playing(); }, 3000));
    runFor([] { return false; }, 200);  // what was played reaches the monitor
    double heard = testing::loudSeconds(monitor.stop());
    EXPECT_GE(heard, 0.8) << "the take's tone was not heard";

    // Back from a finished export by "Edit again".
    view->sidebar()->exportButton()->click();
    ASSERT_TRUE(runFor([&] { return model.saved().has_value() || model.errorMessage().has_value(); }, 60000));
    ASSERT_TRUE(model.saved().has_value()) << *model.errorMessage();
    runFor([] { return false; }, 1000);
    window->sheet()->editAgainButton()->click();
    auto afterExport = untilHalfASecondPlayed(*view, [&] { view->playButton()->click(); });
    EXPECT_GE(afterExport, 0) << "Play after Edit again never moved the time";
    EXPECT_LT(afterExport, 1000) << "Play after Edit again moved the time late";
    std::printf("half a second played %lld ms after the first Play, %lld ms after Space, %lld ms after Edit again;"
                " tone heard %.2f s\n",
                static_cast<long long>(first), static_cast<long long>(again), static_cast<long long>(afterExport), heard);

    window->closeWindow();
    ASSERT_TRUE(runFor([&] { return pending.outcome.has_value(); }, 10000));
}

}  // namespace
}  // namespace yux
