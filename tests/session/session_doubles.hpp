#pragma once

#include <deque>
#include <ostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "model/app_error.hpp"
#include "model/log_text.hpp"
#include "session/recording_session_state.hpp"
#include "model/clock_boundary.hpp"
#include "model/local_file_system.hpp"
#include "model/output_library_boundary.hpp"
#include "model/save_folder_authority_boundary.hpp"
#include "model/scratch_storage_boundary.hpp"
#include "model/settings_boundary.hpp"
#include "model/temporary_directory_scratch_storage.hpp"
#include "capture/video_capture_boundary.hpp"
#include "platform/async/errors.hpp"
#include "session/display_boundary.hpp"
#include "session/pending_recording_keeping.hpp"
#include "session/pending_trim_event_boundary.hpp"
#include "session/recording_session_boundary.hpp"
#include "session/recording_trim_boundary.hpp"
#include "session/screen_selection_boundary.hpp"
#include "session/trim_preview_boundary.hpp"
#include "support/await_gate.hpp"
#include "support/session_printers.hpp"

namespace yux::testing {

// What the doubles were asked, in order, across all of them.
struct Journal {
    std::vector<std::string> calls;
    void add(std::string call) { calls.push_back(std::move(call)); }
    std::size_t count(const std::string& call) const {
        std::size_t n = 0;
        for (const auto& c : calls) n += c == call;
        return n;
    }
};

struct SessionWorld;

inline const DisplayBounds kMainDisplay{DisplayID{"1"}, 0, 0, 1920, 1080};

class FakeDisplays : public DisplayBoundary {
public:
    FakeDisplays(Journal& journal, AwaitGates& gates) : journal_(journal), gates_(gates) {}
    std::vector<DisplayBounds> displays{kMainDisplay};
    std::optional<AppError> failure;

    QCoro::Task<std::vector<DisplayBounds>> availableDisplays() override {
        journal_.add("availableDisplays");
        co_await gates_.pass("availableDisplays");
        if (failure) throw *failure;
        auto copy = displays;  // g++ 12 moves from a member named in co_return
        co_return copy;
    }

private:
    Journal& journal_;
    AwaitGates& gates_;
};

class FakeSettings : public SettingsBoundary {
public:
    FakeSettings(Journal& journal, AwaitGates& gates) : journal_(journal), gates_(gates) {}
    AppSettings settings = AppSettings::initial(SaveFolderBookmark{"/home/recorder/Videos/Yux", {}});
    CapturePreference preference;
    std::vector<CapturePreference> persisted;
    std::optional<AppError> loadFailure;
    std::optional<AppError> preferenceLoadFailure;
    std::optional<AppError> persistFailure;

    QCoro::Task<AppSettings> loadSettings() override {
        journal_.add("loadSettings");
        co_await gates_.pass("loadSettings");
        if (loadFailure) throw *loadFailure;
        AppSettings copy = settings;
        co_return copy;
    }
    QCoro::Task<void> persistSettings(AppSettings value) override {
        settings = value;
        co_return;
    }
    QCoro::Task<CapturePreference> loadCapturePreference() override {
        journal_.add("loadCapturePreference");
        co_await gates_.pass("loadCapturePreference");
        if (preferenceLoadFailure) throw *preferenceLoadFailure;
        auto copy = preference;
        co_return copy;
    }
    QCoro::Task<void> persistCapturePreference(CapturePreference value) override {
        journal_.add("persistCapturePreference");
        co_await gates_.pass("persistCapturePreference");
        if (persistFailure) throw *persistFailure;
        persisted.push_back(value);
        preference = value;
    }

private:
    Journal& journal_;
    AwaitGates& gates_;
};

// Scratch movies "on disk" are the paths in `files`.
class FakeScratchStorage : public ScratchStorageBoundary {
public:
    FakeScratchStorage(Journal& journal, AwaitGates& gates) : journal_(journal), gates_(gates) {}
    std::set<std::string> files;
    std::vector<std::string> reserved;
    std::vector<std::string> deleted;
    std::optional<AppError> reserveFailure;
    int deleteFailures = 0;

    QCoro::Task<ScratchReservation> reserveScratchDestination(QUuid sessionID) override {
        journal_.add("reserveScratchDestination");
        co_await gates_.pass("reserveScratchDestination");
        if (reserveFailure) throw *reserveFailure;
        std::string path = "/scratch/" + canonicalText(sessionID) + ".mov";
        reserved.push_back(path);
        co_return ScratchReservation{sessionID, path};
    }
    QCoro::Task<void> deleteScratchFile(std::string filePath) override {
        journal_.add("deleteScratchFile");
        co_await gates_.pass("deleteScratchFile");
        if (deleteFailures > 0) {
            --deleteFailures;
            throw AppError::outputFinalizationFailed("scratch delete failed");
        }
        files.erase(filePath);  // a missing file counts as deleted
        deleted.push_back(filePath);
    }
    QCoro::Task<bool> scratchFileExists(std::string filePath) override { co_return files.contains(filePath); }

private:
    Journal& journal_;
    AwaitGates& gates_;
};

// The engine: a started capture "writes" its scratch file; stopping an unknown session is a
// no-op, as the live engine does.
class FakeVideoCapture : public VideoCaptureBoundary {
public:
    FakeVideoCapture(Journal& journal, AwaitGates& gates, FakeScratchStorage& scratch)
        : journal_(journal), gates_(gates), scratch_(scratch) {}
    std::optional<AppError> accessFailure;
    std::optional<AppError> startFailure;
    std::deque<std::exception_ptr> stopFailures;
    std::vector<CaptureTarget> targets;
    std::set<QUuid> active;
    std::vector<QUuid> stopped;

