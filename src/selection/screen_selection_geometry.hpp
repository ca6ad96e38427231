#pragma once

#include <optional>
#include <string>

#include "model/capture_input_preferences.hpp"
#include "model/geometry.hpp"

namespace yux {

// What a drag on the selection overlay does to the area. Pure; any thread.
struct ScreenSelectionGeometry {
    // Which edges a resize moves. `top` is the edge at the larger y and `bottom` the one at the
    // smaller y; on the y-down desktop `bottom` is therefore the edge nearer the screen's top.
    struct ResizeEdges {
        static constexpr int left = 1;    // min x
        static constexpr int right = 2;   // max x
        static constexpr int top = 4;     // max y
        static constexpr int bottom = 8;  // min y
        int rawValue = 0;
        bool contains(int edges) const { return (rawValue & edges) == edges; }
        bool empty() const { return rawValue == 0; }
        bool operator==(const ResizeEdges&) const = default;
    };

    struct DragMode {
        enum class Kind { resize, create, move };
        Kind kind = Kind::create;
        ResizeEdges edges;  // only for resize

        static DragMode resize(int edges) { return {Kind::resize, {edges}}; }
        static DragMode create() { return {Kind::create, {}}; }
        static DragMode move() { return {Kind::move, {}}; }
        bool operator==(const DragMode&) const = default;
    };

    // How close, in points, the pointer must come to an edge line to grab it.
    double edgeThreshold = 8;
    // Least width and height of an area made or resized without a ratio.
    double minimumSize = 24;

    DragMode mode(Point at, const std::optional<Rect>& rect) const;
    Rect updatedRect(DragMode mode, const Rect& startingRect, Point dragStart, Point current, const Rect& bounds,
                     CaptureRatio ratio) const;
    // Refitted to a ratio; with `largest` the biggest rectangle of that ratio in the bounds.
    Rect reshaped(const Rect& rect, CaptureRatio ratio, const Rect& bounds, bool largest) const;

private:
    Rect normalizeAndClamp(const Rect& rect, const Rect& bounds) const;
};

std::string describe(const ScreenSelectionGeometry::DragMode& mode);

// Places the selection control bar and the recording tray next to the selected area.
struct OverlayTrayLayout {
    // The tray's frame, local to the display (origin at its top-left, y down).
    static Rect placement(const std::optional<Rect>& selectedRect, const Rect& displayBounds, Size size,
                          double menuBarHeight);
    // The size of the control bar (preferred width 640) or the recording tray (400, or 150 while
    // stopping): one row when there is room above or below the area, else narrower and taller.
    static Size controlSize(double preferredWidth, const Rect& displayFrame, const std::optional<Rect>& previewRect,
                            double menuBarHeight);
};

// "mm:ss" of the whole seconds elapsed; minutes grow past 59, negative counts as 0.
std::string elapsedTimeText(double seconds);

}  // namespace yux
