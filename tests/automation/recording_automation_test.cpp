#include "automation/recording_automation.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "model/app_error.hpp"
#include "platform/async/wait_for.hpp"
#include "support/await_gate.hpp"
#include "support/recording_debug_log.hpp"
#include "support/temporary_directory.hpp"

using namespace yux;
using namespace yux::automation;
using Phase = RecordingAutomationResponse::Phase;

namespace {

const std::string kA = "0F8FAD5B-D9CB-469F-A165-70867728950E";
const std::string kB = "1F8FAD5B-D9CB-469F-A165-70867728950E";
const std::string kC = "2F8FAD5B-D9CB-469F-A165-70867728950E";
const std::filesystem::path kCommands = "/support/Automation/v1/production/commands";
const std::filesystem::path kResponses = "/support/Automation/v1/production/responses";

class FakeEnvironment : public AutomationEnvironment {
public:
    std::optional<RecordingSessionState> state = RecordingSessionState::idle();
    std::optional<RecordingSessionState> sessionState() const override { return state; }
    QCoro::Task<RecordingAutomationDiscovery> discover() override {
        RecordingAutomationDiscovery report;
        report.displays = {DisplayBounds(DisplayID{"1"}, 0, 0, 1920, 1080)};
        co_return report;
    }
};

class RunnerTest : public ::testing::Test {
protected:
    std::shared_ptr<AutomationFiles::NullState> disk = std::make_shared<AutomationFiles::NullState>();
    FakeEnvironment environment;
    std::shared_ptr<yux::testing::RecordingDebugLog> log = std::make_shared<yux::testing::RecordingDebugLog>();
    yux::testing::AwaitGate jobGate;
    std::vector<std::string> jobsStarted;
    RecordingAutomation runner{AutomationFiles::create_null(disk), {kCommands, kResponses}, environment, log,
                               [](std::chrono::milliseconds, platform::CancelToken) -> QCoro::Task<void> { co_return; }};

    void SetUp() override {
        disk->folders = {kCommands.string(), kResponses.string()};
        // A job that records until the gate opens, then ends by what it was told.
        runner.setRecordJob([this](RecordingAutomationRequest command,
                                   platform::CancelToken token) -> QCoro::Task<RecordingAutomationResponse> {
            jobsStarted.push_back(command.id.text);
            runner.phase(Phase::recording);
            co_await jobGate.pass();
            RecordingAutomationResponse final;
            final.id = command.id;
            if (token.isCancelled()) {
                final.phase = Phase::cancelled;
                final.error = "Recording cancelled";
            } else {
                final.phase = Phase::completed;
                final.outputPath = runner.stopRequested() ? "/movies/stopped.mp4" : "/movies/full.mp4";
            }
            co_return final;
        });
    }

    void drop(const std::string& name, const std::string& text) { disk->files[(kCommands / name).string()] = text; }
    void pass() { platform::waitForTask(runner.processNextCommand()); }
    std::optional<RecordingAutomationResponse> response(const std::string& id) {
        auto found = disk->files.find((kResponses / (id + ".json")).string());
        if (found == disk->files.end()) return std::nullopt;
        return json::decodeText<RecordingAutomationResponse>(found->second);
    }
    std::string error(const std::string& id) {
        auto answer = response(id);
        return answer && answer->error ? *answer->error : "<none>";
    }
    std::vector<std::string> commandFiles() {
        std::vector<std::string> names;
        for (const auto& [path, content] : disk->files) {
            if (std::filesystem::path(path).parent_path() == kCommands) names.push_back(std::filesystem::path(path).filename());
        }
        return names;
    }
    static std::string record(const std::string& id, const std::string& more = "") {
        return "{\"id\":\"" + id + "\",\"durationSeconds\":2" + more + "}";
    }
    static std::string action(const std::string& id, const std::string& name, const std::string& job = "") {
        return "{\"id\":\"" + id + "\",\"action\":\"" + name + "\"" + (job.empty() ? "" : ",\"jobID\":\"" + job + "\"") + "}";
    }
};

}  // namespace

