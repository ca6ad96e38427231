#pragma once

#include <memory>
#include <mutex>
#include <vector>

namespace yux::platform {

// Collects what a wrapper did to the outside world while a test holds the tracker.
// Thread-safe: wrappers may record from their worker threads.
template <class T>
class OutputTracker {
public:
    std::vector<T> data() const {
        std::lock_guard lock(state_->mutex);
        return state_->items;
    }
    void clear() {
        std::lock_guard lock(state_->mutex);
        state_->items.clear();
    }

private:
    template <class>
    friend class OutputListener;
    struct State {
        mutable std::mutex mutex;
        std::vector<T> items;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Held by a wrapper; hands out trackers and feeds every live one.
template <class T>
class OutputListener {
public:
    OutputTracker<T> track() {
        OutputTracker<T> tracker;
        std::lock_guard lock(mutex_);
        trackers_.push_back(tracker.state_);
        return tracker;
    }

    void record(const T& item) {
        std::lock_guard lock(mutex_);
        std::erase_if(trackers_, [](const auto& weak) { return weak.expired(); });
        for (auto& weak : trackers_) {
            if (auto state = weak.lock()) {
                std::lock_guard itemLock(state->mutex);
                state->items.push_back(item);
            }
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::weak_ptr<typename OutputTracker<T>::State>> trackers_;
};

}  // namespace yux::platform
