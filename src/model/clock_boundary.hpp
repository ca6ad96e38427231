#pragma once

#include "model/date.hpp"

namespace yux {

// How services that stamp files or recordings read the time, so tests can fix it.
class ClockBoundary {
public:
    virtual ~ClockBoundary() = default;
    virtual Date now() const = 0;
};

class SystemClock final : public ClockBoundary {
public:
    Date now() const override { return Date::now(); }
};

}  // namespace yux
