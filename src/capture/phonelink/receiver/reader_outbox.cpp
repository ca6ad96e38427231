#include "capture/phonelink/receiver/reader_outbox.hpp"

#include <chrono>

namespace yux {

namespace {
// How often a reader waiting for the slot looks whether it should stop.
constexpr auto kWaitCheck = std::chrono::milliseconds(20);
}  // namespace

std::shared_ptr<ReaderOutbox> ReaderOutbox::create(Post post, TakeMessage takeMessage, TakePicture takePicture) {
    return std::make_shared<ReaderOutbox>(std::move(post), std::move(takeMessage), std::move(takePicture));
}

ReaderOutbox::ReaderOutbox(Post post, TakeMessage takeMessage, TakePicture takePicture)
    : post_(std::move(post)), takeMessage_(std::move(takeMessage)), takePicture_(std::move(takePicture)) {}

bool ReaderOutbox::sendMessage(CameraWire::Message message, const std::function<bool()>& keepWaiting) {
    std::unique_lock lock(mutex_);
    const auto replaceable = [&] {
        return message_->kind == message.kind && message.kind != CameraWire::Kind::failure;
    };
    while (message_ && !replaceable()) {
        if (!keepWaiting()) return false;
        messageTaken_.wait_for(lock, kWaitCheck);
    }
    const bool hopWaiting = message_.has_value();
    message_ = std::move(message);
    lock.unlock();
    if (!hopWaiting) post_([self = shared_from_this()] { self->deliverMessage(); });
    return true;
}

void ReaderOutbox::sendPicture(platform::PixelBuffer picture, double stamp) {
    std::unique_lock lock(mutex_);
    const bool hopWaiting = picture_.has_value();
    picture_.emplace(std::move(picture), stamp);
    lock.unlock();
    if (!hopWaiting) post_([self = shared_from_this()] { self->deliverPicture(); });
}

void ReaderOutbox::deliverMessage() {
    std::unique_lock lock(mutex_);
    if (!message_) return;
    CameraWire::Message message = std::move(*message_);
    message_.reset();
    lock.unlock();
    messageTaken_.notify_all();
    takeMessage_(std::move(message));
}

void ReaderOutbox::deliverPicture() {
    std::unique_lock lock(mutex_);
    if (!picture_) return;
    auto [picture, stamp] = std::move(*picture_);
    picture_.reset();
    lock.unlock();
    takePicture_(std::move(picture), stamp);
}

bool MessageFloodLimit::admit(double now) {
    while (!arrivals_.empty() && arrivals_.front() <= now - kWindowSeconds) arrivals_.pop_front();
    if (arrivals_.size() >= kMaxMessages) return false;
    arrivals_.push_back(now);
    return true;
}

}  // namespace yux