TEST_F(RunnerTest, OneCommandPerPassInNameOrder) {
    drop(kB + ".json", action(kB, "status"));
    drop(kA + ".json", action(kA, "discover"));
    drop(kC + ".JSON", action(kC, "status"));
    drop(kC + ".json.tmp", action(kC, "status"));
    pass();
    EXPECT_TRUE(response(kA));
    EXPECT_FALSE(response(kB));
    pass();
    ASSERT_TRUE(response(kB));
    EXPECT_EQ(response(kB)->phase, Phase::completed);
    EXPECT_EQ(response(kB)->discovery->sessionState, "idle");
    EXPECT_FALSE(response(kB)->discovery->activeJobID);
    pass();
    EXPECT_FALSE(response(kC));
    EXPECT_EQ(commandFiles(), (std::vector<std::string>{kC + ".JSON", kC + ".json.tmp"}));
}

TEST_F(RunnerTest, NamesIdsAndContentThatFail) {
    drop("hello.json", record(kA));
    pass();
    EXPECT_TRUE(commandFiles().empty());
    EXPECT_EQ(log->lines().back(), "automation_transport_failed error=outputFinalizationFailed(\"Command filename must be its UUID\")");

    std::string lower = kA;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    drop(lower + ".json", action(lower, "status"));
    pass();
    EXPECT_EQ(response(kA)->phase, Phase::completed);

    drop(kB + ".json", action(kC, "status"));
    pass();
    EXPECT_EQ(error(kB), "outputFinalizationFailed(\"Command ID must match filename\")");
    EXPECT_EQ(log->lines().back(),
              "automation_command_failed id=" + kB + " error=outputFinalizationFailed(\"Command ID must match filename\")");

    drop(kC + ".json", "{\"id\":");
    pass();
    EXPECT_EQ(error(kC), "The given data was not valid JSON.");
    EXPECT_EQ(response(kC)->phase, Phase::failed);
    EXPECT_EQ(json::parseText(disk->files[(kResponses / (kC + ".json")).string()]).size(), 3u);

    drop(kC + ".json", "{\"id\":\"" + kC + "\"}");
    pass();
    EXPECT_EQ(error(kC), "screenSelectionFailed(\"duration must be 1\xE2\x80\x93" "3600 seconds\")");
    EXPECT_TRUE(commandFiles().empty());
}

TEST_F(RunnerTest, RecordAcceptanceRules) {
    environment.state.reset();
    drop(kA + ".json", record(kA));
    pass();
    EXPECT_EQ(error(kA), "systemPlaybackAudioUnavailable");

    environment.state = RecordingSessionState::selecting();
    drop(kA + ".json", record(kA));
    pass();
    EXPECT_EQ(error(kA), "recordingSessionAlreadyActive");

    environment.state = RecordingSessionState::failed(AppError::cameraFailed("gone"));
    drop(kA + ".json", record(kA));
    pass();
    EXPECT_EQ(response(kA)->phase, Phase::recording);
    EXPECT_EQ(jobsStarted, std::vector<std::string>{kA});

    drop(kB + ".json", record(kB));
    pass();
    EXPECT_EQ(error(kB), "recordingSessionAlreadyActive");

    drop(kC + ".json", action(kC, "status"));
    pass();
    EXPECT_EQ(response(kC)->discovery->activeJobID, AutomationID{kA});
    EXPECT_EQ(response(kC)->discovery->sessionState, "failed: cameraFailed(\"gone\")");

    jobGate.open();
    EXPECT_EQ(response(kA)->phase, Phase::completed);
    EXPECT_FALSE(runner.activeResponse());
    environment.state = RecordingSessionState::idle();
    drop(kB + ".json", record(kB));
    pass();
    EXPECT_EQ(jobsStarted, (std::vector<std::string>{kA, kB}));
}

TEST_F(RunnerTest, StopAndCancelAddressTheRunningJob) {
    drop(kA + ".json", record(kA));
    pass();
    drop(kB + ".json", action(kB, "stop"));
    pass();
    EXPECT_EQ(error(kB), "outputFinalizationFailed(\"No active recording with that job ID\")");
    drop(kB + ".json", action(kB, "cancel", kC));
    pass();
    EXPECT_EQ(error(kB), "outputFinalizationFailed(\"No active recording with that job ID\")");

    drop(kB + ".json", action(kB, "stop", kA));
    pass();
    EXPECT_EQ(response(kB)->phase, Phase::completed);
    EXPECT_EQ(response(kB)->jobID, AutomationID{kA});
    EXPECT_TRUE(runner.stopRequested());

    runner.phase(Phase::exporting);
    drop(kC + ".json", action(kC, "stop", kA));
    pass();
    EXPECT_EQ(error(kC), "outputFinalizationFailed(\"Recording is already stopping or exporting\")");

    EXPECT_FALSE(runner.cancelRequested());
    drop(kC + ".json", action(kC, "cancel", kA));
    pass();
    EXPECT_EQ(response(kC)->phase, Phase::completed);
    EXPECT_TRUE(runner.cancelRequested()) << "the job ends as its client asked";
    jobGate.open();
    EXPECT_EQ(response(kA)->phase, Phase::cancelled);
    EXPECT_EQ(error(kA), "Recording cancelled");
}

