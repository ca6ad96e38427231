#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace yux::platform {

// One worker thread that runs submitted work in order. Pending work still runs when the
// queue is destroyed, so nothing handed to a queue is silently dropped. An exception that
// escapes asynchronous work is caught and reported, and the queue goes on with the next item.
class SerialQueue {
public:
    // Told the queue's label and the escaped exception's text; by default a line on stderr.
    using FailureReporter = std::function<void(const std::string& label, const std::string& what)>;

    explicit SerialQueue(std::string label, FailureReporter reportFailure = {});
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    void async(std::function<void()> work);
    void asyncAfter(std::chrono::nanoseconds delay, std::function<void()> work);

    // Runs the work on the queue and waits for it; exceptions reach the caller. Calling it from
    // the queue's own thread would deadlock, so it throws std::logic_error instead.
    template <class F>
    auto sync(F&& work) -> std::invoke_result_t<F> {
        using R = std::invoke_result_t<F>;
        if (isCurrent()) {
            throw std::logic_error("SerialQueue::sync called on its own queue " + label_);
        }
        std::packaged_task<R()> task(std::forward<F>(work));
        auto future = task.get_future();
        async([&task] { task(); });
        return future.get();
    }

    // True when called from this queue's thread.
    bool isCurrent() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Item {
        Clock::time_point due;
        std::uint64_t sequence;
        std::function<void()> work;
        bool operator>(const Item& other) const {
            return due != other.due ? due > other.due : sequence > other.sequence;
        }
    };

    void run();

    std::string label_;
    FailureReporter reportFailure_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::priority_queue<Item, std::vector<Item>, std::greater<>> items_;
    std::uint64_t nextSequence_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace yux::platform