    QCoro::Task<void> ensureAccess() override {
        journal_.add("ensureAccess");
        co_await gates_.pass("ensureAccess");
        if (accessFailure) throw *accessFailure;
    }
    QCoro::Task<void> startCapture(QUuid sessionID, CaptureTarget target, std::string filePath) override {
        journal_.add("startCapture");
        targets.push_back(target);
        co_await gates_.pass("startCapture");
        if (startFailure) throw *startFailure;
        active.insert(sessionID);
        scratch_.files.insert(filePath);
    }
    QCoro::Task<void> stopCapture(QUuid sessionID) override {
        journal_.add("stopCapture");
        co_await gates_.pass("stopCapture");
        if (!stopFailures.empty()) {
            auto failure = stopFailures.front();
            stopFailures.pop_front();
            std::rethrow_exception(failure);
        }
        if (active.erase(sessionID) > 0) stopped.push_back(sessionID);
    }

private:
    Journal& journal_;
    AwaitGates& gates_;
    FakeScratchStorage& scratch_;
};

// The overlay and tray. A cancelled selection returns `cancelled` with the preference it got;
// the tray's actions are pushed by the test; hiding the overlay closes the waiting reader.
class FakeScreenSelection : public ScreenSelectionBoundary {
public:
    FakeScreenSelection(Journal& journal, AwaitGates& gates) : journal_(journal), gates_(gates) {}
    ScreenSelectionOutcome outcome = ScreenSelectionOutcome::confirmed(
        RecordingSelection{CaptureTarget::fullMainDisplay(), CapturePreference{CaptureMode::screen, {}, {}}});
    std::vector<CapturePreference> offered;
    std::vector<std::vector<DisplayBounds>> offeredDisplays;
    bool hideClosesTray = true;

    QCoro::Task<ScreenSelectionOutcome> startSelection(CapturePreference initialPreference,
                                                       std::vector<DisplayBounds> displays) override {
        journal_.add("startSelection");
        offered.push_back(initialPreference);
        offeredDisplays.push_back(displays);
        cancelled_ = false;
        co_await gates_.pass("startSelection");
        if (cancelled_) co_return ScreenSelectionOutcome::cancelled(initialPreference);
        auto copy = outcome;
        co_return copy;
    }
    QCoro::Task<void> cancelSelection() override {
        journal_.add("cancelSelection");
        cancelled_ = true;
        gates_.open("startSelection");  // the overlay closes soon
        co_return;
    }
    QCoro::Task<void> showRecordingControls() override {
        journal_.add("showRecordingControls");
        co_await gates_.pass("showRecordingControls");
    }
    QCoro::Task<void> showStoppingControls() override {
        journal_.add("showStoppingControls");
        co_await gates_.pass("showStoppingControls");
    }
    QCoro::Task<void> hideOverlay() override {
        journal_.add("hideOverlay");
        actions_.clear();
        if (hideClosesTray) closeReaders();
        co_return;
    }
    QCoro::Task<RecordingOverlayAction> nextRecordingOverlayAction() override {
        while (actions_.empty()) {
            auto arrival = std::make_shared<AwaitGate>();
            readers_.push_back(arrival);
            co_await arrival->pass();
            if (closing_) co_return RecordingOverlayAction::closed;
        }
        auto action = actions_.front();
        actions_.pop_front();
        co_return action;
    }

    void pressStop() { push(RecordingOverlayAction::stopRequested); }
    // Ends every waiting reader with `closed` (the tray is gone).
    void closeReaders() {
        closing_ = true;
        auto readers = std::move(readers_);
        readers_.clear();
        for (auto& reader : readers) reader->open();
        closing_ = false;
    }
    std::size_t readers() const { return readers_.size(); }

private:
    void push(RecordingOverlayAction action) {
        actions_.push_back(action);
        auto readers = std::move(readers_);
        readers_.clear();
        for (auto& reader : readers) reader->open();
    }