TEST_F(RunnerTest, ProgressOnlyRisesAndAFailedWriteCancels) {
    drop(kA + ".json", record(kA));
    pass();
    runner.progress(0.2, AutomationID{kA});
    EXPECT_FALSE(response(kA)->progress);  // not exporting yet
    runner.phase(Phase::exporting);
    runner.progress(0.5, AutomationID{kA});
    runner.progress(0.3, AutomationID{kA});
    runner.progress(std::nan(""), AutomationID{kA});
    runner.progress(0.9, AutomationID{kB});
    EXPECT_EQ(response(kA)->progress, 0.5);

    disk->failures["write"] = "disk full";
    runner.progress(0.6, AutomationID{kA});
    disk->failures.clear();
    jobGate.open();
    EXPECT_EQ(response(kA)->phase, Phase::cancelled);
    EXPECT_FALSE(response(kA)->progress);
    runner.progress(0.8, AutomationID{kA});
    EXPECT_FALSE(response(kA)->progress);
}

TEST_F(RunnerTest, RecoveryRepairsUnfinishedAnswersThenClaims) {
    RecordingAutomationResponse recording;
    recording.id = AutomationID{kA};
    recording.phase = Phase::exporting;
    recording.progress = 0.4;
    recording.outputPath = "/x.mp4";
    disk->files[(kResponses / (kA + ".json")).string()] = encodeResponseText(recording);
    RecordingAutomationResponse stopReply;
    stopReply.id = AutomationID{kB};
    stopReply.phase = Phase::accepted;
    stopReply.jobID = AutomationID{kA};
    const std::string stopText = encodeResponseText(stopReply);
    disk->files[(kResponses / (kB + ".json")).string()] = stopText;
    disk->files[(kCommands / (kA + ".json.processing")).string()] = "{}";
    disk->files[(kCommands / "word.json.processing").string()] = "{}";
    disk->folders.push_back((kCommands / (kC + ".json.processing")).string());
    // Whatever stands between the UUID and the last extension, if anything.
    const std::string kD = "3F8FAD5B-D9CB-469F-A165-70867728950E";
    const std::string kE = "4F8FAD5B-D9CB-469F-A165-70867728950E";
    disk->files[(kCommands / (kD + ".processing")).string()] = "{}";
    disk->files[(kCommands / (kE + ".tmp.processing")).string()] = "{}";

    platform::waitForTask(runner.recoverInterruptedCommands());
    // The claim comes second, so its message is the one left.
    EXPECT_EQ(error(kA), "Yux restarted while processing this command");
    EXPECT_EQ(error(kD), "Yux restarted while processing this command");
    EXPECT_EQ(error(kE), "Yux restarted while processing this command");
    EXPECT_EQ(disk->files[(kResponses / (kB + ".json")).string()], stopText);
    EXPECT_EQ(commandFiles(), std::vector<std::string>{"word.json.processing"});
    EXPECT_FALSE(response(kC));

    disk->files[(kResponses / (kA + ".json")).string()] = encodeResponseText(recording);
    platform::waitForTask(runner.recoverInterruptedCommands());
    auto repaired = response(kA);
    EXPECT_EQ(repaired->phase, Phase::failed);
    EXPECT_EQ(repaired->error, "Yux restarted before this recording completed");
    EXPECT_EQ(repaired->progress, 0.4);
    EXPECT_EQ(repaired->outputPath, "/x.mp4");
}

