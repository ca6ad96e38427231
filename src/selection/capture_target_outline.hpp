#pragma once

#include <vector>

#include <QColor>
#include <QPainter>

#include "model/geometry.hpp"

namespace yux {

// The frame around one captured rectangle: brackets for areas and screens, round corners for
// applications, dashed while the user is still choosing, handles while an area can be resized.
struct CaptureTargetOutline {
    Rect rect;           // root coordinates
    Rect displayBounds;  // root coordinates
    QColor color;
    bool selecting = false;    // dashed while the user is still choosing
    bool editable = false;     // resize handles, only while selecting
    bool application = false;  // rounded corners, no brackets
};

// The frame is kept 1 point, the handles 6 points, inside the display so both stay visible.
void paintTargetOutline(QPainter& painter, const CaptureTargetOutline& outline);

// Darkens the display outside the captured rectangles; rectangles are root coordinates,
// painted in the display's own coordinates.
void paintOutsideDim(QPainter& painter, const std::vector<Rect>& rects, const Rect& displayBounds, double opacity);

}  // namespace yux
