#include "automation/recording_job.hpp"

#include <QCoreApplication>

#include <set>

#include <gtest/gtest.h>

#include "model/app_error.hpp"
#include "platform/async/errors.hpp"
#include "platform/async/wait_for.hpp"
#include "support/await_gate.hpp"
#include "support/recording_debug_log.hpp"

using namespace yux;
using namespace yux::automation;
using Phase = RecordingAutomationResponse::Phase;

namespace {

const std::string kJob = "0F8FAD5B-D9CB-469F-A165-70867728950E";
const std::filesystem::path kCommands = "/s/commands";
const std::filesystem::path kResponses = "/s/responses";

class FakeEnvironment : public AutomationEnvironment {
public:
    std::optional<RecordingSessionState> sessionState() const override { return RecordingSessionState::idle(); }
    QCoro::Task<RecordingAutomationDiscovery> discover() override { co_return RecordingAutomationDiscovery{}; }
};

class FakeSession : public AutomationSessionBoundary {
public:
    RecordingSessionState current;
    std::vector<std::string> calls;
    bool refuseStart = false;
    std::vector<double> progressReports = {0.25, 0.1, 0.75};
    std::optional<yux::testing::AwaitGate> exportGate;
    std::optional<TrimSelection> exported;
    std::optional<RecordingPreset> exportedProfile;
    std::function<void()> onPublish;
    std::optional<AppError> publishFailure;
    std::optional<AppError> stopFailure;

    RecordingSessionState state() const override { return current; }
    QCoro::Task<std::optional<ActiveSessionInfo>> startAutomation(CaptureTarget, Prepare prepare) override {
        calls.push_back("start");
        try {
            co_await prepare();
        } catch (const std::exception&) {
            current = RecordingSessionState::failed(AppError::microphoneFailed("not connected"));
            co_return std::nullopt;
        }
        if (refuseStart) co_return std::nullopt;
        ActiveSessionInfo info{QUuid::createUuid(), "/scratch/take.mov"};
        current = RecordingSessionState::recording(info);
        co_return info;
    }
    QCoro::Task<std::optional<PendingRecordingArtifact>> stopForAutomation(QUuid) override {
        calls.push_back("stop");
        if (stopFailure) {
            current = RecordingSessionState::failed(*stopFailure);
            co_return std::nullopt;
        }
        PendingRecordingArtifact artifact("/scratch/take.mov", Date(), 3, 1000, RecordingCaptureDiagnostics{},
                                          RecordingPresetCatalog::builtIn(), RecordingPresetCatalog::highID);
        current = RecordingSessionState::pendingTrim(artifact);
        co_return artifact;
    }
    QCoro::Task<RecordingExportResult> publishPendingTrim(TrimSelection selection, RecordingPreset profile,
                                                          ProgressHandler progress, platform::CancelToken cancel) override {
        calls.push_back("publish");
        exported = selection;
        exportedProfile = profile;
        for (double fraction : progressReports) progress(RecordingExportProgress{fraction});
        if (exportGate) co_await exportGate->pass();
        if (onPublish) onPublish();
        if (publishFailure) {
            current = RecordingSessionState::failed(*publishFailure);
            throw *publishFailure;
        }
        cancel.throwIfCancelled();
        co_return RecordingExportResult{RecordingFile{"/videos/Yux/out.mp4", Date()}, 4096};
    }
    QCoro::Task<void> discardRecording() override {
        calls.push_back("discard");
        current = RecordingSessionState::idle();
        co_return;
    }
    QCoro::Task<bool> keepPendingRecording(std::string path) override {
        calls.push_back("keep " + path);
        current = RecordingSessionState::idle();
        co_return true;
    }
    QCoro::Task<void> cancel() override {
        calls.push_back("cancel");
        co_return;
    }
};

class FakeServices : public RecordingJobServices {
public:
    std::vector<DisplayBounds> displays = {DisplayBounds(DisplayID{"1"}, 0, 0, 1920, 1080)};
    std::vector<std::string> calls;
    bool overlayShown = false;
    // A copy: co_return of a member lvalue would move it out.
    QCoro::Task<std::vector<DisplayBounds>> availableDisplays() override {
        co_return std::vector<DisplayBounds>(displays);
    }
    std::function<void()> onStartInputs;
    QCoro::Task<void> startInputs() override {
        if (onStartInputs) onStartInputs();
        co_return;
    }
    std::function<void()> onConfigureInputs;
    QCoro::Task<void> configureInputs(std::optional<std::string> microphone, std::optional<std::string>,
                                      std::optional<CameraPlacement>) override {
        if (microphone == "gone") throw AppError::microphoneFailed("not connected");
        calls.push_back("inputs");
        if (onConfigureInputs) onConfigureInputs();
        co_return;
    }
    QCoro::Task<std::string> showCameraOverlay(CaptureTarget, std::vector<DisplayBounds>) override {
        overlayShown = true;
        co_return "bubble=hidden";
    }
    void hideCameraOverlay() override { overlayShown = false; }
    QCoro::Task<RecordedTracks> loadTracks(std::string) override {
        co_return RecordedTracks{{{1, RecordingSourceKind::screen}, {2, RecordingSourceKind::systemAudio}},
                                 Size{1920, 1080}, TrackTransform{}};
    }
    std::set<std::string> movies = {"/scratch/take.mov"};
    QCoro::Task<bool> movieExists(std::string path) override { co_return movies.contains(path); }
};

class JobTest : public ::testing::Test {
protected:
    std::shared_ptr<AutomationFiles::NullState> disk = std::make_shared<AutomationFiles::NullState>();
    FakeEnvironment environment;
    std::shared_ptr<yux::testing::RecordingDebugLog> log = std::make_shared<yux::testing::RecordingDebugLog>();
    std::shared_ptr<FakeSession> session = std::make_shared<FakeSession>();
    std::shared_ptr<FakeServices> services = std::make_shared<FakeServices>();
    std::chrono::steady_clock::time_point clock{};
    int sleeps = 0;
    std::function<void()> onSleep;
    bool quitting = false;
    std::vector<std::string> phases;
    RecordingAutomation::Sleep sleep = [this](std::chrono::milliseconds step,
                                              platform::CancelToken token) -> QCoro::Task<void> {
        token.throwIfCancelled();
        clock += step;
        ++sleeps;
        if (onSleep) onSleep();
        token.throwIfCancelled();
        co_return;
    };
    RecordingAutomation runner{AutomationFiles::create_null(disk), {kCommands, kResponses}, environment, log, sleep};
    RecordingJob job{runner, session, services, log, sleep, [this] { return clock; }};

