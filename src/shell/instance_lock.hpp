#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace yux {

// Keeps one Yux per user: an exclusive flock on a file in the runtime folder, held while the
// process lives and released by the kernel when it ends, however it ends.
class InstanceLock {
public:
    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&&) = delete;
    ~InstanceLock();

    // Absent when another process holds the lock; `failure` then tells why in a sentence.
    static std::optional<InstanceLock> acquire(const std::filesystem::path& lockFile, std::string& failure);

    // "Yux is already running (lock: <path>)."
    static std::string alreadyRunningMessage(const std::filesystem::path& lockFile);

private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace yux
