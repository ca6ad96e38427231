#pragma once

#include <functional>

namespace yux::testing {

// A limit for waits on other threads and queues that only a hang reaches: a sanitizer build
// beside a busy machine can take seconds for what an idle one does at once.
constexpr int kHangMilliseconds = 60'000;

// Runs the Qt event loop for a while, or until the condition holds; answers the condition.
void processEventsFor(int milliseconds);
bool processEventsUntil(const std::function<bool()>& condition, int timeoutMilliseconds = 5000);

}  // namespace yux::testing