    void SetUp() override {
        disk->folders = {kCommands.string(), kResponses.string()};
        runner.setRecordJob(job.asRecordJob());
        job.setQuitting([this] { return quitting; });
    }
    void submit(const std::string& fields, int seconds = 1) {
        disk->files[(kCommands / (kJob + ".json")).string()] =
            "{\"id\":\"" + kJob + "\",\"durationSeconds\":" + std::to_string(seconds) + fields + "}";
        platform::waitForTask(runner.processNextCommand());
    }
    RecordingAutomationResponse answer() {
        return json::decodeText<RecordingAutomationResponse>(disk->files[(kResponses / (kJob + ".json")).string()]);
    }
    void settle() {
        platform::waitForTask(runner.waitForJob());
        QCoreApplication::processEvents();
    }
};

}  // namespace

TEST_F(JobTest, ARecordingRunsItsPhasesAndCompletes) {
    std::vector<Phase> seen;
    std::vector<double> progress;
    onSleep = [&] { seen.push_back(answer().phase); };
    submit(",\"export\":{\"trimStart\":0.5,\"trimEnd\":2.5,\"scale\":0.5,\"systemAudioGain\":1.5}", 3);
    settle();
    // 3 s in 0.1 s steps, the state read after each.
    EXPECT_EQ(sleeps, 30);
    EXPECT_EQ(seen, std::vector<Phase>(30, Phase::recording));
    const auto final = answer();
    EXPECT_EQ(final.phase, Phase::completed) << final.error.value_or("");
    EXPECT_EQ(final.outputPath, "/videos/Yux/out.mp4");
    EXPECT_FALSE(final.progress);
    EXPECT_EQ(session->calls, (std::vector<std::string>{"start", "stop", "publish", "discard"}));
    EXPECT_EQ(session->exported->crop.pixels(Size{960, 540}), (Rect{0, 0, 960, 540}));
    EXPECT_EQ(session->exported->audioLevels.at(2).gain, 1.5f);
    EXPECT_DOUBLE_EQ(session->exported->durationSeconds(), 2);
    EXPECT_EQ(session->exportedProfile->resolutionScale, 0.5);
    EXPECT_FALSE(services->overlayShown);
    EXPECT_FALSE(runner.activeResponse());
    const auto lines = log->lines();
    EXPECT_EQ(lines.front(), "automation_inputs_selected id=" + kJob + " microphone=off camera=false");
    EXPECT_EQ(lines.back(), "automation_recording_completed id=" + kJob + " output=/videos/Yux/out.mp4 bytes=4096");
}

