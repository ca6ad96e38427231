#include "platform/media/edit_composition.hpp"

#include <algorithm>
#include <limits>

namespace yux::platform {

namespace {

MediaTime ticks(double seconds) { return MediaTime::fromSeconds(seconds, EditComposition::kTimescale); }

MediaTime inTicks(MediaTime time) { return time.convertedTo(EditComposition::kTimescale); }

// Maps an offset into a slot's source range onto its output length (the slot's linear scaling).
MediaTime scaled(const EditComposition::Slot& slot, MediaTime sourceOffset) {
    std::int64_t sourceLength = (slot.sourceEnd - slot.sourceStart).value;
    if (sourceLength <= 0) return MediaTime(0, EditComposition::kTimescale);
    __int128 product = static_cast<__int128>(sourceOffset.value) * slot.length.value;
    return MediaTime(static_cast<std::int64_t>((product + sourceLength / 2) / sourceLength), EditComposition::kTimescale);
}

}  // namespace

EditComposition EditComposition::build(const std::vector<MediaTrack>& tracks, const std::vector<EditSection>& sections) {
    EditComposition composition;
    // Sections with no track to play them are no timeline: nothing would fill their length.
    if (tracks.empty()) return composition;
    MediaTime cursor(0, kTimescale);
    for (const auto& section : sections) {
        Slot slot;
        slot.sourceStart = ticks(section.start);
        slot.sourceEnd = ticks(section.end);
        slot.start = cursor;
        // From the seconds directly, not from the rounded source ticks.
        slot.length = ticks((section.end - section.start) / section.speed);
        slot.speed = section.speed;
        cursor = cursor + slot.length;
        composition.slots_.push_back(slot);
    }
    composition.duration_ = cursor;

    for (const auto& source : tracks) {
        Track track{source, {}};
        MediaTime trackStart = inTicks(source.start.isValid() ? source.start : MediaTime::zero());
        // A track that states no duration is taken to run through every section.
        MediaTime trackEnd = source.duration.isValid() ? inTicks(trackStart + source.duration)
                                                       : MediaTime(std::numeric_limits<std::int64_t>::max() / 2, kTimescale);
        for (std::size_t k = 0; k < composition.slots_.size(); ++k) {
            const Slot& slot = composition.slots_[k];
            MediaTime clippedStart = std::max(slot.sourceStart, trackStart);
            MediaTime clippedEnd = std::min(slot.sourceEnd, trackEnd);
            if (clippedEnd <= clippedStart) continue;
            Segment segment;
            segment.slot = k;
            segment.sourceStart = clippedStart;
            segment.sourceEnd = clippedEnd;
            segment.outputStart = slot.start + scaled(slot, clippedStart - slot.sourceStart);
            segment.outputEnd = slot.start + scaled(slot, clippedEnd - slot.sourceStart);
            track.segments.push_back(segment);
        }
        composition.tracks_.push_back(std::move(track));
    }
    return composition;
}

MediaTime EditComposition::mediaEnd() const {
    MediaTime end(0, kTimescale);
    for (const auto& track : tracks_) {
        for (const auto& segment : track.segments) end = std::max(end, segment.outputEnd);
    }
    return std::min(end, duration_);
}

std::optional<std::size_t> EditComposition::slotAt(MediaTime outputTime) const {
    if (slots_.empty()) return std::nullopt;
    for (std::size_t k = 0; k < slots_.size(); ++k) {
        if (outputTime < slots_[k].start + slots_[k].length) return k;
    }
    return slots_.size() - 1;
}

std::optional<MediaTime> EditComposition::slotSourceTime(MediaTime outputTime) const {
    if (outputTime < MediaTime(0, kTimescale) || outputTime >= duration_) return std::nullopt;
    auto k = slotAt(outputTime);
    if (!k) return std::nullopt;
    const Slot& slot = slots_[*k];
    if (slot.length.value <= 0) return std::nullopt;
    // Invert the slot's scaling: offset × |R| / L.
    std::int64_t offset = inTicks(outputTime - slot.start).value;
    __int128 product = static_cast<__int128>(offset) * (slot.sourceEnd - slot.sourceStart).value;
    return slot.sourceStart + MediaTime(static_cast<std::int64_t>(product / slot.length.value), kTimescale);
}

std::optional<MediaTime> EditComposition::sourceTime(std::size_t track, MediaTime outputTime) const {
    if (track >= tracks_.size()) return std::nullopt;
    for (const auto& segment : tracks_[track].segments) {
        if (outputTime < segment.outputStart || outputTime >= segment.outputEnd) continue;
        auto source = slotSourceTime(outputTime);
        if (!source) return std::nullopt;
        return std::clamp(*source, segment.sourceStart, segment.sourceEnd);
    }
    return std::nullopt;
}

}  // namespace yux::platform