TEST_F(RunnerTest, RecoveryThatCannotWriteItsAnswersSaysWhy) {
    RecordingAutomationResponse recording;
    recording.id = AutomationID{kA};
    recording.phase = Phase::recording;
    const std::string unfinished = encodeResponseText(recording);
    disk->files[(kResponses / (kA + ".json")).string()] = unfinished;
    disk->files[(kCommands / (kB + ".json.processing")).string()] = "{}";
    disk->failures["write"] = "No space left on device";

    platform::waitForTask(runner.recoverInterruptedCommands());
    const auto failedLine = [](const std::string& id) {
        return "automation_response_failed id=" + id + " error=No space left on device: " +
               (kResponses / (id + ".json")).string();
    };
    EXPECT_EQ(log->lines(), (std::vector<std::string>{failedLine(kA), failedLine(kB)}));
    EXPECT_EQ(disk->files[(kResponses / (kA + ".json")).string()], unfinished);
    EXPECT_FALSE(response(kB));
    EXPECT_TRUE(commandFiles().empty());
}

TEST_F(RunnerTest, ACommandNamedAfterTheRunningJobLeavesItsResponseAlone) {
    drop(kA + ".json", record(kA));
    pass();
    const auto live = disk->files[(kResponses / (kA + ".json")).string()];
    drop(kA + ".json", action(kA, "status"));
    pass();
    EXPECT_EQ(disk->files[(kResponses / (kA + ".json")).string()], live);
    EXPECT_TRUE(commandFiles().empty());
    EXPECT_EQ(log->lines().back(),
              "automation_transport_failed error=outputFinalizationFailed(\"Command ID is in use by a running job\")");
    jobGate.open();
}

TEST_F(RunnerTest, OnlySmallRegularFilesAreRead) {
    drop(kA + ".json", std::string(kMaxCommandFileBytes + 1, ' '));
    pass();
    EXPECT_EQ(error(kA), "outputFinalizationFailed(\"Command file must be a regular file of at most 1 MiB\")");
    EXPECT_TRUE(commandFiles().empty());

    disk->folders.push_back((kCommands / (kB + ".json")).string());
    pass();
    EXPECT_EQ(error(kB), "outputFinalizationFailed(\"Command file must be a regular file of at most 1 MiB\")");
    // The folder stays under its claimed name, contents and all.
    EXPECT_NE(std::find(disk->folders.begin(), disk->folders.end(), (kCommands / (kB + ".json.processing")).string()),
              disk->folders.end());
}

TEST_F(RunnerTest, AnswersWithInvalidTextAreStillWritten) {
    environment.state = RecordingSessionState::failed(AppError::screenSelectionFailed("title \xFF"));
    drop(kA + ".json", action(kA, "status"));
    pass();
    ASSERT_TRUE(response(kA));
    EXPECT_EQ(response(kA)->discovery->sessionState, "failed: screenSelectionFailed(\"title \xEF\xBF\xBD\")");
}

TEST_F(RunnerTest, TransportFailuresKeepTheCommand) {
    drop(kA + ".json", action(kA, "status"));
    disk->failures["claim"] = "busy";
    pass();
    EXPECT_EQ(commandFiles(), std::vector<std::string>{kA + ".json"});
    EXPECT_EQ(log->lines().back().rfind("automation_transport_failed error=busy", 0), 0u);
    disk->failures = {{"write", "read-only"}};
    pass();
    EXPECT_TRUE(commandFiles().empty());
    EXPECT_EQ(log->lines().back().rfind("automation_transport_failed error=read-only", 0), 0u);
}

TEST_F(RunnerTest, ACommandThatCannotBeClaimedNeverHoldsUpTheOthers) {
    // Whether the stuck file can at least be removed.
    for (const bool removable : {true, false}) {
        disk->files.clear();
        disk->failures = {{"claim " + (kCommands / (kA + ".json")).string(), "File name too long"}};
        if (!removable) disk->failures["remove " + (kCommands / (kA + ".json")).string()] = "read-only";
        drop(kA + ".json", action(kA, "status"));
        drop(kB + ".json", action(kB, "status"));
        drop(kC + ".json", action(kC, "status"));
        const auto linesBefore = log->lines().size();
        pass();
        EXPECT_TRUE(response(kB)) << "served behind the stuck file in the same pass";
        pass();
        EXPECT_TRUE(response(kC));
        EXPECT_EQ(commandFiles(), std::vector<std::string>{kA + ".json"});
        pass();
        const auto lines = log->lines();
        ASSERT_GE(lines.size(), linesBefore + 4);
        EXPECT_EQ(std::count_if(lines.begin() + static_cast<std::ptrdiff_t>(linesBefore), lines.end(),
                                [](const std::string& line) { return line.starts_with("automation_transport_failed"); }),
                  kClaimAttempts);
        if (removable) {
            EXPECT_TRUE(commandFiles().empty());
            EXPECT_EQ(error(kA), "outputFinalizationFailed(\"Command file could not be claimed\")");
            EXPECT_EQ(lines.back(), "automation_command_failed id=" + kA +
                                        " error=outputFinalizationFailed(\"Command file could not be claimed\")");
        } else {
            EXPECT_EQ(commandFiles(), std::vector<std::string>{kA + ".json"});
            EXPECT_FALSE(response(kA));
            EXPECT_EQ(lines.back(), "automation_command_skipped name=" + kA + ".json removed=false");
        }
        // Later passes neither try it again nor log it.
        const auto settled = log->lines().size();
        pass();
        pass();
        EXPECT_EQ(log->lines().size(), settled);
    }
}

