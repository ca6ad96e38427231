#include "platform/async/serial_queue.hpp"

#include <pthread.h>

#include <cstdio>
#include <exception>

namespace yux::platform {

namespace {
void reportOnStandardError(const std::string& label, const std::string& what) {
    std::fprintf(stderr, "Yux: work on the queue %s failed: %s\n", label.c_str(), what.c_str());
}
}  // namespace

SerialQueue::SerialQueue(std::string label, FailureReporter reportFailure)
    : label_(std::move(label)), reportFailure_(reportFailure ? std::move(reportFailure) : reportOnStandardError) {
    thread_ = std::thread([this] { run(); });
    // Thread names are limited to 15 characters; the label's start is enough to find it.
    pthread_setname_np(thread_.native_handle(), label_.substr(0, 15).c_str());
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void SerialQueue::async(std::function<void()> work) {
    asyncAfter(std::chrono::nanoseconds::zero(), std::move(work));
}

void SerialQueue::asyncAfter(std::chrono::nanoseconds delay, std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        items_.push(Item{Clock::now() + delay, nextSequence_++, std::move(work)});
    }
    wake_.notify_all();
}

bool SerialQueue::isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

void SerialQueue::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        if (items_.empty()) {
            if (stopping_) {
                return;
            }
            wake_.wait(lock);
            continue;
        }
        // On shutdown delayed work runs at once: its caller is gone, but its effects are owed.
        if (!stopping_ && items_.top().due > Clock::now()) {
            // A copy: the wait reads the time again on waking, and work queued meanwhile may have
            // moved the items.
            const auto due = items_.top().due;
            wake_.wait_until(lock, due);
            continue;
        }
        auto work = std::move(const_cast<Item&>(items_.top()).work);
        items_.pop();
        lock.unlock();
        // An exception leaving the thread would end the whole process.
        try {
            work();
        } catch (const std::exception& error) {
            reportFailure_(label_, error.what());
        } catch (...) {
            reportFailure_(label_, "an exception of unknown type");
        }
        lock.lock();
    }
}

}  // namespace yux::platform
