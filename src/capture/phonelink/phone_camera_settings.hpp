#pragma once

#include <array>
#include <map>
#include <optional>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace yux {

// The camera settings model of the companion phone app. Nothing on the desktop drives it;
// it lives in the link library so the phone side builds against the same definitions.

enum class PhoneLens { front, back };
inline constexpr std::array<PhoneLens, 2> kAllPhoneLenses = {PhoneLens::front, PhoneLens::back};
std::string_view textOf(PhoneLens lens);
std::optional<PhoneLens> phoneLensFromText(std::string_view text);

enum class PhoneOrientation { automatic, landscape, portrait };
inline constexpr std::array<PhoneOrientation, 3> kAllPhoneOrientations = {
    PhoneOrientation::automatic, PhoneOrientation::landscape, PhoneOrientation::portrait};
// "auto", "landscape", "portrait".
std::string_view textOf(PhoneOrientation orientation);
std::optional<PhoneOrientation> phoneOrientationFromText(std::string_view text);

// JSON: the bare text; anything else (an unknown text, a value that is no text) throws
// std::invalid_argument.
void to_json(nlohmann::json& json, PhoneLens lens);
void from_json(const nlohmann::json& json, PhoneLens& lens);
void to_json(nlohmann::json& json, PhoneOrientation orientation);
void from_json(const nlohmann::json& json, PhoneOrientation& orientation);

// Digital framing of one lens: zoom factor and the crop centre as fractions of the picture.
struct PhoneFraming {
    double zoom = 1.0;
    double x = 0.5;
    double y = 0.5;
    bool operator==(const PhoneFraming&) const = default;
};

class PhoneCameraSettings {
public:
    struct Dimensions {
        int width = 0;
        int height = 0;
        bool operator==(const Dimensions&) const = default;
    };
    struct Size {
        double width = 0;
        double height = 0;
    };
    struct Rect {
        double x = 0;
        double y = 0;
        double width = 0;
        double height = 0;
        bool operator==(const Rect&) const = default;
    };

    static constexpr std::array<int, 3> kResolutions = {720, 1080, 2160};
    static constexpr std::array<int, 3> kFrameRates = {24, 30, 60};
    static constexpr double kFrontMinimumZoom = 1.0;
    static constexpr double kFrontMaximumZoom = 3.0;
    static constexpr double kBackMinimumZoom = 0.5;
    static constexpr double kBackMaximumZoom = 6.0;

    PhoneLens lens() const { return lens_; }
    PhoneOrientation orientation() const { return orientation_; }
    // Short side of the picture in pixels.
    int resolution() const { return resolution_; }
    int fps() const { return fps_; }
    bool mirror() const { return mirror_; }
    // Format and orientation are frozen while a recording runs.
    bool recording() const { return recording_; }
    // The effective orientation.
    bool portrait() const { return portrait_; }

    // The current lens's framing, or the default one.
    PhoneFraming framing() const;
    // Output picture size: the long side is resolution × 16 / 9.
    Dimensions dimensions() const;

    void select(PhoneLens newLens) { lens_ = newLens; }
    void setMirror(bool value) { mirror_ = value; }
    void setOrientation(PhoneOrientation value);
    // Whether the device is held upright; followed only in automatic orientation.
    void rotate(bool heldPortrait);
    void setRecording(bool value);
    // Ignored while recording or for a resolution or rate that is not offered.
    void setFormat(int newResolution, int newFps);
    // Ignored unless all three are finite; zoom is limited to the lens's range, the centre to 0...1.
    void frame(double zoom, double x, double y);
    void resetFraming();
    // The rectangle of a sensor picture, in sensor pixels, that becomes the output picture.
    Rect crop(Size sensor) const;

    bool operator==(const PhoneCameraSettings&) const = default;

private:
    void updatePortrait();

    // Private, so every change goes through the operations above and the freeze while
    // recording cannot be bypassed.
    PhoneLens lens_ = PhoneLens::front;
    PhoneOrientation orientation_ = PhoneOrientation::automatic;
    int resolution_ = 1080;
    int fps_ = 30;
    bool mirror_ = false;
    bool recording_ = false;
    bool portrait_ = true;
    bool heldPortrait_ = true;
    std::map<PhoneLens, PhoneFraming> framings_;
};

}  // namespace yux
