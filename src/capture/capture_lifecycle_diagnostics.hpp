#pragma once

#include <QUuid>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <QCoroTask>

#include "model/date.hpp"
#include "model/debug_log_boundary.hpp"

namespace yux {

// The capture lifecycle log: every event is one debug-log line, and, when the environment
// names an artifact directory, one JSON line in "capture-lifecycle.jsonl" there too.
class CaptureLifecycleDiagnostics {
public:
    // What the log reads of the process; tests replace it.
    struct Environment {
        std::function<std::optional<std::string>(const std::string& name)> variable;
        std::function<double()> uptimeSeconds;
        std::function<Date()> now;
        static Environment live();
    };

    explicit CaptureLifecycleDiagnostics(DebugLogBoundary& debugLog, Environment environment = Environment::live());

    // Never fails: a line that cannot be written is lost, the capture goes on.
    QCoro::Task<void> log(std::string event, QUuid sessionID, std::map<std::string, std::string> attributes = {});

    // "capture <event> session_id=<UUID>" and the attributes sorted by key.
    static std::string debugLine(const std::string& event, const QUuid& sessionID,
                                 const std::map<std::string, std::string>& attributes);
    // The compact JSON object with every forward slash escaped, without its line feed.
    std::string jsonLine(const std::string& event, const QUuid& sessionID,
                         const std::map<std::string, std::string>& attributes) const;

    const std::optional<std::filesystem::path>& destination() const { return destination_; }
    const std::optional<std::string>& buildSHA() const { return buildSHA_; }
    const std::optional<std::string>& testName() const { return testName_; }

    static constexpr const char* kArtifactDirectoryVariable = "SCREEN_AUDIO_CAPTURE_ARTIFACT_DIR";
    static constexpr const char* kTestNameVariable = "SCREEN_AUDIO_CAPTURE_TEST_NAME";
    static constexpr const char* kBuildVariable = "GITHUB_SHA";
    static constexpr const char* kFileName = "capture-lifecycle.jsonl";

private:
    void appendToFile(const std::string& line) const;

    std::optional<std::filesystem::path> destination_;
    DebugLogBoundary& debugLog_;
    std::optional<std::string> buildSHA_;
    std::optional<std::string> testName_;
    double baseUptimeSeconds_;
    Environment environment_;
};

// A session identifier as the logs write it: canonical, upper case, no braces.
std::string sessionText(const QUuid& sessionID);

}  // namespace yux
