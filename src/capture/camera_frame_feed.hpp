#pragma once

#include <functional>
#include <optional>

#include "platform/async/serial_queue.hpp"
#include "platform/camera/newest_sample_relay.hpp"
#include "platform/media/sample_buffer.hpp"

namespace yux {

// The queue camera frames arrive on ("Yux.camera-frames") and the one receiver they go to.
// The receiver is read and written only on that queue.
class CameraFrameFeed {
public:
    using Receiver = std::function<void(platform::SampleBuffer)>;

    CameraFrameFeed();
    CameraFrameFeed(const CameraFrameFeed&) = delete;
    CameraFrameFeed& operator=(const CameraFrameFeed&) = delete;

    platform::SerialQueue& queue() { return queue_; }
    // Replaces the receiver, on the queue; once it returns the old one gets nothing more.
    void set(Receiver receiver);
    // On the queue: the current receiver, if any, gets the frame.
    void deliverOnQueue(platform::SampleBuffer sample);
    // From any thread: schedules the frame for the receiver, keeping only the newest waiting.
    void push(platform::SampleBuffer sample) { relay_.push(std::move(sample)); }

private:
    std::optional<Receiver> receiver_;
    platform::NewestSampleRelay relay_;
    // Last, so it is destroyed first: frames still queued run while the fields exist.
    platform::SerialQueue queue_{"Yux.camera-frames"};
};

}  // namespace yux
