#pragma once

#include <mutex>
#include <utility>

namespace yux::platform {

// State shared with a worker thread, reachable only while its lock is held.
template <class T>
class Locked {
public:
    Locked() = default;
    explicit Locked(T value) : value_(std::move(value)) {}

    template <class F>
    decltype(auto) with(F&& access) {
        std::lock_guard lock(mutex_);
        return std::forward<F>(access)(value_);
    }
    template <class F>
    decltype(auto) with(F&& access) const {
        std::lock_guard lock(mutex_);
        return std::forward<F>(access)(value_);
    }
    T copy() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};

}  // namespace yux::platform
