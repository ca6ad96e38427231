#include "capture/camera_frame_feed.hpp"

namespace yux {

CameraFrameFeed::CameraFrameFeed()
    : relay_(queue_, [this](platform::SampleBuffer sample) { deliverOnQueue(std::move(sample)); }) {}

void CameraFrameFeed::set(Receiver receiver) {
    auto apply = [&] {
        if (receiver) {
            receiver_ = std::move(receiver);
        } else {
            receiver_.reset();
        }
    };
    if (queue_.isCurrent()) {
        apply();
    } else {
        queue_.sync(apply);
    }
}

void CameraFrameFeed::deliverOnQueue(platform::SampleBuffer sample) {
    if (receiver_) (*receiver_)(std::move(sample));
}

}  // namespace yux
