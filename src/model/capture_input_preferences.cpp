#include "model/capture_input_preferences.hpp"

namespace yux {

namespace {
constexpr json::TextCase<CaptureInputKind> kInputKinds[] = {
    {CaptureInputKind::microphone, "microphone"},
    {CaptureInputKind::camera, "camera"},
};
constexpr json::TextCase<CaptureRatio> kRatios[] = {
    {CaptureRatio::free, "Free"},
    {CaptureRatio::landscape, "16:9"},
    {CaptureRatio::portrait, "9:16"},
    {CaptureRatio::classic, "4:3"},
};
constexpr json::TextCase<CameraShape> kShapes[] = {
    {CameraShape::circle, "circle"},
    {CameraShape::rounded, "rounded"},
    {CameraShape::rectangle, "rectangle"},
};
constexpr json::TextCase<CameraPlacement::Anchor> kAnchors[] = {
    {CameraPlacement::Anchor::start, "start"},
    {CameraPlacement::Anchor::centre, "centre"},
    {CameraPlacement::Anchor::end, "end"},
};
}  // namespace

std::string_view textOf(CaptureInputKind kind) { return json::textOf(kInputKinds, kind); }
std::optional<CaptureInputKind> captureInputKindFromText(std::string_view text) {
    return json::caseFromText(kInputKinds, text);
}

std::string_view textOf(CaptureRatio ratio) { return json::textOf(kRatios, ratio); }
std::optional<CaptureRatio> captureRatioFromText(std::string_view text) { return json::caseFromText(kRatios, text); }

std::optional<double> valueOf(CaptureRatio ratio) {
    switch (ratio) {
        case CaptureRatio::free: return std::nullopt;
        case CaptureRatio::landscape: return 16.0 / 9.0;
        case CaptureRatio::portrait: return 9.0 / 16.0;
        case CaptureRatio::classic: return 4.0 / 3.0;
    }
    return std::nullopt;
}

std::string_view textOf(CameraShape shape) { return json::textOf(kShapes, shape); }
std::optional<CameraShape> cameraShapeFromText(std::string_view text) { return json::caseFromText(kShapes, text); }

std::string_view textOf(CameraPlacement::Anchor anchor) { return json::textOf(kAnchors, anchor); }
std::optional<CameraPlacement::Anchor> cameraAnchorFromText(std::string_view text) {
    return json::caseFromText(kAnchors, text);
}

}  // namespace yux

namespace yux::json {

Json Coder<CaptureRatio>::encode(CaptureRatio ratio) { return std::string(textOf(ratio)); }
CaptureRatio Coder<CaptureRatio>::decode(const Json& value) { return decodeTextCase(kRatios, value, "CaptureRatio"); }

Json Coder<CameraShape>::encode(CameraShape shape) { return std::string(textOf(shape)); }
CameraShape Coder<CameraShape>::decode(const Json& value) { return decodeTextCase(kShapes, value, "CameraShape"); }

Json Coder<CameraPlacement::Anchor>::encode(CameraPlacement::Anchor anchor) { return std::string(textOf(anchor)); }
CameraPlacement::Anchor Coder<CameraPlacement::Anchor>::decode(const Json& value) {
    return decodeTextCase(kAnchors, value, "Anchor");
}

Json Coder<CameraPlacement>::encode(const CameraPlacement& placement) {
    return ObjectWriter()
        .set("horizontal", placement.horizontal)
        .set("vertical", placement.vertical)
        .set("gapX", placement.gapX)
        .set("gapY", placement.gapY)
        .set("sizeShare", placement.sizeShare)
        .set("shape", placement.shape)
        .set("aspect", placement.aspect)
        .setIfPresent("mirrored", placement.mirrored)
        .set("zoom", placement.zoom)
        .set("centreX", placement.centreX)
        .set("centreY", placement.centreY)
        .build();
}

CameraPlacement Coder<CameraPlacement>::decode(const Json& value) {
    ObjectReader object(value);
    const CameraPlacement defaults;
    CameraPlacement placement;
    placement.horizontal = object.value("horizontal", defaults.horizontal);
    placement.vertical = object.value("vertical", defaults.vertical);
    placement.gapX = object.value("gapX", defaults.gapX);
    placement.gapY = object.value("gapY", defaults.gapY);
    placement.sizeShare = object.value("sizeShare", defaults.sizeShare);
    placement.shape = object.value("shape", defaults.shape);
    placement.aspect = object.value("aspect", defaults.aspect);
    placement.mirrored = object.optional<bool>("mirrored");
    placement.zoom = object.value("zoom", defaults.zoom);
    placement.centreX = object.value("centreX", defaults.centreX);
    placement.centreY = object.value("centreY", defaults.centreY);
    return placement;
}

Json Coder<CaptureInputPreferences>::encode(const CaptureInputPreferences& preferences) {
    return ObjectWriter()
        .setIfPresent("setupCompleted", preferences.setupCompleted)
        .set("microphoneEnabled", preferences.microphoneEnabled)
        .setIfPresent("microphoneDeviceID", preferences.microphoneDeviceID)
        .set("cameraEnabled", preferences.cameraEnabled)
        .setIfPresent("cameraDeviceID", preferences.cameraDeviceID)
        .set("ratio", preferences.ratio)
        .set("camera", preferences.camera)
        .build();
}

CaptureInputPreferences Coder<CaptureInputPreferences>::decode(const Json& value) {
    ObjectReader object(value);
    CaptureInputPreferences preferences;
    preferences.setupCompleted = object.optional<bool>("setupCompleted");
    preferences.microphoneEnabled = object.required<bool>("microphoneEnabled");
    preferences.microphoneDeviceID = object.optional<std::string>("microphoneDeviceID");
    preferences.cameraEnabled = object.required<bool>("cameraEnabled");
    preferences.cameraDeviceID = object.optional<std::string>("cameraDeviceID");
    preferences.ratio = object.required<CaptureRatio>("ratio");
    preferences.camera = object.required<CameraPlacement>("camera");
    return preferences;
}

}  // namespace yux::json