TEST_F(JobTest, ProgressReachesTheResponseInOrderWhileExporting) {
    session->exportGate.emplace();
    submit("");
    QCoreApplication::processEvents();
    auto during = answer();
    EXPECT_EQ(during.phase, Phase::exporting);
    EXPECT_EQ(during.progress, 0.75);
    session->exportGate->open();
    settle();
    EXPECT_EQ(answer().phase, Phase::completed);
    EXPECT_FALSE(answer().progress);
}

TEST_F(JobTest, CancelWhileExportingEndsTheJobCancelled) {
    session->exportGate.emplace();
    submit("");
    disk->files[(kCommands / "1F8FAD5B-D9CB-469F-A165-70867728950E.json").string()] =
        "{\"id\":\"1F8FAD5B-D9CB-469F-A165-70867728950E\",\"action\":\"cancel\",\"jobID\":\"" + kJob + "\"}";
    platform::waitForTask(runner.processNextCommand());
    session->exportGate->open();
    settle();
    EXPECT_EQ(answer().phase, Phase::cancelled);
    EXPECT_EQ(answer().error, "Recording cancelled");
    EXPECT_EQ(session->calls, (std::vector<std::string>{"start", "stop", "publish", "cancel", "discard"}));
    EXPECT_EQ(log->lines().back(), "automation_recording_failed id=" + kJob + " error=CancelledError()");
}

TEST_F(JobTest, ACancelWhileTheInputsAreSetUpEndsTheJobAtTheNextCheck) {
    const auto cancel = [&] {
        disk->files[(kCommands / "1F8FAD5B-D9CB-469F-A165-70867728950E.json").string()] =
            "{\"id\":\"1F8FAD5B-D9CB-469F-A165-70867728950E\",\"action\":\"cancel\",\"jobID\":\"" + kJob + "\"}";
        platform::waitForTask(runner.processNextCommand());
    };
    struct Case {
        const char* what;
        std::function<void()>& when;
        std::vector<std::string> devicesChosen;
    };
    const std::vector<Case> cases = {
        {"while the devices load: none is chosen", services->onStartInputs, {}},
        {"while the devices are chosen: the choice is logged", services->onConfigureInputs, {"inputs"}},
    };
    for (const auto& test : cases) {
        session->calls.clear();
        services->calls.clear();
        test.when = cancel;
        const auto linesBefore = log->lines().size();
        submit(",\"microphoneID\":\"usb\"");
        settle();
        test.when = nullptr;
        EXPECT_EQ(answer().phase, Phase::cancelled) << test.what;
        EXPECT_EQ(services->calls, test.devicesChosen) << test.what;
        const auto lines = log->lines();
        EXPECT_EQ(std::count(lines.begin() + static_cast<std::ptrdiff_t>(linesBefore), lines.end(),
                             "automation_inputs_selected id=" + kJob + " microphone=native camera=false"),
                  static_cast<std::ptrdiff_t>(test.devicesChosen.size()))
            << test.what;
        EXPECT_FALSE(services->overlayShown) << test.what;
        EXPECT_EQ(session->calls, (std::vector<std::string>{"start", "cancel", "discard"})) << test.what;
    }
}

TEST_F(JobTest, AStopCommandEndsTheRecordingAtTheNextCheck) {
    onSleep = [&] {
        if (sleeps == 3) {
            disk->files[(kCommands / "1F8FAD5B-D9CB-469F-A165-70867728950E.json").string()] =
                "{\"id\":\"1F8FAD5B-D9CB-469F-A165-70867728950E\",\"action\":\"stop\",\"jobID\":\"" + kJob + "\"}";
            platform::waitForTask(runner.processNextCommand());
        }
    };
    submit("", 60);
    settle();
    EXPECT_EQ(disk->files[(kResponses / "1F8FAD5B-D9CB-469F-A165-70867728950E.json").string()],
              "{\"id\":\"1F8FAD5B-D9CB-469F-A165-70867728950E\",\"jobID\":\"" + kJob + "\",\"phase\":\"completed\"}");
    EXPECT_EQ(sleeps, 3);
    EXPECT_EQ(answer().phase, Phase::completed);
}

