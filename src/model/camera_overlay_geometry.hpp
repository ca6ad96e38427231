#pragma once

// The camera bubble's arithmetic, shared by the on-screen bubble and the recorded camera track so
// that the recording shows the camera exactly where the bubble was. Rectangles are in whatever
// space the caller gives the area in; no axis is ever flipped. Crops are in unit coordinates of
// the camera picture.

#include <optional>

#include "model/capture_input_preferences.hpp"
#include "model/geometry.hpp"

namespace yux {

struct CameraOverlayGeometry {
    // The overlay treats the pointer as on the bubble this far beyond its edges.
    static constexpr double handleReach = 12;

    struct Snap {
        Rect frame;
        // Guide lines to draw; absent when that axis did not snap.
        std::optional<double> x;
        std::optional<double> y;
        bool operator==(const Snap&) const = default;
    };

    // The bubble for a placement; the zero rectangle for an empty area.
    Rect frame(const CameraPlacement& placement, const Rect& area) const;
    // The part of the camera picture (of width / height `sourceAspect`) that fills the bubble.
    Rect crop(const CameraPlacement& placement, const Rect& frame, double sourceAspect) const;
    // The placement of a moved or resized bubble; `reanchor` picks the anchors anew.
    CameraPlacement placement(const Rect& frame, const Rect& area, const CameraPlacement& preserving,
                              bool reanchor) const;
    // A dragged bubble, snapped to the margins and the centre lines.
    Snap snapped(const Rect& frame, const Rect& area) const;
    // Zooms so that the picture point under the pointer (in fractions of the bubble) stays there.
    CameraPlacement zoomed(const CameraPlacement& placement, double zoom, Point cursor, const Rect& frame,
                           double sourceAspect) const;
    // The tool strip above the bubble, or below it when only that fits.
    Rect toolbarFrame(Size size, const Rect& camera, const Rect& area) const;
    // Moved, and shrunk if need be, into the area.
    Rect clamped(const Rect& rect, const Rect& area) const;
};

}  // namespace yux
