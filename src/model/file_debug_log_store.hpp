#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/date.hpp"
#include "model/debug_log_boundary.hpp"
#include "model/local_file_system.hpp"

namespace yux {

// Messages stored by the log while a test holds this tracker.
class DebugLogMessages {
public:
    std::vector<std::string> messages() const {
        std::lock_guard guard(lock_);
        return entries_;
    }
    void add(const std::string& message) {
        std::lock_guard guard(lock_);
        entries_.push_back(message);
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> entries_;
};

// The JSON-lines debug log: one {"timestamp","message"} object per line, newest maxEntries kept.
class FileDebugLogStore : public DebugLogBoundary {
public:
    using Now = std::function<Date()>;

    FileDebugLogStore(std::string filePath, LocalFileSystem fileSystem, int maxEntries, Now now = &Date::now);
    static std::shared_ptr<FileDebugLogStore> create_null(std::string filePath, int maxEntries);

    QCoro::Task<void> append(std::string message) override;
    // Appends synchronously; what append() runs. Safe from any thread.
    void appendNow(const std::string& message);

    std::shared_ptr<DebugLogMessages> track_messages();

    const std::string& filePath() const { return filePath_; }
    const LocalFileSystem& fileSystem() const { return fileSystem_; }

    // One compact JSON object without its line feed; exposed for tests.
    std::string serialize(const std::string& message) const;

private:
    void trimIfNeeded(const std::string& path);

    std::string filePath_;
    LocalFileSystem fileSystem_;
    int maxEntries_;
    Now now_;
    std::mutex mutex_;
    std::weak_ptr<DebugLogMessages> messages_;
};

}  // namespace yux
