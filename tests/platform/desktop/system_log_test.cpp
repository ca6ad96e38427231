#include "platform/desktop/system_log.hpp"

#include <gtest/gtest.h>

using namespace yux::platform;

TEST(SystemLog, NullLogRecordsLinesWithTheirCategoryAndLevel) {
    auto log = SystemLog::create_null();
    auto lines = log.track_lines();
    log.info("CaptureInputs", "input_started kind=camera");
    log.error("Capture", "capture_failed reason=x");
    EXPECT_EQ(lines.data(), (std::vector<SystemLogLine>{{"CaptureInputs", LogLevel::info, "input_started kind=camera"},
                                                         {"Capture", LogLevel::error, "capture_failed reason=x"}}));
}

TEST(SystemLog, LiveLogAcceptsLines) {
    auto log = SystemLog::create();
    auto lines = log.track_lines();
    log.info("Test", "yux_system_log_test");
    EXPECT_EQ(lines.data().size(), 1u);
}
