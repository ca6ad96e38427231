#pragma once

// The file-based automation server: polls the command folder, claims one command per pass,
// answers in the response folder and runs at most one record job at a time.

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <QCoroTask>

#include "automation/automation_documents.hpp"
#include "automation/automation_files.hpp"
#include "model/debug_log_boundary.hpp"
#include "platform/async/cancel_token.hpp"
#include "platform/async/shared_task.hpp"
#include "session/recording_session_state.hpp"

namespace yux::automation {

// Pause between two polling passes, and the step of a recording job's checks.
inline constexpr std::chrono::milliseconds kPollInterval{100};
// Passes in which a command file failed its claim before it is removed (or, when it cannot be,
// ignored): a file that can never be claimed must not cost every later pass a try and a log line.
inline constexpr int kClaimAttempts = 3;

// What the runner reads of the rest of the program.
class AutomationEnvironment {
public:
    virtual ~AutomationEnvironment() = default;
    // Nothing when the program has no recording session.
    virtual std::optional<RecordingSessionState> sessionState() const = 0;
    // Displays, applications, devices, access and preferences; the runner adds the session's
    // state and the active job. Throws what listing the displays throws.
    virtual QCoro::Task<RecordingAutomationDiscovery> discover() = 0;
};

class RecordingAutomation {
public:
    struct Directories {
        std::filesystem::path commands;
        std::filesystem::path responses;
    };
    using Sleep = std::function<QCoro::Task<void>(std::chrono::milliseconds, platform::CancelToken)>;
    // Runs one accepted record command and answers its final response (a terminal phase).
    // Never throws; the token is cancelled by "cancel", a failed progress write and the end of run().
    using RecordJob = std::function<QCoro::Task<RecordingAutomationResponse>(RecordingAutomationRequest,
                                                                             platform::CancelToken)>;

    RecordingAutomation(AutomationFiles files, Directories directories, AutomationEnvironment& environment,
                        std::shared_ptr<DebugLogBoundary> debugLog, Sleep sleep);

    void setRecordJob(RecordJob job) { recordJob_ = std::move(job); }

    // Creates the folders, repairs what an earlier run left, then polls until `token` is
    // cancelled; a running job is then cancelled and awaited.
    QCoro::Task<void> run(platform::CancelToken token);

    // One pass: handles at most one command.
    QCoro::Task<void> processNextCommand();
    QCoro::Task<void> recoverInterruptedCommands();

    // For the record job. Rewrites the job's response in a new phase; throws the write's error.
    void phase(RecordingAutomationResponse::Phase phase);
    // Export progress of job `id`; late, backward or foreign reports change nothing. A failed
    // write cancels the job.
    void progress(double fraction, const AutomationID& id);
    bool stopRequested() const { return stopRequested_; }
    // A "cancel" command of the job's client ended it: only then is its take thrown away.
    bool cancelRequested() const { return cancelRequested_; }
    // The job's current response, while one runs.
    const std::optional<RecordingAutomationResponse>& activeResponse() const { return activeResponse_; }
    // Waits for the running job, if any, to end.
    QCoro::Task<void> waitForJob();

    std::filesystem::path responsePath(const AutomationID& id) const;

private:
    void write(const RecordingAutomationResponse& response);
    QCoro::Task<void> handleClaimed(const std::string& name, const std::filesystem::path& claimed);
    // After its last failed claim: the command file is removed and answered, or else ignored.
    QCoro::Task<void> giveUpClaiming(const std::string& name);
    QCoro::Task<void> execute(const RecordingAutomationRequest& command);
    QCoro::Task<RecordingAutomationDiscovery> discover();
    QCoro::Task<void> runJob(RecordingAutomationRequest command, platform::CancelToken token);
    QCoro::Task<void> log(std::string line);

    AutomationFiles files_;
    Directories directories_;
    AutomationEnvironment& environment_;
    std::shared_ptr<DebugLogBoundary> debugLog_;
    Sleep sleep_;
    RecordJob recordJob_;

    std::optional<platform::SharedTask<void>> recordingTask_;
    std::optional<platform::CancelToken> jobToken_;
    std::optional<RecordingAutomationResponse> activeResponse_;
    bool stopRequested_ = false;
    bool cancelRequested_ = false;
    // Command files whose claim failed, by name, until they leave the folder.
    struct ClaimFailures {
        int passes = 0;
        bool ignored = false;
    };
    std::map<std::string, ClaimFailures> claimFailures_;
};

}  // namespace yux::automation
