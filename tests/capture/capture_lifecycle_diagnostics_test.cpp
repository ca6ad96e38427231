#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "capture/capture_lifecycle_diagnostics.hpp"
#include "platform/async/wait_for.hpp"
#include "support/temporary_directory.hpp"

using namespace yux;

namespace {

class RecordingLog : public DebugLogBoundary {
public:
    QCoro::Task<void> append(std::string message) override {
        lines.push_back(std::move(message));
        co_return;
    }
    std::vector<std::string> lines;
};

struct FakeProcess {
    std::map<std::string, std::string> variables;
    double uptime = 100.0;

    CaptureLifecycleDiagnostics::Environment environment() {
        return {[this](const std::string& name) -> std::optional<std::string> {
                    auto found = variables.find(name);
                    if (found == variables.end()) return std::nullopt;
                    return found->second;
                },
                [this] { return uptime; },
                [] { return Date::fromUnixSeconds(1772356542.137); }};
    }
};

const QUuid kSession("{6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8}");

void log(CaptureLifecycleDiagnostics& diagnostics, std::string event, std::map<std::string, std::string> attributes = {}) {
    auto task = diagnostics.log(std::move(event), kSession, std::move(attributes));
    platform::waitForTask(task);
}

}  // namespace

TEST(CaptureLifecycleDiagnostics, DebugLineSortsAttributesAndEndsAtTheUuidWithoutThem) {
    RecordingLog debugLog;
    FakeProcess process;
    CaptureLifecycleDiagnostics diagnostics(debugLog, process.environment());
    log(diagnostics, "stream_start_invoked");
    log(diagnostics, "session_inputs", {{"microphone", "native"}, {"camera_enabled", "false"}});
    EXPECT_EQ(debugLog.lines, (std::vector<std::string>{
                                  "capture stream_start_invoked session_id=6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8",
                                  "capture session_inputs session_id=6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8 "
                                  "camera_enabled=false microphone=native"}));
}

TEST(CaptureLifecycleDiagnostics, WithoutArtifactDirectoryNoFileIsMade) {
    RecordingLog debugLog;
    FakeProcess process;
    process.variables["GITHUB_SHA"] = "abc";
    CaptureLifecycleDiagnostics diagnostics(debugLog, process.environment());
    EXPECT_FALSE(diagnostics.destination());
    EXPECT_EQ(diagnostics.buildSHA(), "abc");
    log(diagnostics, "start_ready");
    EXPECT_EQ(debugLog.lines.size(), 1u);
}

TEST(CaptureLifecycleDiagnostics, JsonLinesCreateTheFolderThenAppendWithStringValues) {
    yux::testing::TemporaryDirectory temporary;
    auto folder = temporary.path() / "artifacts" / "run 1";
    RecordingLog debugLog;
    FakeProcess process;
    process.variables = {{"SCREEN_AUDIO_CAPTURE_ARTIFACT_DIR", folder.string()},
                         {"SCREEN_AUDIO_CAPTURE_TEST_NAME", "area/recording"},
                         {"GITHUB_SHA", "0123abc"}};
    process.uptime = 10.0;
    CaptureLifecycleDiagnostics diagnostics(debugLog, process.environment());
    // Created lazily: building the object writes nothing.
    EXPECT_FALSE(std::filesystem::exists(folder));

    process.uptime = 11.5329;
    log(diagnostics, "start_request", {{"target_file", "/tmp/Yux/a.mov"}, {"event", "overridden"}});
    process.uptime = 12.0;
    log(diagnostics, "stop_completed", {{"recording_seconds", "0.468"}});

    auto content = yux::testing::readWholeFile(folder / "capture-lifecycle.jsonl");
    auto split = content.find('\n');
    ASSERT_NE(split, std::string::npos);
    std::string first = content.substr(0, split);
    std::string second = content.substr(split + 1);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(second.back(), '\n');
    second.pop_back();

    // Compact, slashes escaped.
    EXPECT_EQ(first.find(' '), std::string::npos);
    EXPECT_NE(first.find(R"("target_file":"\/tmp\/Yux\/a.mov")"), std::string::npos);
    EXPECT_NE(first.find(R"("test_name":"area\/recording")"), std::string::npos);

    auto object = nlohmann::json::parse(first);
    EXPECT_EQ(object["event"], "overridden");  // attributes are set last
    EXPECT_EQ(object["session_id"], "6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8");
    EXPECT_EQ(object["elapsed_ms"], "1532");
    EXPECT_EQ(object["timestamp"], "2026-03-01T09:15:42.137Z");
    EXPECT_EQ(object["build_sha"], "0123abc");
    EXPECT_EQ(object["target_file"], "/tmp/Yux/a.mov");
    for (const auto& [key, value] : object.items()) EXPECT_TRUE(value.is_string()) << key;

    auto last = nlohmann::json::parse(second);
    EXPECT_EQ(last["event"], "stop_completed");
    EXPECT_EQ(last["elapsed_ms"], "2000");
    EXPECT_EQ(last["recording_seconds"], "0.468");
    EXPECT_EQ(debugLog.lines.size(), 2u);
}

TEST(CaptureLifecycleDiagnostics, UnwritableFolderLosesOnlyTheJsonLine) {
    yux::testing::TemporaryDirectory temporary;
    yux::testing::writeWholeFile(temporary.path() / "blocker", "a file where a folder should be");
    RecordingLog debugLog;
    FakeProcess process;
    process.variables["SCREEN_AUDIO_CAPTURE_ARTIFACT_DIR"] = (temporary.path() / "blocker" / "inside").string();
    CaptureLifecycleDiagnostics diagnostics(debugLog, process.environment());
    log(diagnostics, "stop_failed", {{"error", "boom"}});
    EXPECT_EQ(debugLog.lines.size(), 1u);
}
