#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace yux::platform {
// A track of an opened movie; defined by the media layer.
struct MediaTrack;
}  // namespace yux::platform

namespace yux {

// The kind of source one track of a recording carries. `audio` is an audio track that names
// no kind of its own (read back from movies without our titles).
enum class RecordingSourceKind { screen, camera, systemAudio, microphone, audio };

// Opaque sRGB colour, components 0 to 1.
struct SourceColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double opacity = 1;
    bool operator==(const SourceColor&) const = default;
};

// One item of a track's metadata.
struct TrackMetadataItem {
    std::string identifier;
    std::string value;
    bool operator==(const TrackMetadataItem&) const = default;
};

// The common title identifier of track metadata; the movie writer stores it as the track's
// handler name.
inline constexpr std::string_view kCommonTitleIdentifier = "common/title";
// Every track title is this prefix followed by the kind's text.
inline constexpr std::string_view kSourceTitlePrefix = "yux.source.";

inline constexpr std::array<RecordingSourceKind, 5> kAllRecordingSourceKinds = {
    RecordingSourceKind::screen, RecordingSourceKind::camera, RecordingSourceKind::systemAudio,
    RecordingSourceKind::microphone, RecordingSourceKind::audio};

std::string_view textOf(RecordingSourceKind kind);
// Exact and case-sensitive.
std::optional<RecordingSourceKind> recordingSourceKindFromText(std::string_view text);
bool isAudio(RecordingSourceKind kind);
SourceColor colorOf(RecordingSourceKind kind);
// "yux.source." + the kind's text.
std::string trackTitle(RecordingSourceKind kind);
// The kind named by a track title, or none when the title is not one of ours.
std::optional<RecordingSourceKind> recordingSourceKindFromTitle(std::string_view title);
// One title item, made new on each call.
std::array<TrackMetadataItem, 1> metadataOf(RecordingSourceKind kind);

// One track of a recording as the editor sees it; its identity is `id`.
struct RecordingSource {
    std::int32_t id = 0;
    RecordingSourceKind kind = RecordingSourceKind::screen;
    std::shared_ptr<const platform::MediaTrack> track;
};

// The level the user set for one audio track.
struct RecordingAudioLevel {
    static constexpr float kMinimumGain = 0.0f;
    static constexpr float kMaximumGain = 2.0f;

    float gain = 1.0f;
    bool muted = false;

    float effectiveGain() const { return muted ? 0.0f : gain; }
    // Clamps to 0...2 and unmutes; a value that is not finite changes nothing.
    void setGain(float value);
    // The gain is kept, so unmuting restores the previous level.
    void toggleMute() { muted = !muted; }

    bool operator==(const RecordingAudioLevel&) const = default;
};

}  // namespace yux
