#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/async/output_tracker.hpp"

namespace yux::platform {

enum class LogLevel { debug, info, error };

struct SystemLogLine {
    std::string category;
    LogLevel level;
    std::string message;
    bool operator==(const SystemLogLine&) const = default;
};

// The system log (syslog, ident "com.zt.yux"). Lines carry a category, as "[Category] message".
class SystemLog {
public:
    struct Operations {
        std::function<void(LogLevel, const std::string& line)> write;
    };

    static SystemLog create();
    static SystemLog create_null();

    void log(const std::string& category, LogLevel level, const std::string& message) const;
    void info(const std::string& category, const std::string& message) const {
        log(category, LogLevel::info, message);
    }
    void error(const std::string& category, const std::string& message) const {
        log(category, LogLevel::error, message);
    }

    OutputTracker<SystemLogLine> track_lines() const { return shared_->listener.track(); }

private:
    struct Shared {
        Operations operations;
        OutputListener<SystemLogLine> listener;
    };
    explicit SystemLog(Operations operations);
    std::shared_ptr<Shared> shared_;
};

}  // namespace yux::platform
