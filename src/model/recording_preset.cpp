#include "model/recording_preset.hpp"

namespace yux {

namespace {

constexpr json::TextCase<RecordingVideoCodec> kCodecRawValues[] = {
    {RecordingVideoCodec::h264, "h264"},
    {RecordingVideoCodec::hevc, "hevc"},
};

constexpr json::TextCase<RecordingVideoCodec> kCodecDisplayNames[] = {
    {RecordingVideoCodec::h264, "H.264"},
    {RecordingVideoCodec::hevc, "HEVC (H.265)"},
};

// At or below the lower bound (NaN too) gives the lower bound, then above the upper the upper.
double clampedTo(double value, double lower, double upper) {
    if (!(value > lower)) value = lower;
    if (value > upper) value = upper;
    return value;
}

std::string builtInPresetName(const RecordingPresetID& id) {
    auto preset = RecordingPresetCatalog::builtIn().preset(id);
    return preset ? preset->name : "Preset";
}

// Presets stored before the codec was chosen per preset.
RecordingVideoCodec defaultCodec(const RecordingPresetID& id) {
    return id == RecordingPresetCatalog::bestID || id == RecordingPresetCatalog::highID ? RecordingVideoCodec::hevc
                                                                                          : RecordingVideoCodec::h264;
}

}  // namespace

std::string_view rawValue(RecordingVideoCodec codec) { return json::textOf(kCodecRawValues, codec); }

std::optional<RecordingVideoCodec> recordingVideoCodecFromRawValue(std::string_view raw) {
    return json::caseFromText(kCodecRawValues, raw);
}

std::string_view displayName(RecordingVideoCodec codec) { return json::textOf(kCodecDisplayNames, codec); }

const RecordingPresetCatalog& RecordingPresetCatalog::builtIn() {
    static const RecordingPresetCatalog catalog{{
        {bestID, "Best", 60, 1.0, 1.0, RecordingVideoCodec::hevc, 1.0},
        {highID, "High", 45, 0.78, 0.82, RecordingVideoCodec::hevc, 1.0},
        {mediumID, "Medium", 30, 0.52, 0.55, RecordingVideoCodec::h264, 1.0},
        {lowID, "Small", 20, 0.25, 0.25, RecordingVideoCodec::h264, 1.0},
    }};
    return catalog;
}

std::optional<RecordingPreset> RecordingPresetCatalog::preset(const RecordingPresetID& id) const {
    for (const auto& candidate : presets) {
        if (candidate.id == id) return candidate;
    }
    return std::nullopt;
}

RecordingPresetCatalog RecordingPresetCatalog::validated(const RecordingPresetCatalog& catalog) {
    const auto& reference = builtIn().presets;
    if (catalog.presets.size() != reference.size()) return builtIn();
    for (std::size_t i = 0; i < reference.size(); ++i) {
        if (catalog.presets[i].id != reference[i].id) return builtIn();
    }
    RecordingPresetCatalog result;
    for (const auto& preset : catalog.presets) {
        result.presets.push_back({
            preset.id,
            preset.name.empty() ? builtInPresetName(preset.id) : preset.name,
            clampedTo(preset.frameRate, minimumFrameRate, maximumFrameRate),
            clampedTo(preset.sharpness, minimumSliderValue, maximumSliderValue),
            clampedTo(preset.motionDetail, minimumSliderValue, maximumSliderValue),
            preset.codec,
            clampedTo(preset.resolutionScale, minimumResolutionScale, maximumResolutionScale),
        });
    }
    return result;
}

RecordingPresetID RecordingPresetCatalog::validSelectedPresetID(const RecordingPresetID& id,
                                                                const RecordingPresetCatalog& catalog) {
    return catalog.preset(id) ? id : defaultSelectedPresetID;
}

}  // namespace yux

namespace yux::json {

Json Coder<RecordingVideoCodec>::encode(RecordingVideoCodec codec) { return std::string(rawValue(codec)); }

RecordingVideoCodec Coder<RecordingVideoCodec>::decode(const Json& value) {
    return decodeTextCase(kCodecRawValues, value, "RecordingVideoCodec");
}

Json Coder<RecordingPreset>::encode(const RecordingPreset& preset) {
    return ObjectWriter()
        .set("id", preset.id)
        .set("name", preset.name)
        .set("frameRate", preset.frameRate)
        .set("sharpness", preset.sharpness)
        .set("motionDetail", preset.motionDetail)
        .set("codec", preset.codec)
        .set("resolutionScale", preset.resolutionScale)
        .build();
}

RecordingPreset Coder<RecordingPreset>::decode(const Json& value) {
    ObjectReader object(value);
    RecordingPreset preset;
    preset.id = object.required<RecordingPresetID>("id");
    preset.name = object.required<std::string>("name");
    preset.frameRate = object.required<double>("frameRate");
    preset.sharpness = object.required<double>("sharpness");
    preset.motionDetail = object.required<double>("motionDetail");
    preset.codec = object.value<RecordingVideoCodec>("codec", defaultCodec(preset.id));
    preset.resolutionScale = object.value<double>("resolutionScale", 1.0);
    return preset;
}

Json Coder<RecordingPresetCatalog>::encode(const RecordingPresetCatalog& catalog) {
    return ObjectWriter().set("presets", catalog.presets).build();
}

RecordingPresetCatalog Coder<RecordingPresetCatalog>::decode(const Json& value) {
    return {ObjectReader(value).required<std::vector<RecordingPreset>>("presets")};
}

Json Coder<RecordingCaptureConfig>::encode(const RecordingCaptureConfig& config) {
    return ObjectWriter()
        .set("frameRate", config.frameRate)
        .set("sharpness", config.sharpness)
        .set("motionDetail", config.motionDetail)
        .set("showsCursor", config.showsCursor)
        .build();
}

RecordingCaptureConfig Coder<RecordingCaptureConfig>::decode(const Json& value) {
    ObjectReader object(value);
    return {object.required<int>("frameRate"), object.required<double>("sharpness"),
            object.required<double>("motionDetail"), object.required<bool>("showsCursor")};
}

Json Coder<RecordingCaptureDiagnostics>::encode(const RecordingCaptureDiagnostics& diagnostics) {
    return ObjectWriter()
        .set("config", diagnostics.config)
        .set("actualMegabytesPerMinute", diagnostics.actualMegabytesPerMinute)
        .build();
}

RecordingCaptureDiagnostics Coder<RecordingCaptureDiagnostics>::decode(const Json& value) {
    ObjectReader object(value);
    return {object.required<RecordingCaptureConfig>("config"), object.required<double>("actualMegabytesPerMinute")};
}

}  // namespace yux::json
