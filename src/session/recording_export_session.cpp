#include "session/recording_export_session.hpp"

#include <exception>
#include <utility>

#include "model/app_error.hpp"
#include "model/export_temporary.hpp"
#include "model/file_recent_recording_store.hpp"
#include "model/linux_save_folder_authority.hpp"
#include "model/log_text.hpp"
#include "model/persistent_output_library.hpp"
#include "model/temporary_directory_scratch_storage.hpp"
#include "model/timestamp_file_naming_policy.hpp"
#include "platform/async/errors.hpp"

namespace yux {

QCoro::Task<std::shared_ptr<RecordingExportSession>> RecordingExportSession::open(
    std::string scratchPath, Date createdAt, Collaborators collaborators, RecordingPresetEstimatePolicy estimatePolicy) {
    const double duration = co_await collaborators.trimBoundary->loadDurationSeconds(scratchPath);
    const std::int64_t bytes = co_await collaborators.scratchFileSizeReader->byteSize(scratchPath);
    RecordingCaptureDiagnostics diagnostics{RecordingCaptureConfig::fullFidelity(),
                                            estimatePolicy.actualMegabytesPerMinute(bytes, duration)};
    PendingRecordingArtifact artifact(std::move(scratchPath), createdAt, duration, bytes, diagnostics,
                                      RecordingPresetCatalog::validated(RecordingPresetCatalog::builtIn()),
                                      kDefaultPresetID);
    co_return std::make_shared<RecordingExportSession>(std::move(artifact), std::move(collaborators));
}

RecordingExportSession::RecordingExportSession(PendingRecordingArtifact artifact, Collaborators collaborators)
    : artifact_(std::move(artifact)), collaborators_(std::move(collaborators)) {}

QCoro::Task<TrimPreviewOutcome> RecordingExportSession::presentPreview(TrimPreviewBoundary* trimPreview,
                                                                        TrimPreviewSaveHandling* saveHandler) {
    auto outcome = co_await trimPreview->presentTrimPreview(artifact_, saveHandler);
    if (std::holds_alternative<TrimPreviewOutcome::Failed>(outcome.value)) co_return outcome;
    std::exception_ptr failure;
    try {
        co_await finish();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure) co_return outcome;
    try {
        std::rethrow_exception(failure);
    } catch (const AppError& error) {
        co_return TrimPreviewOutcome::failed(error);
    } catch (...) {
        co_return TrimPreviewOutcome::failed(AppError::outputFinalizationFailed("discard failed"));
    }
}

QCoro::Task<RecordingExportResult> RecordingExportSession::saveTrimPreview(TrimSelection selection,
                                                                            RecordingPreset profile,
                                                                            ProgressHandler progress,
                                                                            platform::CancelToken cancel) {
    if (exportInProgress_) throw AppError::outputFinalizationFailed("An export is already running");
    exportInProgress_ = true;
    std::exception_ptr failure;
    std::optional<RecordingExportResult> result;
    try {
        result = co_await publish(std::move(selection), std::move(profile), std::move(progress), std::move(cancel));
    } catch (...) {
        failure = std::current_exception();
    }
    exportInProgress_ = false;
    if (failure) std::rethrow_exception(failure);
    co_return *result;
}

namespace {

std::string selectedSeconds(const TrimSelection& selection) {
    double total = 0;
    for (const auto& section : selection.sections) total += (section.end - section.start) / section.speed;
    return logNumber(total);
}

}  // namespace

QCoro::Task<RecordingExportResult> RecordingExportSession::publish(TrimSelection selection, RecordingPreset profile,
                                                                    ProgressHandler progress,
                                                                    platform::CancelToken cancel) {
    if (closed_) throw AppError::outputFinalizationFailed("Recording editor is closed");
    if (!artifact_.exportPresetCatalog().preset(profile.id)) {
        throw AppError::settingsLoadFailed("selected preset unavailable");
    }
    std::optional<AppSettings> settings;
    try {
        settings = co_await collaborators_.settings->loadSettings();
    } catch (const AppError&) {
        throw;
    } catch (const platform::CancelledError&) {
        throw;
    } catch (...) {
        throw AppError::settingsLoadFailed("unable to load settings");
    }

    if (!progress) progress = [](const RecordingExportProgress&) {};  // callers may not watch
    auto& log = *collaborators_.debugLog;
    const std::string& scratchPath = artifact_.scratchPath();
    std::optional<SaveFolderAccessSession> access;
    std::exception_ptr failure;
    std::optional<RecordingExportResult> result;
    try {
        access = co_await collaborators_.saveFolderAuthority->startAccessing(settings->saveFolder);
        auto reservation =
            co_await collaborators_.outputLibrary->reserveDestination(QUuid::createUuid(), OutputFormat::mov,
                                                                      access->folderPath);
        const double start = selection.sections.empty() ? 0.0 : selection.sections.front().start;
        const double end = selection.sections.empty() ? 0.0 : selection.sections.back().end;
        co_await log.append("session_publish_requested scratch=" + scratchPath + " destination=" +
                            reservation.filePath + " start_seconds=" + logNumber(start) +
                            " end_seconds=" + logNumber(end));
        // Written under a hidden name of our own until whole, noted first so that a kill leaves
        // nothing unknown behind.
        std::string temporary;
        if (collaborators_.pendingRecordings) {
            std::string candidate = ExportTemporary::pathIn(
                std::filesystem::path(reservation.filePath).parent_path().string(), QUuid::createUuid());
            if (co_await collaborators_.pendingRecordings->noteExportTemporary(scratchPath, artifact_.createdAt(),
                                                                               candidate)) {
                temporary = std::move(candidate);
            }
        }
        co_await collaborators_.trimBoundary->exportTrimmedSegment(scratchPath, reservation.filePath, selection,
                                                                   profile, std::move(progress), cancel,
                                                                   std::move(temporary));
        const std::int64_t completed = co_await collaborators_.scratchFileSizeReader->byteSize(reservation.filePath);
        auto file = co_await collaborators_.outputLibrary->markCompleted(reservation.filePath, artifact_.createdAt());
        co_await log.append("session_publish_completed destination=" + file.path +
                            " completed_bytes=" + std::to_string(completed) +
                            " selected_duration_seconds=" + selectedSeconds(selection) +
                            " preset_id=" + profile.id.rawValue);
        result = RecordingExportResult{std::move(file), completed};
    } catch (...) {
        failure = std::current_exception();
    }
    if (access) co_await collaborators_.saveFolderAuthority->stopAccessing(*access);
    if (!failure) co_return *result;

    std::string line;
    try {
        std::rethrow_exception(failure);
    } catch (const platform::CancelledError&) {
        line = "session_publish_cancelled scratch=" + scratchPath;
    } catch (const AppError& error) {
        line = "session_publish_failed scratch=" + scratchPath + " error=" + appErrorText(error);
    } catch (...) {
        line = "session_publish_failed scratch=" + scratchPath + " error=outputFinalizationFailed(publish failed)";
        failure = std::make_exception_ptr(AppError::outputFinalizationFailed("publish failed"));
    }
    co_await log.append(line);
    std::rethrow_exception(failure);
}

QCoro::Task<void> RecordingExportSession::finish() {
    if (exportInProgress_) throw AppError::outputFinalizationFailed("An export is already running");
    if (closed_) co_return;
    co_await collaborators_.scratchStorage->deleteScratchFile(artifact_.scratchPath());
    closed_ = true;
}

RecordingExportSessionFactory::RecordingExportSessionFactory(std::shared_ptr<SettingsBoundary> settings,
                                                             std::filesystem::path supportDirectory,
                                                             std::shared_ptr<DebugLogBoundary> debugLog,
                                                             std::shared_ptr<ClockBoundary> clock,
                                                             std::shared_ptr<RecordingTrimBoundary> trimBoundary,
                                                             Replacements replacements) {
    LocalFileSystem fileSystem = replacements.fileSystem.value_or(LocalFileSystem());
    auto recentStore = replacements.recentStore;
    if (!recentStore) {
        recentStore = std::make_shared<FileRecentRecordingStore>(
            (supportDirectory / "recent-recordings.json").string(), fileSystem, debugLog);
    }
    collaborators_.settings = std::move(settings);
    collaborators_.outputLibrary = std::make_shared<PersistentOutputLibrary>(
        std::make_shared<LocalFileSystem>(fileSystem), std::move(clock), TimestampFileNamingPolicy{},
        std::move(recentStore));
    collaborators_.saveFolderAuthority =
        replacements.saveFolderAuthority
            ? replacements.saveFolderAuthority
            : LinuxSaveFolderAuthority::create(debugLog, SaveFolderDefaultLocationPolicy::forCurrentUser());
    collaborators_.scratchStorage = replacements.scratchStorage ? replacements.scratchStorage
                                                                : TemporaryDirectoryScratchStorage::create(fileSystem);
    collaborators_.trimBoundary = std::move(trimBoundary);
    collaborators_.scratchFileSizeReader = replacements.scratchFileSizeReader
                                               ? replacements.scratchFileSizeReader
                                               : std::make_shared<LocalRecordingScratchFileSizeReader>();
    collaborators_.debugLog = std::move(debugLog);
    collaborators_.pendingRecordings = std::move(replacements.pendingRecordings);
}

QCoro::Task<std::shared_ptr<RecordingExportSession>> RecordingExportSessionFactory::open(std::string scratchPath,
                                                                                        Date createdAt) {
    co_return co_await RecordingExportSession::open(std::move(scratchPath), createdAt, collaborators_);
}

}  // namespace yux
