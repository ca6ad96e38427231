#pragma once

// Export quality presets, the catalog that offers them, and how the scratch capture was taken.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/json_coding.hpp"

namespace yux {

struct RecordingPresetID {
    std::string rawValue;

    RecordingPresetID() = default;
    RecordingPresetID(std::string raw) : rawValue(std::move(raw)) {}
    RecordingPresetID(const char* raw) : rawValue(raw) {}

    auto operator<=>(const RecordingPresetID&) const = default;
};

enum class RecordingVideoCodec { h264, hevc };

inline constexpr RecordingVideoCodec kAllRecordingVideoCodecs[] = {RecordingVideoCodec::h264, RecordingVideoCodec::hevc};

std::string_view rawValue(RecordingVideoCodec codec);
std::optional<RecordingVideoCodec> recordingVideoCodecFromRawValue(std::string_view raw);
std::string_view displayName(RecordingVideoCodec codec);

struct RecordingPreset {
    RecordingPresetID id;
    std::string name;
    double frameRate = 0;
    double sharpness = 0;
    double motionDetail = 0;
    RecordingVideoCodec codec = RecordingVideoCodec::h264;
    double resolutionScale = 1.0;

    bool operator==(const RecordingPreset&) const = default;
};

struct RecordingPresetCatalog {
    std::vector<RecordingPreset> presets;

    static inline const RecordingPresetID bestID{"best"};
    static inline const RecordingPresetID highID{"high"};
    static inline const RecordingPresetID mediumID{"medium"};
    static inline const RecordingPresetID lowID{"low"};
    static inline const RecordingPresetID defaultSelectedPresetID{"high"};
    static constexpr double minimumFrameRate = 15.0;
    static constexpr double maximumFrameRate = 60.0;
    static constexpr double minimumSliderValue = 0.0;
    static constexpr double maximumSliderValue = 1.0;
    static constexpr double minimumResolutionScale = 0.25;
    static constexpr double maximumResolutionScale = 1.0;

    // Built once, on first use; safe to read from any thread.
    static const RecordingPresetCatalog& builtIn();

    // The first preset with that id.
    std::optional<RecordingPreset> preset(const RecordingPresetID& id) const;

    // A catalog is accepted only with exactly the built-in ids in their order, its values held to
    // their ranges; anything else is replaced by the built-in catalog whole.
    static RecordingPresetCatalog validated(const RecordingPresetCatalog& catalog);
    static RecordingPresetID validSelectedPresetID(const RecordingPresetID& id, const RecordingPresetCatalog& catalog);

    bool operator==(const RecordingPresetCatalog&) const = default;
};

struct RecordingCaptureConfig {
    int frameRate = 0;
    double sharpness = 0;
    double motionDetail = 0;
    bool showsCursor = false;

    // What every recording is captured with; stored in its diagnostics.
    static RecordingCaptureConfig fullFidelity() { return {0, 1.0, 1.0, true}; }

    bool operator==(const RecordingCaptureConfig&) const = default;
};

struct RecordingCaptureDiagnostics {
    RecordingCaptureConfig config;
    // Megabytes (1,000,000 bytes) of scratch movie per minute.
    double actualMegabytesPerMinute = 0;

    bool operator==(const RecordingCaptureDiagnostics&) const = default;
};

}  // namespace yux

template <>
struct std::hash<yux::RecordingPresetID> {
    std::size_t operator()(const yux::RecordingPresetID& id) const noexcept { return std::hash<std::string>()(id.rawValue); }
};

template <>
struct yux::json::Coder<yux::RecordingPresetID> {
    static Json encode(const yux::RecordingPresetID& id) { return id.rawValue; }
    static yux::RecordingPresetID decode(const Json& value) { return {Coder<std::string>::decode(value)}; }
};

template <>
struct yux::json::Coder<yux::RecordingVideoCodec> {
    static Json encode(yux::RecordingVideoCodec codec);
    static yux::RecordingVideoCodec decode(const Json& value);
};

template <>
struct yux::json::Coder<yux::RecordingPreset> {
    static Json encode(const yux::RecordingPreset& preset);
    static yux::RecordingPreset decode(const Json& value);
};

template <>
struct yux::json::Coder<yux::RecordingPresetCatalog> {
    static Json encode(const yux::RecordingPresetCatalog& catalog);
    static yux::RecordingPresetCatalog decode(const Json& value);
};

template <>
struct yux::json::Coder<yux::RecordingCaptureConfig> {
    static Json encode(const yux::RecordingCaptureConfig& config);
    static yux::RecordingCaptureConfig decode(const Json& value);
};

template <>
struct yux::json::Coder<yux::RecordingCaptureDiagnostics> {
    static Json encode(const yux::RecordingCaptureDiagnostics& diagnostics);
    static yux::RecordingCaptureDiagnostics decode(const Json& value);
};
