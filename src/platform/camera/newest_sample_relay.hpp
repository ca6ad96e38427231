#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "platform/async/locked.hpp"
#include "platform/async/serial_queue.hpp"
#include "platform/media/sample_buffer.hpp"

namespace yux::platform {

// Hands pictures to a serial queue keeping at most one waiting there: a picture pushed while
// the last one still waits replaces it. A consumer that falls behind then sees the newest
// picture next, and memory stays bounded however slow it is.
class NewestSampleRelay {
public:
    NewestSampleRelay(SerialQueue& queue, std::function<void(SampleBuffer)> receive)
        : queue_(&queue), state_(std::make_shared<State>()) {
        state_->receive = std::move(receive);
    }

    // Callable from any thread.
    void push(SampleBuffer sample) const {
        bool schedule = state_->pending.with([&](std::optional<SampleBuffer>& pending) {
            bool idle = !pending.has_value();
            pending = std::move(sample);
            return idle;
        });
        if (!schedule) return;
        queue_->async([state = state_] {
            auto next = state->pending.with([](std::optional<SampleBuffer>& pending) {
                auto taken = std::move(pending);
                pending.reset();
                return taken;
            });
            if (next) state->receive(std::move(*next));
        });
    }

private:
    struct State {
        Locked<std::optional<SampleBuffer>> pending;
        std::function<void(SampleBuffer)> receive;
    };
    SerialQueue* queue_;
    std::shared_ptr<State> state_;
};

}  // namespace yux::platform
