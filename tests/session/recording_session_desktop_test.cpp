#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <signal.h>
#include <sys/stat.h>

#include <QProcess>

#include <chrono>

#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "platform/async/sleep.hpp"
#include "platform/async/wait_for.hpp"
#include "session/live_session.hpp"
#include "support/action_span.hpp"
#include "support/temporary_directory.hpp"

namespace yux {
namespace {

using namespace std::chrono_literals;
using platform::waitForTask;

// The handler names of a movie's tracks, in order.
std::vector<std::string> handlerNames(const std::string& path) {
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) != 0) return {};
    std::vector<std::string> names;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVDictionaryEntry* entry = av_dict_get(context->streams[i]->metadata, "handler_name", nullptr, 0);
        names.push_back(entry != nullptr ? entry->value : "");
    }
    avformat_close_input(&context);
    return names;
}

// Saves the whole recording once through the shell's path, then closes as saved.
class SavingTrimWindow : public TrimPreviewBoundary {
public:
    std::vector<RecordingExportProgress> progress;
    std::optional<RecordingExportResult> result;
    QCoro::Task<TrimPreviewOutcome> presentTrimPreview(PendingRecordingArtifact artifact,
                                                       TrimPreviewSaveHandling* saveHandler) override {
        TrimSelection selection;
        selection.sections = {RecordingEdit::Section{0, artifact.durationSeconds(), 1.0, true}};
        RecordingPreset best = *RecordingPresetCatalog::builtIn().preset("best");
        best.codec = RecordingVideoCodec::h264;
        result = co_await saveHandler->saveTrimPreview(
            selection, best, [this](const RecordingExportProgress& report) { progress.push_back(report); });
        co_return TrimPreviewOutcome::saved();
    }
};

TEST(RecordingSessionDesktop, RecordsTheDisplayAndPublishesAFastCopyIntoTheSaveFolder) {
    testing::TemporaryDirectory root;
    auto log = std::make_shared<testing::RecordingDebugLog>();
    testing::LiveSession live(root.path(), std::make_shared<FfmpegRecordingTrimBoundary>(log));
    auto& session = *live.session;

    testing::TimedAction start{testing::ActionClock::now(), {}};
    waitForTask(session.start());
    start.seen = testing::ActionClock::now();
    ASSERT_NE(session.storedState().recordingInfo(), nullptr) << session.storedState().diagnosticText();
    const std::string scratch = session.storedState().recordingInfo()->scratchFilePath;
    EXPECT_EQ(std::filesystem::path(scratch).parent_path(), live.locations.scratchDirectory());
    waitForTask(platform::sleepFor(2s));
    const Date beforeStop = Date::now();
    testing::TimedAction stop{testing::ActionClock::now(), {}};
    waitForTask(session.stop());
    stop.seen = testing::ActionClock::now();
    const Date afterStop = Date::now();
    const auto* artifact = session.storedState().pendingArtifact();
    ASSERT_NE(artifact, nullptr) << session.storedState().diagnosticText();
    // Between the calls' returns and their starts, give or take a frame at each end.
    testing::expectWithin(artifact->durationSeconds(), testing::spanBetween(start, stop), 1.0 / 30, "the take");
    ASSERT_EQ(live.handler->artifacts.size(), 1u);

    SavingTrimWindow window;
    testing::ShellSaveHandler shell(session);
    EXPECT_EQ(waitForTask(session.presentPendingTrim(&window, &shell)), TrimPreviewOutcome::saved());
    ASSERT_TRUE(window.result.has_value());
    const std::string exported = window.result->file.path;
    EXPECT_EQ(std::filesystem::path(exported).parent_path(), live.locations.defaultSaveFolder());
    struct stat info {};
    ASSERT_EQ(::stat(exported.c_str(), &info), 0);
    EXPECT_EQ(window.result->byteSize, info.st_size);
    EXPECT_FALSE(window.progress.empty());
    // A fast copy keeps the tracks and their names.
    EXPECT_EQ(handlerNames(exported), (std::vector<std::string>{"yux.source.screen", "yux.source.systemAudio"}));

    auto recent = waitForTask(live.exports->outputLibrary()->recentRecordings(10));
    ASSERT_EQ(recent.size(), 1u);
    EXPECT_EQ(recent[0].path, exported);
    EXPECT_GE(recent[0].createdAt, beforeStop);
    EXPECT_LE(recent[0].createdAt, afterStop);
    EXPECT_FALSE(std::filesystem::exists(scratch)) << "the scratch movie is deleted once saved";
    EXPECT_TRUE(session.storedState().isIdle());
}

TEST(RecordingSessionDesktop, AKilledRecordersTakeStaysUntouchedWhileANewSessionRecordsAndDiscards) {
    testing::TemporaryDirectory root;
    QProcess child;
    child.start(YUX_RECORDING_CHILD, {QString::fromStdString(root.path().string())});
    ASSERT_TRUE(child.waitForStarted(10000));
    std::string line;
    while (line.find('\n') == std::string::npos && child.waitForReadyRead(20000)) {
        line += child.readAllStandardOutput().toStdString();
    }
    ASSERT_EQ(line.rfind("recording ", 0), 0u) << line << child.readAllStandardError().toStdString();
    const std::string old = line.substr(10, line.find('\n') - 10);
    // Long enough for whole fragments to reach the disk.
    waitForTask(platform::sleepFor(2500ms));
    ASSERT_EQ(::kill(static_cast<pid_t>(child.processId()), SIGKILL), 0);
    ASSERT_TRUE(child.waitForFinished(10000));
    const std::string leftover = testing::readWholeFile(old);
    ASSERT_FALSE(leftover.empty()) << "a killed recorder leaves what it wrote";

    auto log = std::make_shared<testing::RecordingDebugLog>();
    testing::LiveSession live(root.path(), std::make_shared<FfmpegRecordingTrimBoundary>(log));
    waitForTask(live.session->start());
    ASSERT_NE(live.session->storedState().recordingInfo(), nullptr) << live.session->storedState().diagnosticText();
    const std::string fresh = live.session->storedState().recordingInfo()->scratchFilePath;
    EXPECT_EQ(std::filesystem::path(fresh).parent_path(), std::filesystem::path(old).parent_path());
    waitForTask(platform::sleepFor(1s));
    waitForTask(live.session->stop());
    ASSERT_NE(live.session->storedState().pendingArtifact(), nullptr) << live.session->storedState().diagnosticText();
    waitForTask(live.session->discardRecording());
    EXPECT_TRUE(live.session->storedState().isIdle());

    EXPECT_FALSE(std::filesystem::exists(fresh));
    EXPECT_EQ(testing::readWholeFile(old), leftover) << "the old take is unchanged";
}

}  // namespace
}  // namespace yux