TEST_F(JobTest, AUserStopLeavesTheTakeToTheUser) {
    onSleep = [&] {
        if (sleeps == 2) {
            PendingRecordingArtifact artifact("/scratch/take.mov", Date(), 0.2, 10, RecordingCaptureDiagnostics{},
                                              RecordingPresetCatalog::builtIn(), RecordingPresetCatalog::highID);
            session->current = RecordingSessionState::pendingTrim(artifact);
        }
    };
    submit("");
    settle();
    EXPECT_EQ(answer().phase, Phase::failed);
    EXPECT_EQ(answer().error, "recordingSessionNotActive");
    EXPECT_EQ(session->calls, std::vector<std::string>{"start"});
    EXPECT_FALSE(services->overlayShown);
}

TEST_F(JobTest, ACaptureFailureDuringRecordingLeavesTheTakeToTheSession) {
    onSleep = [&] {
        if (sleeps == 2) session->current = RecordingSessionState::failed(AppError::videoCaptureUnavailable());
    };
    submit("");
    settle();
    EXPECT_EQ(answer().error, "recordingSessionNotActive");
    // The session stopped the take itself and keeps it; the next start releases what it holds.
    EXPECT_EQ(session->calls, std::vector<std::string>{"start"});
}

TEST_F(JobTest, EveryEndingButTheClientsCancelKeepsTheTake) {
    const std::string kept = " The recording is kept in /scratch/take.mov.";
    PendingRecordingArtifact stoppedByQuit("/scratch/take.mov", Date(), 0.2, 10, RecordingCaptureDiagnostics{},
                                           RecordingPresetCatalog::builtIn(), RecordingPresetCatalog::highID);
    struct Case {
        const char* what;
        // Sets the ending up; the token is the job's, cancelled by a quit or the runner's end.
        std::function<void(platform::CancelToken&)> arrange;
        std::vector<std::string> calls;
        Phase phase;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"a quit while recording",
         [&](platform::CancelToken& token) {
             onSleep = [&] {
                 if (sleeps == 2) token.cancel();
             };
         },
         {"start", "stop", "keep /scratch/take.mov"}, Phase::cancelled, "Recording cancelled." + kept},
        {"a quit that stopped the take first",
         [&](platform::CancelToken& token) {
             onSleep = [&] {
                 if (sleeps != 2) return;
                 session->current = RecordingSessionState::pendingTrim(stoppedByQuit);
                 token.cancel();
             };
         },
         {"start"}, Phase::cancelled, "Recording cancelled." + kept},
        // The quit's own stop, seen by the job before its cancellation comes: told once it ended.
        {"a quit stopping the take",
         [&](platform::CancelToken&) {
             onSleep = [&] {
                 if (sleeps == 2) {
                     quitting = true;
                     session->current = RecordingSessionState::stopping();
                 }
                 if (sleeps == 4) session->current = RecordingSessionState::pendingTrim(stoppedByQuit);
             };
         },
         {"start"}, Phase::cancelled, "Recording cancelled." + kept},
        {"a quit whose stop ends without a movie",
         [&](platform::CancelToken&) {
             onSleep = [&] {
                 if (sleeps == 2) {
                     quitting = true;
                     session->current = RecordingSessionState::stopping();
                 }
                 if (sleeps != 4) return;
                 services->movies.clear();
                 session->current = RecordingSessionState::failed(AppError::outputFinalizationFailed("no video"));
             };
         },
         {"start"}, Phase::cancelled, "Recording cancelled"},
        {"a quit while recording whose stop fails without a movie",
         [&](platform::CancelToken& token) {
             session->stopFailure = AppError::outputFinalizationFailed("no video");
             services->movies.clear();
             onSleep = [&] {
                 if (sleeps == 2) token.cancel();
             };
         },
         {"start", "stop"}, Phase::cancelled, "Recording cancelled"},
        {"a quit whose stop left the take pending",
         [&](platform::CancelToken&) {
             onSleep = [&] {
                 if (sleeps != 2) return;
                 quitting = true;
                 session->current = RecordingSessionState::pendingTrim(stoppedByQuit);
             };
         },
         {"start"}, Phase::cancelled, "Recording cancelled." + kept},
        {"a quit whose stop failed, which keeps the take",
         [&](platform::CancelToken&) {
             onSleep = [&] {
                 if (sleeps != 2) return;
                 quitting = true;
                 session->current = RecordingSessionState::failed(AppError::outputFinalizationFailed("disk full"));
             };
         },
         {"start"}, Phase::cancelled, "Recording cancelled." + kept},
        // The tray's, the panel's or the shortcut's stop makes the take the user's.
        {"a stop by the user",
         [&](platform::CancelToken&) {
             onSleep = [&] {
                 if (sleeps == 2) session->current = RecordingSessionState::stopping();
             };
         },
         {"start"}, Phase::failed, "recordingSessionNotActive"},
        {"a quit while exporting",
         [&](platform::CancelToken& token) { session->onPublish = [&] { token.cancel(); }; },
         {"start", "stop", "publish", "keep /scratch/take.mov"}, Phase::cancelled, "Recording cancelled." + kept},
        {"a failed export",
         [&](platform::CancelToken&) { session->publishFailure = AppError::saveFolderUnusable("No space left"); },
         {"start", "stop", "publish", "keep /scratch/take.mov"}, Phase::failed,
         "saveFolderUnusable(\"No space left\")." + kept},
    };
    for (const auto& test : cases) {
        *session = FakeSession{};
        services->movies = {"/scratch/take.mov"};
        sleeps = 0;
        onSleep = nullptr;
        quitting = false;
        platform::CancelToken token;
        test.arrange(token);
        auto command = RecordingAutomationRequest::decodeCommand("{\"id\":\"" + kJob + "\",\"durationSeconds\":1}");
        const auto final = platform::waitForTask(job.record(command, token));
        EXPECT_EQ(session->calls, test.calls) << test.what;
        EXPECT_EQ(final.phase, test.phase) << test.what;
        EXPECT_EQ(final.error, test.error) << test.what;
        EXPECT_FALSE(final.outputPath) << test.what;
        EXPECT_EQ(log->lines().back().ends_with(" kept=/scratch/take.mov"), test.error.ends_with(kept)) << test.what;
    }
}

