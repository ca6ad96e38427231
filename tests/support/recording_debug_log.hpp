#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "model/debug_log_boundary.hpp"

namespace yux::testing {

// A debug log that keeps its lines in memory.
class RecordingDebugLog : public DebugLogBoundary {
public:
    QCoro::Task<void> append(std::string message) override {
        std::lock_guard guard(mutex_);
        lines_.push_back(std::move(message));
        co_return;
    }
    std::vector<std::string> lines() const {
        std::lock_guard guard(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace yux::testing
