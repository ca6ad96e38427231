#include "model/recording_source.hpp"

#include <algorithm>
#include <cmath>

#include "model/json_coding.hpp"

namespace yux {

namespace {
constexpr json::TextCase<RecordingSourceKind> kKinds[] = {
    {RecordingSourceKind::screen, "screen"},
    {RecordingSourceKind::camera, "camera"},
    {RecordingSourceKind::systemAudio, "systemAudio"},
    {RecordingSourceKind::microphone, "microphone"},
    {RecordingSourceKind::audio, "audio"},
};

constexpr SourceColor rgb255(int red, int green, int blue) {
    return SourceColor{red / 255.0, green / 255.0, blue / 255.0, 1.0};
}
}  // namespace

std::string_view textOf(RecordingSourceKind kind) { return json::textOf(kKinds, kind); }

std::optional<RecordingSourceKind> recordingSourceKindFromText(std::string_view text) {
    return json::caseFromText(kKinds, text);
}

bool isAudio(RecordingSourceKind kind) {
    return kind == RecordingSourceKind::systemAudio || kind == RecordingSourceKind::microphone ||
           kind == RecordingSourceKind::audio;
}

SourceColor colorOf(RecordingSourceKind kind) {
    switch (kind) {
        case RecordingSourceKind::screen: return rgb255(10, 132, 255);
        case RecordingSourceKind::camera: return rgb255(191, 90, 242);
        case RecordingSourceKind::microphone: return rgb255(255, 159, 10);
        case RecordingSourceKind::systemAudio:
        case RecordingSourceKind::audio: return rgb255(48, 176, 199);
    }
    return rgb255(48, 176, 199);
}

std::string trackTitle(RecordingSourceKind kind) { return std::string(kSourceTitlePrefix) + std::string(textOf(kind)); }

std::optional<RecordingSourceKind> recordingSourceKindFromTitle(std::string_view title) {
    if (!title.starts_with(kSourceTitlePrefix)) return std::nullopt;
    return recordingSourceKindFromText(title.substr(kSourceTitlePrefix.size()));
}

std::array<TrackMetadataItem, 1> metadataOf(RecordingSourceKind kind) {
    return {TrackMetadataItem{std::string(kCommonTitleIdentifier), trackTitle(kind)}};
}

void RecordingAudioLevel::setGain(float value) {
    if (!std::isfinite(value)) return;
    gain = std::clamp(value, kMinimumGain, kMaximumGain);
    muted = false;
}

}  // namespace yux
