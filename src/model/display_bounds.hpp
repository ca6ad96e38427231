#pragma once

#include <optional>
#include <string>

#include "model/json_coding.hpp"

namespace yux {

// An opaque display identifier; equal texts are the same display.
struct DisplayID {
    std::string rawValue;
    auto operator<=>(const DisplayID&) const = default;
};

// A rectangle in points.
struct CaptureRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const CaptureRect&) const = default;
};

// One display's frame in points and its size in pixels.
struct DisplayBounds {
    DisplayID displayID;
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    double pixelWidth = 0;
    double pixelHeight = 0;

    DisplayBounds() = default;
    // Without pixel sizes the display has one pixel per point.
    DisplayBounds(DisplayID displayID, double x, double y, double width, double height,
                  std::optional<double> pixelWidth = std::nullopt, std::optional<double> pixelHeight = std::nullopt)
        : displayID(std::move(displayID)), x(x), y(y), width(width), height(height),
          pixelWidth(pixelWidth.value_or(width)), pixelHeight(pixelHeight.value_or(height)) {}

    bool operator==(const DisplayBounds&) const = default;
};

}  // namespace yux

template <>
struct yux::json::Coder<yux::DisplayID> {
    static Json encode(const yux::DisplayID& id) { return ObjectWriter().set("rawValue", id.rawValue).build(); }
    static yux::DisplayID decode(const Json& value) {
        return yux::DisplayID{ObjectReader(value).required<std::string>("rawValue")};
    }
};

template <>
struct yux::json::Coder<yux::CaptureRect> {
    static Json encode(const yux::CaptureRect& rect) {
        return ObjectWriter().set("x", rect.x).set("y", rect.y).set("width", rect.width).set("height", rect.height).build();
    }
    static yux::CaptureRect decode(const Json& value) {
        ObjectReader object(value);
        return yux::CaptureRect{object.required<double>("x"), object.required<double>("y"),
                                object.required<double>("width"), object.required<double>("height")};
    }
};

template <>
struct yux::json::Coder<yux::DisplayBounds> {
    static Json encode(const yux::DisplayBounds& bounds) {
        return ObjectWriter()
            .set("displayID", bounds.displayID)
            .set("x", bounds.x)
            .set("y", bounds.y)
            .set("width", bounds.width)
            .set("height", bounds.height)
            .set("pixelWidth", bounds.pixelWidth)
            .set("pixelHeight", bounds.pixelHeight)
            .build();
    }
    static yux::DisplayBounds decode(const Json& value) {
        ObjectReader object(value);
        return yux::DisplayBounds(object.required<yux::DisplayID>("displayID"), object.required<double>("x"),
                                  object.required<double>("y"), object.required<double>("width"),
                                  object.required<double>("height"), object.required<double>("pixelWidth"),
                                  object.required<double>("pixelHeight"));
    }
};
