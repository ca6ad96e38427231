#include "capture/phonelink/phone_camera_settings.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace yux {

namespace {
constexpr std::pair<PhoneLens, std::string_view> kLenses[] = {{PhoneLens::front, "front"}, {PhoneLens::back, "back"}};
constexpr std::pair<PhoneOrientation, std::string_view> kOrientations[] = {
    {PhoneOrientation::automatic, "auto"},
    {PhoneOrientation::landscape, "landscape"},
    {PhoneOrientation::portrait, "portrait"},
};

template <class E, std::size_t N>
std::string_view textIn(const std::pair<E, std::string_view> (&table)[N], E value) {
    for (const auto& [entry, text] : table) {
        if (entry == value) return text;
    }
    return {};
}

template <class E, std::size_t N>
std::optional<E> caseIn(const std::pair<E, std::string_view> (&table)[N], std::string_view text) {
    for (const auto& [entry, entryText] : table) {
        if (entryText == text) return entry;
    }
    return std::nullopt;
}

bool contains(const std::array<int, 3>& values, int value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}
}  // namespace

std::string_view textOf(PhoneLens lens) { return textIn(kLenses, lens); }
std::optional<PhoneLens> phoneLensFromText(std::string_view text) { return caseIn(kLenses, text); }
std::string_view textOf(PhoneOrientation orientation) { return textIn(kOrientations, orientation); }
std::optional<PhoneOrientation> phoneOrientationFromText(std::string_view text) {
    return caseIn(kOrientations, text);
}

namespace {
template <class E, std::size_t N>
E decodeCase(const std::pair<E, std::string_view> (&table)[N], const nlohmann::json& json, std::string_view type) {
    if (!json.is_string()) {
        throw std::invalid_argument("Cannot initialize " + std::string(type) + " from a JSON " + json.type_name());
    }
    const auto& text = json.get_ref<const std::string&>();
    if (auto found = caseIn(table, text)) return *found;
    throw std::invalid_argument("Cannot initialize " + std::string(type) + " from invalid String value " + text);
}
}  // namespace

void to_json(nlohmann::json& json, PhoneLens lens) { json = std::string(textOf(lens)); }
void from_json(const nlohmann::json& json, PhoneLens& lens) { lens = decodeCase(kLenses, json, "PhoneLens"); }
void to_json(nlohmann::json& json, PhoneOrientation orientation) { json = std::string(textOf(orientation)); }
void from_json(const nlohmann::json& json, PhoneOrientation& orientation) {
    orientation = decodeCase(kOrientations, json, "PhoneOrientation");
}

PhoneFraming PhoneCameraSettings::framing() const {
    auto found = framings_.find(lens_);
    return found == framings_.end() ? PhoneFraming{} : found->second;
}

PhoneCameraSettings::Dimensions PhoneCameraSettings::dimensions() const {
    int longSide = resolution_ * 16 / 9;
    return portrait_ ? Dimensions{resolution_, longSide} : Dimensions{longSide, resolution_};
}

void PhoneCameraSettings::updatePortrait() {
    switch (orientation_) {
        case PhoneOrientation::automatic: portrait_ = heldPortrait_; break;
        case PhoneOrientation::portrait: portrait_ = true; break;
        case PhoneOrientation::landscape: portrait_ = false; break;
    }
}

void PhoneCameraSettings::setOrientation(PhoneOrientation value) {
    if (recording_) return;
    orientation_ = value;
    updatePortrait();
}

void PhoneCameraSettings::rotate(bool heldPortrait) {
    heldPortrait_ = heldPortrait;
    if (!recording_) updatePortrait();
}

void PhoneCameraSettings::setRecording(bool value) {
    recording_ = value;
    // Catch up with a rotation that happened while recording.
    if (!value) updatePortrait();
}

void PhoneCameraSettings::setFormat(int newResolution, int newFps) {
    if (recording_ || !contains(kResolutions, newResolution) || !contains(kFrameRates, newFps)) return;
    resolution_ = newResolution;
    fps_ = newFps;
}

void PhoneCameraSettings::frame(double zoom, double x, double y) {
    if (!std::isfinite(zoom) || !std::isfinite(x) || !std::isfinite(y)) return;
    bool front = lens_ == PhoneLens::front;
    double minimum = front ? kFrontMinimumZoom : kBackMinimumZoom;
    double maximum = front ? kFrontMaximumZoom : kBackMaximumZoom;
    framings_[lens_] = PhoneFraming{std::clamp(zoom, minimum, maximum), std::clamp(x, 0.0, 1.0), std::clamp(y, 0.0, 1.0)};
}

void PhoneCameraSettings::resetFraming() { framings_[lens_] = PhoneFraming{}; }

PhoneCameraSettings::Rect PhoneCameraSettings::crop(Size sensor) const {
    auto output = dimensions();
    double aspect = static_cast<double>(output.width) / output.height;
    auto current = framing();
    double zoom = std::max(current.zoom, 1.0);
    double width = std::min(aspect * sensor.height, sensor.width) / zoom;
    double height = width / aspect;
    double x = std::min(std::max(current.x * sensor.width - width / 2, 0.0), sensor.width - width);
    double y = std::min(std::max(current.y * sensor.height - height / 2, 0.0), sensor.height - height);
    return Rect{x, y, width, height};
}

}  // namespace yux
