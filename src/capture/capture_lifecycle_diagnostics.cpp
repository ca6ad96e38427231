#include "capture/capture_lifecycle_diagnostics.hpp"

#include <time.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include <nlohmann/json.hpp>

namespace yux {

std::string sessionText(const QUuid& sessionID) {
    return sessionID.toString(QUuid::WithoutBraces).toUpper().toStdString();
}

CaptureLifecycleDiagnostics::Environment CaptureLifecycleDiagnostics::Environment::live() {
    return {[](const std::string& name) -> std::optional<std::string> {
                const char* value = std::getenv(name.c_str());
                if (value == nullptr) return std::nullopt;
                return std::string(value);
            },
            [] {
                timespec now{};
                clock_gettime(CLOCK_MONOTONIC, &now);
                return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
            },
            &Date::now};
}

CaptureLifecycleDiagnostics::CaptureLifecycleDiagnostics(DebugLogBoundary& debugLog, Environment environment)
    : debugLog_(debugLog), environment_(std::move(environment)) {
    if (auto directory = environment_.variable(kArtifactDirectoryVariable)) {
        destination_ = std::filesystem::path(*directory) / kFileName;
    }
    buildSHA_ = environment_.variable(kBuildVariable);
    testName_ = environment_.variable(kTestNameVariable);
    baseUptimeSeconds_ = environment_.uptimeSeconds();
}

std::string CaptureLifecycleDiagnostics::debugLine(const std::string& event, const QUuid& sessionID,
                                                   const std::map<std::string, std::string>& attributes) {
    std::string line = "capture " + event + " session_id=" + sessionText(sessionID);
    for (const auto& [key, value] : attributes) {
        line += " " + key + "=" + value;
    }
    return line;
}

std::string CaptureLifecycleDiagnostics::jsonLine(const std::string& event, const QUuid& sessionID,
                                                  const std::map<std::string, std::string>& attributes) const {
    nlohmann::json object = nlohmann::json::object();
    object["timestamp"] = environment_.now().iso8601(true);
    object["event"] = event;
    object["session_id"] = sessionText(sessionID);
    double elapsed = (environment_.uptimeSeconds() - baseUptimeSeconds_) * 1000.0;
    object["elapsed_ms"] = std::to_string(static_cast<long long>(std::trunc(elapsed)));
    if (buildSHA_) object["build_sha"] = *buildSHA_;
    if (testName_) object["test_name"] = *testName_;
    for (const auto& [key, value] : attributes) object[key] = value;  // attributes win
    // Invalid UTF-8 is replaced rather than failing the line.
    std::string compact = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    // Every forward slash is written escaped, as readers of these files expect.
    std::string escaped;
    escaped.reserve(compact.size() + 16);
    for (char ch : compact) {
        if (ch == '/') escaped += '\\';
        escaped += ch;
    }
    return escaped;
}

void CaptureLifecycleDiagnostics::appendToFile(const std::string& line) const {
    std::error_code error;
    std::filesystem::create_directories(destination_->parent_path(), error);
    if (error) return;
    if (std::filesystem::exists(*destination_, error)) {
        std::ofstream file(*destination_, std::ios::binary | std::ios::app);
        file << line;
        return;
    }
    // A new file appears whole: written aside, then moved into place.
    auto temporary = destination_->parent_path() / ("." + destination_->filename().string() + ".tmp");
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << line;
        if (!file) return;
    }
    std::filesystem::rename(temporary, *destination_, error);
    if (error) std::filesystem::remove(temporary, error);
}

QCoro::Task<void> CaptureLifecycleDiagnostics::log(std::string event, QUuid sessionID,
                                                   std::map<std::string, std::string> attributes) {
    co_await debugLog_.append(debugLine(event, sessionID, attributes));
    if (!destination_) co_return;
    try {
        appendToFile(jsonLine(event, sessionID, attributes) + "\n");
    } catch (...) {
        // Diagnostics never fail a capture.
    }
}

}  // namespace yux
