#include "session/recording_export_session.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "model/export_temporary.hpp"
#include "platform/async/wait_for.hpp"
#include "session/session_world.hpp"
#include "support/app_error_expectations.hpp"

namespace yux {
namespace {

using testing::SessionWorld;
using platform::waitForTask;

TrimSelection whole() { return TrimSelection(0, 12); }
RecordingPreset high() { return *RecordingPresetCatalog::builtIn().preset("high"); }

// A session opened straight over the world's doubles, for a take at /scratch/take.mov.
std::shared_ptr<RecordingExportSession> openTake(SessionWorld& w) {
    w.scratch->files.insert("/scratch/take.mov");
    return waitForTask(w.exports->open("/scratch/take.mov", w.clock->date));
}

TEST(RecordingExportSession, OpeningMeasuresTheTakeAndFailsWithTheMeasuringError) {
    SessionWorld w;
    w.trim->duration = 30;
    w.sizes->sizes["/scratch/take.mov"] = 6'000'000;
    auto session = openTake(w);
    EXPECT_EQ(session->artifact().durationSeconds(), 30.0);
    EXPECT_EQ(session->artifact().scratchByteSize(), 6'000'000);
    EXPECT_DOUBLE_EQ(session->artifact().captureDiagnostics().actualMegabytesPerMinute, 12.0);

    w.trim->durationFailure = AppError::outputFinalizationFailed("Invalid media duration");
    testing::expectAppError([&] { openTake(w); }, AppError::outputFinalizationFailed("Invalid media duration"));
    w.trim->durationFailure.reset();
    w.sizes->failure = AppError::outputFinalizationFailed("scratch size unavailable");
    testing::expectAppError([&] { openTake(w); }, AppError::outputFinalizationFailed("scratch size unavailable"));
}

TEST(RecordingExportSession, FinishDeletesOnceAndIsRefusedWhileAnExportRuns) {
    SessionWorld w;
    auto session = openTake(w);
    w.gates.hold("exportTrimmedSegment");
    auto running = session->saveTrimPreview(whole(), high(), {});
    EXPECT_TRUE(session->isExporting());
    testing::expectAppError([&] { waitForTask(session->finish()); },
                            AppError::outputFinalizationFailed("An export is already running"));
    testing::expectAppError([&] { waitForTask(session->saveTrimPreview(whole(), high(), {})); },
                            AppError::outputFinalizationFailed("An export is already running"));
    EXPECT_TRUE(session->isExporting()) << "the running export keeps its flag";
    w.gates["exportTrimmedSegment"].open();
    waitForTask(std::move(running));
    EXPECT_FALSE(session->isExporting());

    waitForTask(session->finish());
    waitForTask(session->finish());
    EXPECT_EQ(w.scratch->deleted, (std::vector<std::string>{"/scratch/take.mov"}));
    testing::expectAppError([&] { waitForTask(session->saveTrimPreview(whole(), high(), {})); },
                            AppError::outputFinalizationFailed("Recording editor is closed"));
    EXPECT_FALSE(session->isExporting());
}

// Each export is handed a hidden temporary in the save folder, noted with the take before the
// pipeline gets it; when the note cannot be written, the export goes under its own name.
TEST(RecordingExportSession, EachExportGoesThroughATemporaryNotedWithTheTakeFirst) {
    SessionWorld w;
    auto session = openTake(w);
    w.gates.hold("exportTrimmedSegment");
    auto running = session->saveTrimPreview(whole(), high(), {});
    ASSERT_EQ(w.trim->temporaries.size(), 1u);
    const std::string temporary = w.trim->temporaries[0];
    EXPECT_EQ(w.keeper->temporaries, (std::vector<std::string>{"/scratch/take.mov " + temporary}));
    w.gates["exportTrimmedSegment"].open();
    const auto first = waitForTask(std::move(running));
    EXPECT_TRUE(ExportTemporary::isNamedAsOurs(temporary)) << temporary;
    EXPECT_EQ(std::filesystem::path(temporary).parent_path(), std::filesystem::path(first.file.path).parent_path());

    waitForTask(session->saveTrimPreview(whole(), high(), {}));
    w.keeper->noteFails = true;
    waitForTask(session->saveTrimPreview(whole(), high(), {}));
    ASSERT_EQ(w.trim->temporaries.size(), 3u);
    EXPECT_NE(w.trim->temporaries[1], temporary) << "a new one for each export";
    EXPECT_EQ(w.trim->temporaries[2], "");
    EXPECT_EQ(w.keeper->temporaries.size(), 2u);
}

TEST(RecordingExportSession, AFailedDeletionIsRetriedByTheNextFinish) {
    SessionWorld w;
    auto session = openTake(w);
    w.scratch->deleteFailures = 1;
    testing::expectAppError([&] { waitForTask(session->finish()); },
                            AppError::outputFinalizationFailed("scratch delete failed"));
    EXPECT_FALSE(session->isClosed());
    waitForTask(session->finish());
    EXPECT_TRUE(session->isClosed());
    EXPECT_TRUE(w.scratch->files.empty());
}

TEST(RecordingExportSession, SettingsAndSaveFolderFailuresAreReportedAndCloseTheAccess) {
    SessionWorld w;
    auto session = openTake(w);
    w.settings->loadFailure = AppError::settingsLoadFailed("settings payload decode failed");
    testing::expectAppError([&] { waitForTask(session->saveTrimPreview(whole(), high(), {})); },
                            AppError::settingsLoadFailed("settings payload decode failed"));
    EXPECT_TRUE(w.log->lines().empty());
    w.settings->loadFailure.reset();

    w.authority->failure = AppError::saveFolderUnusable("folder is gone");
    testing::expectAppError([&] { waitForTask(session->saveTrimPreview(whole(), high(), {})); },
                            AppError::saveFolderUnusable("folder is gone"));
    EXPECT_EQ(w.log->lines().back(),
              "session_publish_failed scratch=/scratch/take.mov error=saveFolderUnusable(\"folder is gone\")");
    w.authority->failure.reset();

    // The export's file exists but its size cannot be read: the access is still closed.
    w.sizes->failure = AppError::outputFinalizationFailed("scratch size unavailable");
    testing::expectAppError([&] { waitForTask(session->saveTrimPreview(whole(), high(), {})); },
                            AppError::outputFinalizationFailed("scratch size unavailable"));
    EXPECT_EQ(w.authority->open, 0);
    EXPECT_FALSE(session->isExporting());
}

// A window that closes with the scripted outcome.
class ClosingWindow : public TrimPreviewBoundary {
public:
    TrimPreviewOutcome outcome = TrimPreviewOutcome::saved();
    QCoro::Task<TrimPreviewOutcome> presentTrimPreview(PendingRecordingArtifact, TrimPreviewSaveHandling*) override {
        auto copy = outcome;
        co_return copy;
    }
};

// A window whose Save exports the whole take and closes saved, or failed with the save's error.
class SavingWindow : public TrimPreviewBoundary {
public:
    QCoro::Task<TrimPreviewOutcome> presentTrimPreview(PendingRecordingArtifact, TrimPreviewSaveHandling* save) override {
        std::optional<AppError> failure;
        try {
            // Named first: g++ 12 destroys the temporaries of an awaited call twice.
            auto saving = save->saveTrimPreview(whole(), high(), {});
            co_await std::move(saving);
        } catch (const AppError& error) {
            failure = error;
        }
        co_return failure ? TrimPreviewOutcome::failed(*failure) : TrimPreviewOutcome::saved();
    }
};

// The take goes only once its export is whole on disk (the pipeline returns after the commit's
// syncs); an export whose commit failed keeps it.
TEST(RecordingExportSession, TheTakeIsDeletedOnlyAfterItsExportIsCommitted) {
    for (const bool commitFails : {false, true}) {
        SCOPED_TRACE(commitFails ? "a failed commit" : "a whole commit");
        SessionWorld w;
        auto session = openTake(w);
        if (commitFails) {
            w.trim->exportFailure = std::make_exception_ptr(std::runtime_error("Cannot write: Input/output error"));
        }
        SavingWindow window;
        w.gates.hold("exportTrimmedSegment");
        auto presenting = session->presentPreview(&window, session.get());
        EXPECT_TRUE(w.scratch->deleted.empty()) << "deleted while its export was being written";
        w.gates["exportTrimmedSegment"].open();
        const auto outcome = waitForTask(std::move(presenting));
        EXPECT_EQ(outcome, commitFails ? TrimPreviewOutcome::failed(AppError::outputFinalizationFailed("publish failed"))
                                       : TrimPreviewOutcome::saved());
        EXPECT_EQ(w.scratch->files.count("/scratch/take.mov"), commitFails ? 1u : 0u);
        EXPECT_EQ(w.trim->destinations.size(), commitFails ? 0u : 1u);
    }
}

TEST(RecordingExportSession, AWindowThatCannotDeleteTheTakeReportsThatAsItsOutcome) {
    SessionWorld w;
    auto session = openTake(w);
    ClosingWindow window;
    w.scratch->deleteFailures = 1;
    EXPECT_EQ(waitForTask(session->presentPreview(&window, session.get())),
              TrimPreviewOutcome::failed(AppError::outputFinalizationFailed("scratch delete failed")));
    window.outcome = TrimPreviewOutcome::discarded();
    EXPECT_EQ(waitForTask(session->presentPreview(&window, session.get())), TrimPreviewOutcome::discarded());
    EXPECT_TRUE(w.scratch->files.empty());
}

}  // namespace
}  // namespace yux