    Journal& journal_;
    AwaitGates& gates_;
    bool cancelled_ = false;
    bool closing_ = false;
    std::deque<RecordingOverlayAction> actions_;
    std::vector<std::shared_ptr<AwaitGate>> readers_;
};

class FakePendingTrimHandler : public PendingTrimEventBoundary {
public:
    std::vector<PendingRecordingArtifact> artifacts;
    QCoro::Task<void> handlePendingTrim(PendingRecordingArtifact artifact) override {
        artifacts.push_back(std::move(artifact));
        co_return;
    }
};

// The notes kept for takes the user has not let go: "keep <path> at <date>", "release <path>",
// each with how many takes had been announced by then.
class FakePendingKeeper : public PendingRecordingKeeping {
public:
    explicit FakePendingKeeper(const FakePendingTrimHandler& handler) : handler_(handler) {}
    std::vector<std::string> notes;
    QCoro::Task<void> keep(std::string scratchPath, Date createdAt) override {
        notes.push_back("keep " + scratchPath + " at " + std::to_string(createdAt.unixSeconds()) + after());
        co_return;
    }
    QCoro::Task<void> release(std::string scratchPath) override {
        notes.push_back("release " + scratchPath + after());
        co_return;
    }
    // Export temporaries noted, as "<scratch> <temporary>"; refused while `noteFails`.
    std::vector<std::string> temporaries;
    bool noteFails = false;
    QCoro::Task<bool> noteExportTemporary(std::string scratchPath, Date, std::string temporaryPath) override {
        if (noteFails) co_return false;
        temporaries.push_back(scratchPath + " " + temporaryPath);
        co_return true;
    }

private:
    std::string after() const { return " announced=" + std::to_string(handler_.artifacts.size()); }
    const FakePendingTrimHandler& handler_;
};

// The media pipeline: durations by path, exports that "write" a destination of 4096 bytes.
class FakeTrimBoundary : public RecordingTrimBoundary {
public:
    FakeTrimBoundary(Journal& journal, AwaitGates& gates) : journal_(journal), gates_(gates) {}
    double duration = 12;
    std::optional<AppError> durationFailure;
    std::exception_ptr exportFailure;
    std::vector<std::string> destinations;
    std::vector<RecordingExportProgress> reported{RecordingExportProgress{0.5, 1, 1, 3.0}};
    std::vector<platform::CancelToken> tokens;
    // The temporary each export was given ("" for none).
    std::vector<std::string> temporaries;
    // Where exported movies are written, when given.
    std::optional<LocalFileSystem> disk;

    QCoro::Task<double> loadDurationSeconds(std::string) override {
        journal_.add("loadDurationSeconds");
        if (durationFailure) throw *durationFailure;
        co_return duration;
    }
    QCoro::Task<void> exportTrimmedSegment(std::string, std::string destinationPath, TrimSelection, RecordingPreset,
                                           ProgressHandler progress, platform::CancelToken cancel,
                                           std::string temporaryPath) override {
        journal_.add("exportTrimmedSegment");
        temporaries.push_back(temporaryPath);
        tokens.push_back(cancel);
        for (const auto& report : reported) progress(report);
        co_await gates_.pass("exportTrimmedSegment");
        cancel.throwIfCancelled();
        if (exportFailure) std::rethrow_exception(exportFailure);
        if (disk) disk->writeFile(destinationPath, "movie");
        destinations.push_back(destinationPath);
    }

private:
    Journal& journal_;
    AwaitGates& gates_;
};

class FakeSizeReader : public RecordingScratchFileSizeReading {
public:
    std::map<std::string, std::int64_t> sizes;
    std::int64_t otherSize = 4096;
    std::optional<AppError> failure;
    QCoro::Task<std::int64_t> byteSize(std::string filePath) override {
        if (failure) throw *failure;
        auto found = sizes.find(filePath);
        co_return found != sizes.end() ? found->second : otherSize;
    }
};

class FakeSaveFolderAuthority : public SaveFolderAuthorityBoundary {
public:
    explicit FakeSaveFolderAuthority(Journal& journal) : journal_(journal) {}
    std::optional<AppError> failure;
    int open = 0;

    QCoro::Task<SaveFolderSelectionOutcome> chooseSaveFolder(std::optional<SaveFolderBookmark>) override {
        co_return SaveFolderSelectionOutcome::cancelled();
    }
    QCoro::Task<SaveFolderAccessSession> startAccessing(SaveFolderBookmark bookmark) override {
        journal_.add("startAccessing " + bookmark.path);
        if (failure) throw *failure;
        ++open;
        co_return SaveFolderAccessSession{QUuid::createUuid(), bookmark.path};
    }
    QCoro::Task<void> stopAccessing(SaveFolderAccessSession) override {
        journal_.add("stopAccessing");
        --open;
        co_return;
    }

private:
    Journal& journal_;
};

// The shell's save handler: reopens a failed recording, then publishes it.
class ShellSaveHandler : public TrimPreviewSaveHandling {
public:
    explicit ShellSaveHandler(RecordingSessionBoundary& session) : session_(session) {}
    QCoro::Task<RecordingExportResult> saveTrimPreview(TrimSelection selection, RecordingPreset profile,
                                                       ProgressHandler progress, platform::CancelToken cancel) override {
        co_await session_.reopenPendingTrimIfRecoverable();
        co_return co_await session_.publishPendingTrim(selection, profile, progress, cancel);
    }

private:
    RecordingSessionBoundary& session_;
};

class FixedClock : public ClockBoundary {
public:
    Date date = Date::fromUnixSeconds(1'800'000'000);
    Date now() const override { return date; }
};

}  // namespace yux::testing
