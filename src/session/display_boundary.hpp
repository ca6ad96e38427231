#pragma once

#include <vector>

#include <QCoroTask>

#include "model/display_bounds.hpp"

namespace yux {

// The attached displays with their identifiers and bounds in points, main display first.
class DisplayBoundary {
public:
    virtual ~DisplayBoundary() = default;
    virtual QCoro::Task<std::vector<DisplayBounds>> availableDisplays() = 0;
};

}  // namespace yux