TEST_F(JobTest, AfterAFailedCaptureTheJobLeavesWhatTheUserStartedAlone) {
    PendingRecordingArtifact otherTake("/scratch/other.mov", Date(), 2, 10, RecordingCaptureDiagnostics{},
                                       RecordingPresetCatalog::builtIn(), RecordingPresetCatalog::highID);
    struct Case {
        const char* what;
        RecordingSessionState state;
    };
    // The capture failed and, before the job's next look, the user clicked Record or opened a take.
    const std::vector<Case> cases = {
        {"a new selection", RecordingSessionState::selecting()},
        {"a new recording", RecordingSessionState::recording(ActiveSessionInfo{QUuid::createUuid(), "/scratch/new.mov"})},
        {"another take waiting for its trim", RecordingSessionState::pendingTrim(otherTake)},
        {"an idle session", RecordingSessionState::idle()},
    };
    for (const auto& test : cases) {
        session->calls.clear();
        sleeps = 0;
        onSleep = [&] {
            if (sleeps == 2) session->current = test.state;
        };
        submit("");
        settle();
        EXPECT_EQ(answer().error, "recordingSessionNotActive") << test.what;
        EXPECT_EQ(session->calls, std::vector<std::string>{"start"}) << test.what;
        EXPECT_FALSE(services->overlayShown) << test.what;
        session->current = RecordingSessionState::idle();
    }
}

TEST_F(JobTest, StartFailuresCarryTheSessionsState) {
    submit(",\"microphoneID\":\"gone\"");
    settle();
    EXPECT_EQ(answer().phase, Phase::failed);
    EXPECT_EQ(answer().error,
              R"x(outputFinalizationFailed("Capture start failed: failed(microphoneFailed(\"not connected\"))"))x");
    EXPECT_EQ(session->calls, (std::vector<std::string>{"start", "cancel", "discard"}));

    services->displays.clear();
    session->current = RecordingSessionState::idle();
    submit("");
    settle();
    EXPECT_EQ(answer().error, "displayDiscoveryFailed(\"No attached displays\")");
}

TEST_F(JobTest, ATrimBeyondTheMeasuredLengthFailsAfterTheRecording) {
    submit(",\"export\":{\"trimEnd\":3.5}", 4);
    settle();
    EXPECT_EQ(answer().error, "outputFinalizationFailed(\"Trim must be within the recording duration\"). "
                              "The recording is kept in /scratch/take.mov.");
    EXPECT_EQ(session->calls, (std::vector<std::string>{"start", "stop", "keep /scratch/take.mov"}));
}

TEST(MicrophoneKindTest, NamesTheKindOfTheChosenDevice) {
    EXPECT_EQ(microphoneKind(std::nullopt), "off");
    EXPECT_EQ(microphoneKind("yux-usb:3"), "usb");
    EXPECT_EQ(microphoneKind("alsa_input.pci"), "native");
}
