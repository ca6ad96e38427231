#pragma once

#include <QCursor>

#include "selection/screen_selection_geometry.hpp"

namespace yux {

enum class OverlayCursor {
    arrow,
    crosshair,
    pointingHand,
    openHand,
    closedHand,
    // The drawn ones, last and in this order.
    plainVertical,
    plainHorizontal,
    diagonalNWSE,  // the line from the top-left to the bottom-right corner
    diagonalNESW,
    move,
};

// The pointer for each kind of drag on the overlay and the camera bubble.
struct ScreenSelectionCursorCatalog {
    // Chosen by the corner as it looks on screen (y down): the min-x/min-y and max-x/max-y
    // corners take the NW–SE diagonal, the other two the NE–SW one.
    static OverlayCursor shape(const ScreenSelectionGeometry::DragMode& mode);
    // The drawn ones are made once, on first use, on the main thread.
    static QCursor cursor(OverlayCursor shape);
    static QCursor cursor(const ScreenSelectionGeometry::DragMode& mode) { return cursor(shape(mode)); }
};

}  // namespace yux
