#pragma once

#include <string>

#include <QCoroTask>

namespace yux {

// Where services leave their diagnostic lines. Appending never fails for the caller.
class DebugLogBoundary {
public:
    virtual ~DebugLogBoundary() = default;
    virtual QCoro::Task<void> append(std::string message) = 0;
};

}  // namespace yux
