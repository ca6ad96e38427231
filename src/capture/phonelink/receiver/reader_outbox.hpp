#pragma once

// What a phone connection's threads hand to the main thread, bounded: a phone that repeats
// messages at link speed, or a main thread that stalls, must not pile up work without end.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "capture/phonelink/camera_wire.hpp"
#include "platform/media/pixel_buffer.hpp"

namespace yux {

// One slot for link messages (hello, status, failure) and one for decoded pictures; each slot
// has at most one hop waiting on the main thread.
class ReaderOutbox : public std::enable_shared_from_this<ReaderOutbox> {
public:
    // Queues work for the main thread; the work may be dropped (the application is gone).
    using Post = std::function<void(std::function<void()>)>;
    // Run on the main thread with what the slot held.
    using TakeMessage = std::function<void(CameraWire::Message)>;
    using TakePicture = std::function<void(platform::PixelBuffer picture, double stamp)>;

    static std::shared_ptr<ReaderOutbox> create(Post post, TakeMessage takeMessage, TakePicture takePicture);

    // Reader thread. A newer hello or status replaces a waiting one of its kind; otherwise, and
    // always for a failure (never replaced), the message waits here until the slot is free.
    // False when `keepWaiting` turned false first: the message was not handed over.
    bool sendMessage(CameraWire::Message message, const std::function<bool()>& keepWaiting);
    // Decoding thread. A picture not yet taken is replaced by the newer one.
    void sendPicture(platform::PixelBuffer picture, double stamp);

    ReaderOutbox(Post post, TakeMessage takeMessage, TakePicture takePicture);

private:
    void deliverMessage();
    void deliverPicture();

    Post post_;
    TakeMessage takeMessage_;
    TakePicture takePicture_;
    std::mutex mutex_;
    std::condition_variable messageTaken_;
    std::optional<CameraWire::Message> message_;
    std::optional<std::pair<platform::PixelBuffer, double>> picture_;
};

// More than kMaxMessages link messages within kWindowSeconds is a flood, not a phone at work.
class MessageFloodLimit {
public:
    static constexpr std::size_t kMaxMessages = 200;
    static constexpr double kWindowSeconds = 1.0;

    // Counts a message arriving at `now` (host seconds); false once it is one too many.
    bool admit(double now);

private:
    std::deque<double> arrivals_;
};

}  // namespace yux
