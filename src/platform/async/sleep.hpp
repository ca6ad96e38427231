#pragma once

#include <chrono>

#include <QCoroTask>

#include "platform/async/cancel_token.hpp"

namespace yux::platform {

// Suspends the calling main-thread coroutine for `duration`. Cancelling `token` ends the wait
// at once with CancelledError; a token that is already cancelled throws before waiting.
QCoro::Task<void> sleepFor(std::chrono::milliseconds duration, CancelToken token = CancelToken());

}  // namespace yux::platform
