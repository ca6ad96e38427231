#pragma once

#include <stdexcept>

namespace yux::platform {

// Thrown by work that stopped because its CancelToken was cancelled.
class CancelledError : public std::runtime_error {
public:
    CancelledError() : std::runtime_error("The operation was cancelled.") {}
};

}  // namespace yux::platform
