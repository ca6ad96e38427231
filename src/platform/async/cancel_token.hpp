#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/async/errors.hpp"

namespace yux::platform {

class CancelRegistration;

// A cancellation flag shared by all copies of one token. Callbacks registered with onCancel run
// once, on the thread that cancels (or at once when the token is already cancelled).
class CancelToken {
public:
    CancelToken();

    void cancel();
    bool isCancelled() const;
    void throwIfCancelled() const;

    // The callback stays registered while the returned registration lives. Its destructor waits
    // for a callback that is running, so the callback never outlives its registration.
    [[nodiscard]] CancelRegistration onCancel(std::function<void()> callback) const;

private:
    friend class CancelRegistration;
    struct State {
        std::recursive_mutex mutex;
        bool cancelled = false;
        std::uint64_t nextId = 1;
        std::map<std::uint64_t, std::function<void()>> callbacks;
    };
    std::shared_ptr<State> state_;
};

class CancelRegistration {
public:
    CancelRegistration() = default;
    CancelRegistration(CancelRegistration&& other) noexcept;
    CancelRegistration& operator=(CancelRegistration&& other) noexcept;
    ~CancelRegistration();
    void reset();

private:
    friend class CancelToken;
    CancelRegistration(std::shared_ptr<CancelToken::State> state, std::uint64_t id)
        : state_(std::move(state)), id_(id) {}
    std::shared_ptr<CancelToken::State> state_;
    std::uint64_t id_ = 0;
};

}  // namespace yux::platform
