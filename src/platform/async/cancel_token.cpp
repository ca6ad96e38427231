#include "platform/async/cancel_token.hpp"

namespace yux::platform {

CancelToken::CancelToken() : state_(std::make_shared<State>()) {}

void CancelToken::cancel() {
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled) {
        return;
    }
    state_->cancelled = true;
    // Run under the lock so a registration being destroyed elsewhere waits for its callback.
    auto callbacks = std::move(state_->callbacks);
    state_->callbacks.clear();
    for (auto& [id, callback] : callbacks) {
        callback();
    }
}

bool CancelToken::isCancelled() const {
    std::lock_guard lock(state_->mutex);
    return state_->cancelled;
}

void CancelToken::throwIfCancelled() const {
    if (isCancelled()) {
        throw CancelledError();
    }
}

CancelRegistration CancelToken::onCancel(std::function<void()> callback) const {
    std::unique_lock lock(state_->mutex);
    if (state_->cancelled) {
        lock.unlock();
        callback();
        return {};
    }
    auto id = state_->nextId++;
    state_->callbacks.emplace(id, std::move(callback));
    return CancelRegistration(state_, id);
}

CancelRegistration::CancelRegistration(CancelRegistration&& other) noexcept
    : state_(std::move(other.state_)), id_(other.id_) {
    other.id_ = 0;
}

CancelRegistration& CancelRegistration::operator=(CancelRegistration&& other) noexcept {
    if (this != &other) {
        reset();
        state_ = std::move(other.state_);
        id_ = other.id_;
        other.id_ = 0;
    }
    return *this;
}

CancelRegistration::~CancelRegistration() { reset(); }

void CancelRegistration::reset() {
    if (state_) {
        std::lock_guard lock(state_->mutex);
        state_->callbacks.erase(id_);
    }
    state_.reset();
    id_ = 0;
}

}  // namespace yux::platform
