#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "model/json_coding.hpp"

namespace yux {

// The optional inputs of a recording, always walked microphone first.
enum class CaptureInputKind { microphone, camera };
inline constexpr std::array<CaptureInputKind, 2> kAllCaptureInputKinds = {CaptureInputKind::microphone,
                                                                          CaptureInputKind::camera};
std::string_view textOf(CaptureInputKind kind);
std::optional<CaptureInputKind> captureInputKindFromText(std::string_view text);

// One selectable device as listed to the user; its identity is `id`.
struct CaptureDevice {
    std::string id;
    std::string name;
    bool operator==(const CaptureDevice&) const = default;
};

// The width-to-height ratio an area selection is held to.
enum class CaptureRatio { free, landscape, portrait, classic };
inline constexpr std::array<CaptureRatio, 4> kAllCaptureRatios = {CaptureRatio::free, CaptureRatio::landscape,
                                                                  CaptureRatio::portrait, CaptureRatio::classic};
std::string_view textOf(CaptureRatio ratio);
std::optional<CaptureRatio> captureRatioFromText(std::string_view text);
// Width / height; none for `free`.
std::optional<double> valueOf(CaptureRatio ratio);

// Outline of the camera bubble; a circle is always square.
enum class CameraShape { circle, rounded, rectangle };
inline constexpr std::array<CameraShape, 3> kAllCameraShapes = {CameraShape::circle, CameraShape::rounded,
                                                                CameraShape::rectangle};
std::string_view textOf(CameraShape shape);
std::optional<CameraShape> cameraShapeFromText(std::string_view text);

// Where and how the camera bubble sits inside the capture area. No ranges are held here: the
// bubble geometry clamps where it uses the values.
struct CameraPlacement {
    enum class Anchor { start, centre, end };

    Anchor horizontal = Anchor::end;
    Anchor vertical = Anchor::end;
    // Points from the anchored edge; for `centre` the offset from the centred position.
    double gapX = 32;
    double gapY = 32;
    // Bubble width as a share of the capture area's shorter side.
    double sizeShare = 0.36;
    CameraShape shape = CameraShape::circle;
    // Width / height for the rounded and rectangle shapes.
    double aspect = 16.0 / 9.0;
    // Absent: no choice stored, counts as not mirrored.
    std::optional<bool> mirrored;
    double zoom = 1.0;
    // Centre of the visible part of the camera picture, 0 to 1.
    double centreX = 0.5;
    double centreY = 0.5;

    bool isMirrored() const { return mirrored.value_or(false); }
    bool operator==(const CameraPlacement&) const = default;
};

std::string_view textOf(CameraPlacement::Anchor anchor);
std::optional<CameraPlacement::Anchor> cameraAnchorFromText(std::string_view text);

// The user's remembered input choices.
struct CaptureInputPreferences {
    // Absent or false: the first-run input setup still has to run.
    std::optional<bool> setupCompleted;
    bool microphoneEnabled = false;
    std::optional<std::string> microphoneDeviceID;
    bool cameraEnabled = false;
    std::optional<std::string> cameraDeviceID;
    CaptureRatio ratio = CaptureRatio::free;
    CameraPlacement camera;

    bool operator==(const CaptureInputPreferences&) const = default;
};

}  // namespace yux

template <>
struct yux::json::Coder<yux::CaptureRatio> {
    static Json encode(yux::CaptureRatio ratio);
    static yux::CaptureRatio decode(const Json& value);
};

template <>
struct yux::json::Coder<yux::CameraShape> {
    static Json encode(yux::CameraShape shape);
    static yux::CameraShape decode(const Json& value);
};

template <>
struct yux::json::Coder<yux::CameraPlacement::Anchor> {
    static Json encode(yux::CameraPlacement::Anchor anchor);
    static yux::CameraPlacement::Anchor decode(const Json& value);
};

// Every key is optional: missing or null takes the default; a wrong value fails.
template <>
struct yux::json::Coder<yux::CameraPlacement> {
    static Json encode(const yux::CameraPlacement& placement);
    static yux::CameraPlacement decode(const Json& value);
};

template <>
struct yux::json::Coder<yux::CaptureInputPreferences> {
    static Json encode(const yux::CaptureInputPreferences& preferences);
    static yux::CaptureInputPreferences decode(const Json& value);
};
