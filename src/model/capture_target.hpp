#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "model/display_bounds.hpp"
#include "model/json_coding.hpp"

namespace yux {

// An area chosen on one display, in points.
struct SelectedCaptureArea {
    DisplayID displayID;
    CaptureRect rect;
    bool operator==(const SelectedCaptureArea&) const = default;
};

enum class CaptureMode { area, app, screen };

std::string_view textOf(CaptureMode mode);
// Exactly "area", "app" or "screen".
std::optional<CaptureMode> captureModeFromText(std::string_view text);

// What the capture engine records.
struct CaptureTarget {
    struct FullMainDisplay {
        bool operator==(const FullMainDisplay&) const = default;
    };
    struct Application {
        std::string bundleIdentifier;
        DisplayID displayID;
        bool operator==(const Application&) const = default;
    };

    std::variant<SelectedCaptureArea, FullMainDisplay, Application> value;

    static CaptureTarget area(SelectedCaptureArea area) { return {std::move(area)}; }
    static CaptureTarget fullMainDisplay() { return {FullMainDisplay{}}; }
    static CaptureTarget application(std::string bundleIdentifier, DisplayID displayID) {
        return {Application{std::move(bundleIdentifier), std::move(displayID)}};
    }

    const SelectedCaptureArea* asArea() const { return std::get_if<SelectedCaptureArea>(&value); }
    const Application* asApplication() const { return std::get_if<Application>(&value); }
    bool isFullMainDisplay() const { return std::holds_alternative<FullMainDisplay>(value); }

    bool operator==(const CaptureTarget&) const = default;
};

// What the selection offers first next time.
struct CapturePreference {
    CaptureMode mode = CaptureMode::area;
    std::optional<SelectedCaptureArea> lastArea;
    std::optional<std::string> lastApplication;

    static CapturePreference initial() { return {}; }
    bool operator==(const CapturePreference&) const = default;
};

// A confirmed selection: what to record now and what to remember.
struct RecordingSelection {
    CaptureTarget target;
    CapturePreference updatedPreference;
    bool operator==(const RecordingSelection&) const = default;
};

}  // namespace yux

template <>
struct yux::json::Coder<yux::SelectedCaptureArea> {
    static Json encode(const yux::SelectedCaptureArea& area);
    static yux::SelectedCaptureArea decode(const Json& value);
};

template <>
struct yux::json::Coder<yux::CaptureMode> {
    static Json encode(yux::CaptureMode mode);
    static yux::CaptureMode decode(const Json& value);
};

template <>
struct yux::json::Coder<yux::CaptureTarget> {
    static Json encode(const yux::CaptureTarget& target);
    static yux::CaptureTarget decode(const Json& value);
};

template <>
struct yux::json::Coder<yux::CapturePreference> {
    static Json encode(const yux::CapturePreference& preference);
    static yux::CapturePreference decode(const Json& value);
};
