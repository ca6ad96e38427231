#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture/capture_device_runtime.hpp"
#include "capture/capture_inputs_controller.hpp"
#include "model/file_recent_recording_store.hpp"
#include "platform/async/wait_for.hpp"
#include "session/recording_session_orchestrator.hpp"
#include "support/memory_preferences.hpp"
#include "support/recording_debug_log.hpp"
#include "session/session_doubles.hpp"

namespace yux::testing {

// An orchestrator over doubles, with the real export sessions over in-memory storage.
struct SessionWorld {
    Journal journal;
    AwaitGates gates;
    std::shared_ptr<FakeDisplays> displays = std::make_shared<FakeDisplays>(journal, gates);
    std::shared_ptr<FakeSettings> settings = std::make_shared<FakeSettings>(journal, gates);
    std::shared_ptr<FakeScratchStorage> scratch = std::make_shared<FakeScratchStorage>(journal, gates);
    std::shared_ptr<FakeVideoCapture> capture = std::make_shared<FakeVideoCapture>(journal, gates, *scratch);
    std::shared_ptr<FakeScreenSelection> selection = std::make_shared<FakeScreenSelection>(journal, gates);
    std::shared_ptr<FakePendingTrimHandler> handler = std::make_shared<FakePendingTrimHandler>();
    std::shared_ptr<FakePendingKeeper> keeper = std::make_shared<FakePendingKeeper>(*handler);
    std::shared_ptr<FakeTrimBoundary> trim = std::make_shared<FakeTrimBoundary>(journal, gates);
    std::shared_ptr<FakeSizeReader> sizes = std::make_shared<FakeSizeReader>();
    std::shared_ptr<FakeSaveFolderAuthority> authority = std::make_shared<FakeSaveFolderAuthority>(journal);
    std::shared_ptr<FixedClock> clock = std::make_shared<FixedClock>();
    std::shared_ptr<RecordingDebugLog> log = std::make_shared<RecordingDebugLog>();
    std::shared_ptr<FileRecentRecordingStore> recent = std::make_shared<FileRecentRecordingStore>(
        FileRecentRecordingStore::create_null("/support/recent-recordings.json"));
    LocalFileSystem disk = LocalFileSystem::create_null();
    std::shared_ptr<RecordingExportSessionFactory> exports;
    MemoryPreferences inputPreferences;
    std::shared_ptr<CaptureInputsController> inputs;
    std::shared_ptr<RecordingSessionOrchestrator> session;

    explicit SessionWorld(bool withInputs = false) {
        RecordingExportSessionFactory::Replacements replacements;
        replacements.saveFolderAuthority = authority;
        replacements.scratchStorage = scratch;
        replacements.recentStore = recent;
        replacements.fileSystem = disk;
        trim->disk = disk;
        replacements.scratchFileSizeReader = sizes;
        replacements.pendingRecordings = keeper;
        exports = std::make_shared<RecordingExportSessionFactory>(settings, "/support", log, clock, trim, replacements);
        if (withInputs) {
            inputs = std::make_shared<CaptureInputsController>(
                inputPreferences.store(), CaptureDeviceRuntime::create_null({}),
                platform::SystemSettingsOpener::create_null(true), platform::SystemLog::create_null());
        }
        session = std::make_shared<RecordingSessionOrchestrator>(RecordingSessionOrchestrator::Collaborators{
            selection, displays, settings, exports, scratch, capture, inputs, handler, clock, log, keeper});
    }
    ~SessionWorld() {
        // Ends tray loops still waiting for an action.
        selection->closeReaders();
    }

    template <class T>
    T run(QCoro::Task<T> task) {
        return platform::waitForTask(std::move(task));
    }
    const RecordingSessionState& stored() const { return session->storedState(); }
    std::vector<std::string> lines() const { return log->lines(); }
    // The session id of the n-th scratch reservation, as log lines write it.
    std::string sessionText(std::size_t n = 0) const {
        const auto& path = scratch->reserved.at(n);
        return path.substr(std::string("/scratch/").size(), 36);
    }
    std::string scratchPath(std::size_t n = 0) const { return scratch->reserved.at(n); }

    // The inputs start with a chosen microphone that is not there: they refuse a recording.
    void chooseMissingMicrophone() {
        CaptureInputPreferences chosen;
        chosen.microphoneEnabled = true;
        chosen.microphoneDeviceID = "gone";
        inputPreferences.store(chosen);
        run(inputs->start());
    }

    PendingRecordingArtifact recordAndStop() {
        run(session->start());
        run(session->stop());
        EXPECT_NE(stored().pendingArtifact(), nullptr) << stored().diagnosticText();
        return *stored().pendingArtifact();
    }
};

}  // namespace yux::testing
