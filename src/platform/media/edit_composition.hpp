#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/media/media_asset.hpp"
#include "platform/media/media_time.hpp"

namespace yux::platform {

// One kept stretch of source time, played at `speed` (2 plays twice as fast). Seconds.
struct EditSection {
    double start = 0;
    double end = 0;
    double speed = 1;
};

// The edited timeline of an export as plain data: the sections follow one another without gaps,
// and every source track is placed into the same slots, so all tracks stay in step. Nothing is
// read or decoded to build it.
class EditComposition {
public:
    // Every time of the composition is in ticks of 1/60000 s.
    static constexpr std::int32_t kTimescale = 60000;

    struct Slot {
        MediaTime sourceStart;  // the section's source range R
        MediaTime sourceEnd;
        MediaTime start;        // where it lands (S) and for how long (L)
        MediaTime length;
        double speed = 1;
    };

    // The media of one track inside one slot: the source range clipped to the track, and the
    // output range it plays in after the slot's scaling.
    struct Segment {
        std::size_t slot = 0;
        MediaTime sourceStart;
        MediaTime sourceEnd;
        MediaTime outputStart;
        MediaTime outputEnd;
    };

    struct Track {
        MediaTrack source;
        std::vector<Segment> segments;  // slot order; a slot without media has none
    };

    // Tracks in the given order (callers pass video tracks, then audio tracks). Without tracks
    // the composition is empty: no slots and no length.
    static EditComposition build(const std::vector<MediaTrack>& tracks, const std::vector<EditSection>& sections);

    const std::vector<Slot>& slotList() const { return slots_; }
    const std::vector<Track>& tracks() const { return tracks_; }
    // The sum of all slot lengths.
    MediaTime duration() const { return duration_; }
    // Where the last media of any track ends in the output, at most duration(): past it every
    // track is empty, so an export stops there (a header may claim far more than the media holds).
    MediaTime mediaEnd() const;

    // The slot that plays at `outputTime` (the last one at or past the end), none without slots.
    std::optional<std::size_t> slotAt(MediaTime outputTime) const;
    // The source time the slot playing at `outputTime` maps it to, whatever any track holds
    // there; none before 0, at or past the end, or without slots.
    std::optional<MediaTime> slotSourceTime(MediaTime outputTime) const;
    // The source time a track shows at `outputTime`, or none when the track has no media there.
    std::optional<MediaTime> sourceTime(std::size_t track, MediaTime outputTime) const;

private:
    std::vector<Slot> slots_;
    std::vector<Track> tracks_;
    MediaTime duration_ = MediaTime(0, kTimescale);
};

}  // namespace yux::platform
