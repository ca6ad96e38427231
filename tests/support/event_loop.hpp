#pragma once

#include <functional>

namespace yux::testing {

// Runs the Qt event loop for a while, or until the condition holds; answers the condition.
void processEventsFor(int milliseconds);
bool processEventsUntil(const std::function<bool()>& condition, int timeoutMilliseconds = 5000);

}  // namespace yux::testing
