#include "platform/desktop/system_log.hpp"

#include <syslog.h>

#include <mutex>

namespace yux::platform {

namespace {
constexpr const char* kIdent = "com.zt.yux";

int priorityOf(LogLevel level) {
    switch (level) {
        case LogLevel::debug: return LOG_DEBUG;
        case LogLevel::info: return LOG_INFO;
        case LogLevel::error: return LOG_ERR;
    }
    return LOG_INFO;
}
}  // namespace

SystemLog::SystemLog(Operations operations) : shared_(std::make_shared<Shared>()) {
    shared_->operations = std::move(operations);
}

SystemLog SystemLog::create() {
    static std::once_flag opened;
    std::call_once(opened, [] { openlog(kIdent, LOG_PID, LOG_USER); });
    return SystemLog(Operations{[](LogLevel level, const std::string& line) {
        syslog(priorityOf(level), "%s", line.c_str());
    }});
}

SystemLog SystemLog::create_null() {
    return SystemLog(Operations{[](LogLevel, const std::string&) {}});
}

void SystemLog::log(const std::string& category, LogLevel level, const std::string& message) const {
    shared_->operations.write(level, "[" + category + "] " + message);
    shared_->listener.record(SystemLogLine{category, level, message});
}

}  // namespace yux::platform
