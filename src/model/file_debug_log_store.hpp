#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "model/date.hpp"
#include "model/debug_log_boundary.hpp"
#include "model/local_file_system.hpp"
#include "platform/async/serial_queue.hpp"

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
// The file work runs in order on the log's own queue, off the caller's thread. An append that
// takes the file past maxEntries lines cuts it back to exactly maxEntries; the line count is
// kept between appends, so the file is read back only when it has to be cut. At the cap every
// append rewrites the file: the lines waiting on the queue by then share one rewrite, and the
// rewrites do not wait for the disk (a diagnostic log needs to stay whole against a killed
// process, not to outlive a power cut).
class FileDebugLogStore : public DebugLogBoundary {
public:
    using Now = std::function<Date()>;

    FileDebugLogStore(std::string filePath, LocalFileSystem fileSystem, int maxEntries, Now now = &Date::now);
    static std::shared_ptr<FileDebugLogStore> create_null(std::string filePath, int maxEntries);

    QCoro::Task<void> append(std::string message) override;
    // Appends and waits for the file work. Safe from any thread but the log's own.
    void appendNow(const std::string& message);

    // The newest maxEntries lines of the file, oldest first; empty when it cannot be read.
    std::vector<std::string> entries();

    std::shared_ptr<DebugLogMessages> track_messages();

    const std::string& filePath() const { return filePath_; }
    const LocalFileSystem& fileSystem() const { return fileSystem_; }

    // One compact JSON object without its line feed; exposed for tests.
    std::string serialize(const std::string& message) const;

private:
    struct WaitingLine {
        std::string line;  // with its line feed
        std::string message;
    };

    void enqueue(std::string line, std::string message);
    // These run on queue_ only.
    void storeWaiting();
    void store(const std::vector<WaitingLine>& batch);
    void countLines(const std::string& path);
    void trimIfNeeded(const std::string& path);

    std::string filePath_;
    LocalFileSystem fileSystem_;
    int maxEntries_;
    Now now_;
    std::mutex mutex_;  // guards messages_ and waiting_
    std::weak_ptr<DebugLogMessages> messages_;
    // Stamped lines in call order, not yet taken by the queue.
    std::vector<WaitingLine> waiting_;
    // Lines in the file, once read; absent until then or after a failed write.
    std::optional<std::size_t> lineCount_;
    // The line that says where a damaged log went, until it is written at the head of the new one.
    std::optional<std::string> setAsideNotice_;
    // Last: destroyed first, so queued file work finishes while the rest still exists.
    std::unique_ptr<platform::SerialQueue> queue_;
};

}  // namespace yux
