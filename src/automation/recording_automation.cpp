#include "automation/recording_automation.hpp"

#include <algorithm>
#include <cmath>

#include "model/app_error.hpp"
#include "model/log_text.hpp"

namespace yux::automation {

namespace {

using Phase = RecordingAutomationResponse::Phase;

constexpr std::string_view kCommandExtension = ".json";
constexpr std::string_view kClaimExtension = ".processing";

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Only the last extension counts: "a.json" yes, "a.JSON" and "a.json.tmp" no, ".json" alone no.
bool hasExtension(std::string_view name, std::string_view extension) {
    return name.size() > extension.size() && endsWith(name, extension);
}

// "a.b" → "a"; a name without an extension stays as it is.
std::string_view withoutExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string errorText(const std::exception_ptr& error) { return logErrorText(error); }

RecordingAutomationResponse failure(const AutomationID& id, std::string error) {
    RecordingAutomationResponse response;
    response.id = id;
    response.phase = Phase::failed;
    response.error = std::move(error);
    return response;
}

bool isUnfinished(Phase phase) { return !isTerminal(phase); }

}  // namespace

RecordingAutomation::RecordingAutomation(AutomationFiles files, Directories directories,
                                         AutomationEnvironment& environment,
                                         std::shared_ptr<DebugLogBoundary> debugLog, Sleep sleep)
    : files_(std::move(files)), directories_(std::move(directories)), environment_(environment),
      debugLog_(std::move(debugLog)), sleep_(std::move(sleep)) {}

std::filesystem::path RecordingAutomation::responsePath(const AutomationID& id) const {
    return directories_.responses / (id.text + std::string(kCommandExtension));
}

QCoro::Task<void> RecordingAutomation::log(std::string line) {
    if (debugLog_) co_await debugLog_->append(std::move(line));
}

void RecordingAutomation::write(const RecordingAutomationResponse& response) {
    files_.operations().writeAtomically(responsePath(response.id), encodeResponseText(response));
}

QCoro::Task<void> RecordingAutomation::run(platform::CancelToken token) {
    std::string directoryError;
    try {
        files_.operations().makeDirectories(directories_.commands);
        files_.operations().makeDirectories(directories_.responses);
    } catch (const std::exception& error) {
        directoryError = error.what();
    }
    if (!directoryError.empty()) {
        co_await log("automation_directory_failed error=" + directoryError);
        co_return;
    }
    co_await recoverInterruptedCommands();
    while (!token.isCancelled()) {
        co_await processNextCommand();
        try {
            // Named first: g++ 12 destroys the temporaries of an awaited call twice.
            auto pause = sleep_(kPollInterval, token);
            co_await std::move(pause);
        } catch (const platform::CancelledError&) {
            break;
        }
    }
    if (jobToken_) jobToken_->cancel();
    co_await waitForJob();
}

QCoro::Task<void> RecordingAutomation::waitForJob() {
    if (recordingTask_ && !recordingTask_->isDone()) {
        auto task = *recordingTask_;
        co_await task.get();
    }
}

QCoro::Task<void> RecordingAutomation::recoverInterruptedCommands() {
    const auto& files = files_.operations();
    // The files stay as they are when a rewrite fails; the log says why.
    std::vector<std::string> failures;
    const auto rewrite = [&](const RecordingAutomationResponse& response) {
        try {
            write(response);
        } catch (...) {
            failures.push_back("automation_response_failed id=" + response.id.text +
                               " error=" + errorText(std::current_exception()));
        }
    };
    const auto listOrEmpty = [&](const std::filesystem::path& folder) {
        try {
            return files.list(folder);
        } catch (const std::exception&) {
            return std::vector<std::string>{};
        }
    };
    for (const auto& name : listOrEmpty(directories_.responses)) {
        if (!hasExtension(name, kCommandExtension)) continue;
        std::optional<RecordingAutomationResponse> response;
        try {
            response = json::decodeText<RecordingAutomationResponse>(files.read(directories_.responses / name));
        } catch (const std::exception&) {
            // An unreadable response stays as it is.
            continue;
        }
        if (!isUnfinished(response->phase) || response->jobID) continue;
        response->phase = Phase::failed;
        response->error = "Yux restarted before this recording completed";
        rewrite(*response);
    }
    for (const auto& name : listOrEmpty(directories_.commands)) {
        if (!hasExtension(name, kClaimExtension)) continue;
        const auto claimed = directories_.commands / name;
        // A folder under a claimed name is left alone: removing it would take its contents.
        if (files.isDirectory(claimed)) continue;
        // The name without its last two extensions, whatever the inner one is.
        auto id = automationIDFromText(withoutExtension(withoutExtension(name)));
        if (!id) continue;
        rewrite(failure(*id, "Yux restarted while processing this command"));
        files.remove(claimed);
    }
    for (auto& line : failures) co_await log(std::move(line));
}

QCoro::Task<void> RecordingAutomation::processNextCommand() {
    const auto& files = files_.operations();
    std::vector<std::string> names;
    std::string transportError;
    try {
        names = files.list(directories_.commands);
    } catch (const std::exception& error) {
        transportError = error.what();
    }
    if (!transportError.empty()) {
        co_await log("automation_transport_failed error=" + transportError);
        co_return;
    }
    std::erase_if(names, [](const std::string& name) { return !hasExtension(name, kCommandExtension); });
    std::stable_sort(names.begin(), names.end());
    std::erase_if(claimFailures_, [&](const auto& entry) {
        return !std::binary_search(names.begin(), names.end(), entry.first);
    });
    // The first command that can be claimed is served; one that cannot waits for a later pass
    // and never holds up those behind it.
    for (const auto& name : names) {
        if (const auto found = claimFailures_.find(name); found != claimFailures_.end() && found->second.ignored) continue;
        const auto claimed = directories_.commands / (name + std::string(kClaimExtension));
        std::string claimError;
        try {
            files.claim(directories_.commands / name, claimed);
        } catch (const std::exception& error) {
            claimError = error.what();
        }
        if (claimError.empty()) {
            claimFailures_.erase(name);
            co_await handleClaimed(name, claimed);
            co_return;
        }
        co_await log("automation_transport_failed error=" + claimError);
        if (++claimFailures_[name].passes >= kClaimAttempts) co_await giveUpClaiming(name);
    }
}

QCoro::Task<void> RecordingAutomation::giveUpClaiming(const std::string& name) {
    const bool removed = files_.operations().remove(directories_.commands / name);
    if (removed) {
        claimFailures_.erase(name);
    } else {
        claimFailures_[name].ignored = true;
    }
    co_await log("automation_command_skipped name=" + name + " removed=" + (removed ? "true" : "false"));
    const auto id = automationIDFromText(std::string_view(name).substr(0, name.size() - kCommandExtension.size()));
    if (!removed || !id) co_return;
    // The client would otherwise wait for an answer that never comes.
    const std::string text = appErrorText(AppError::outputFinalizationFailed("Command file could not be claimed"));
    std::string writeError;
    try {
        write(failure(*id, text));
    } catch (const std::exception& error) {
        writeError = error.what();
    }
    if (writeError.empty()) {
        co_await log("automation_command_failed id=" + id->text + " error=" + text);
    } else {
        co_await log("automation_transport_failed error=" + writeError);
    }
}

QCoro::Task<void> RecordingAutomation::handleClaimed(const std::string& name, const std::filesystem::path& claimed) {
    const auto& files = files_.operations();
    // A folder keeps its claimed name; anything else is unlinked when the pass ends.
    const auto release = [&] {
        if (!files.isDirectory(claimed)) files.remove(claimed);
    };
    auto id = automationIDFromText(std::string_view(name).substr(0, name.size() - kCommandExtension.size()));
    if (!id) {
        release();
        co_await log("automation_transport_failed error=" +
                     appErrorText(AppError::outputFinalizationFailed("Command filename must be its UUID")));
        co_return;
    }
    // Answering would write over the running job's live response.
    if (activeResponse_ && activeResponse_->id == *id) {
        release();
        co_await log("automation_transport_failed error=" +
                     appErrorText(AppError::outputFinalizationFailed("Command ID is in use by a running job")));
        co_return;
    }
    std::exception_ptr failed;
    try {
        std::string bytes;
        try {
            bytes = files.read(claimed);
        } catch (const NotACommandFileError&) {
            throw AppError::outputFinalizationFailed("Command file must be a regular file of at most 1 MiB");
        }
        auto command = RecordingAutomationRequest::decodeCommand(bytes);
        if (command.id != *id) throw AppError::outputFinalizationFailed("Command ID must match filename");
        co_await execute(command);
    } catch (...) {
        failed = std::current_exception();
    }
    if (!failed) {
        release();
        co_return;
    }
    const std::string text = errorText(failed);
    std::string writeError;
    try {
        write(failure(*id, text));
    } catch (const std::exception& error) {
        writeError = error.what();
    }
    release();
    if (writeError.empty()) {
        co_await log("automation_command_failed id=" + id->text + " error=" + text);
    } else {
        co_await log("automation_transport_failed error=" + writeError);
    }
}

QCoro::Task<void> RecordingAutomation::execute(const RecordingAutomationRequest& command) {
    using Action = RecordingAutomationRequest::Action;
    const Action action = command.action.value_or(Action::record);
    RecordingAutomationResponse reply;
    reply.id = command.id;
    reply.phase = Phase::completed;
    switch (action) {
        case Action::discover:
        case Action::status:
            reply.discovery = co_await discover();
            write(reply);
            co_return;
        case Action::stop:
        case Action::cancel: {
            if (!activeResponse_ || !command.jobID || activeResponse_->id != *command.jobID || !jobToken_) {
                throw AppError::outputFinalizationFailed("No active recording with that job ID");
            }
            if (action == Action::stop) {
                const Phase current = activeResponse_->phase;
                if (current != Phase::configuring && current != Phase::recording) {
                    throw AppError::outputFinalizationFailed("Recording is already stopping or exporting");
                }
                stopRequested_ = true;
            } else {
                cancelRequested_ = true;
                jobToken_->cancel();
            }
            reply.jobID = activeResponse_->id;
            write(reply);
            co_return;
        }
        case Action::record: break;
    }
    command.validate();
    const auto state = environment_.sessionState();
    if (!state) throw AppError::systemPlaybackAudioUnavailable();
    if (activeResponse_ || (recordingTask_ && !recordingTask_->isDone())) throw AppError::recordingSessionAlreadyActive();
    if (!state->isIdle() && !state->failure()) throw AppError::recordingSessionAlreadyActive();
    RecordingAutomationResponse accepted;
    accepted.id = command.id;
    accepted.phase = Phase::accepted;
    write(accepted);
    activeResponse_ = accepted;
    stopRequested_ = false;
    cancelRequested_ = false;
    jobToken_ = platform::CancelToken();
    recordingTask_.emplace(runJob(command, *jobToken_));
}

QCoro::Task<void> RecordingAutomation::runJob(RecordingAutomationRequest command, platform::CancelToken token) {
    const AutomationID id = command.id;
    RecordingAutomationResponse final;
    try {
        if (!recordJob_) throw AppError::systemPlaybackAudioUnavailable();
        // Named first: g++ 12 destroys the temporaries of an awaited call twice.
        auto job = recordJob_(std::move(command), token);
        final = co_await std::move(job);
    } catch (...) {
        final = failure(id, errorText(std::current_exception()));
    }
    std::string writeError;
    try {
        write(final);
    } catch (...) {
        writeError = errorText(std::current_exception());
    }
    if (!writeError.empty()) co_await log("automation_response_failed id=" + id.text + " error=" + writeError);
    activeResponse_.reset();
    jobToken_.reset();
    stopRequested_ = false;
    cancelRequested_ = false;
}

QCoro::Task<RecordingAutomationDiscovery> RecordingAutomation::discover() {
    RecordingAutomationDiscovery report = co_await environment_.discover();
    const auto state = environment_.sessionState();
    report.protocolVersion = kProtocolVersion;
    report.screenAuthorization = "persistentPermission";
    report.sessionState = state ? state->automationStateWord() : "unavailable";
    report.activeJobID = activeResponse_ ? std::optional(activeResponse_->id) : std::nullopt;
    co_return report;
}

void RecordingAutomation::phase(Phase phase) {
    if (!activeResponse_) return;
    activeResponse_->phase = phase;
    write(*activeResponse_);
}

void RecordingAutomation::progress(double fraction, const AutomationID& id) {
    if (!activeResponse_ || activeResponse_->id != id || activeResponse_->phase != Phase::exporting) return;
    if (std::isnan(fraction)) return;
    if (activeResponse_->progress ? fraction < *activeResponse_->progress : fraction < 0) return;
    activeResponse_->progress = fraction;
    try {
        write(*activeResponse_);
    } catch (const std::exception&) {
        if (jobToken_) jobToken_->cancel();
    }
}

}  // namespace yux::automation