TEST(RunnerOnDisk, AFileNameTooLongToClaimIsRemovedAndTheStatusBehindItAnswered) {
    yux::testing::TemporaryDirectory folder;
    FakeEnvironment environment;
    auto log = std::make_shared<yux::testing::RecordingDebugLog>();
    const auto commands = folder.path() / "commands";
    const auto responses = folder.path() / "responses";
    RecordingAutomation runner{AutomationFiles::create(), {commands, responses}, environment, log,
                               [](std::chrono::milliseconds, platform::CancelToken) -> QCoro::Task<void> { co_return; }};
    std::filesystem::create_directories(commands);
    std::filesystem::create_directories(responses);
    // 250 characters: its claimed name would pass the file system's limit of 255.
    const std::string stuck = std::string(245, '0') + ".json";
    std::ofstream(commands / stuck) << "{}";
    std::ofstream(commands / (kB + ".json")) << "{\"id\":\"" + kB + "\",\"action\":\"status\"}";
    platform::waitForTask(runner.processNextCommand());
    EXPECT_TRUE(std::filesystem::exists(responses / (kB + ".json")));
    EXPECT_TRUE(std::filesystem::exists(commands / stuck));
    for (int pass = 1; pass < kClaimAttempts; ++pass) platform::waitForTask(runner.processNextCommand());
    EXPECT_FALSE(std::filesystem::exists(commands / stuck));
    EXPECT_EQ(log->lines().back(), "automation_command_skipped name=" + stuck + " removed=true");
}

TEST_F(RunnerTest, RunMakesTheFoldersPollsAndEndsTheJobWhenStopped) {
    disk->folders.clear();
    platform::CancelToken stop;
    int passes = 0;
    RecordingAutomation polling{AutomationFiles::create_null(disk), {kCommands, kResponses}, environment, log,
                                [&](std::chrono::milliseconds step, platform::CancelToken token) -> QCoro::Task<void> {
                                    EXPECT_EQ(step, kPollInterval);
                                    if (++passes == 1) {
                                        drop(kA + ".json", record(kA));
                                        drop(kB + ".json", action(kB, "status"));
                                    }
                                    if (passes == 3) stop.cancel();
                                    token.throwIfCancelled();
                                    co_return;
                                }};
    polling.setRecordJob([](RecordingAutomationRequest command,
                            platform::CancelToken token) -> QCoro::Task<RecordingAutomationResponse> {
        RecordingAutomationResponse final;
        final.id = command.id;
        final.phase = token.isCancelled() ? Phase::cancelled : Phase::completed;
        co_return final;
    });
    platform::waitForTask(polling.run(stop));
    EXPECT_EQ(disk->folders, (std::vector<std::string>{kCommands.string(), kResponses.string()}));
    EXPECT_EQ(passes, 3);
    EXPECT_TRUE(response(kA));
    EXPECT_TRUE(response(kB));
}

TEST_F(RunnerTest, WithoutItsFoldersTheRunnerDoesNothing) {
    disk->failures["makeDirectories"] = "read-only file system";
    drop(kA + ".json", action(kA, "status"));
    platform::waitForTask(runner.run(platform::CancelToken()));
    EXPECT_EQ(log->lines(), std::vector<std::string>{"automation_directory_failed error=read-only file system: " +
                                                     kCommands.string()});
    EXPECT_EQ(commandFiles(), std::vector<std::string>{kA + ".json"});
}
