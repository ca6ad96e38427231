#include "platform/media/edit_composition.hpp"

#include <gtest/gtest.h>

#include "support/media_time_printer.hpp"

using namespace yux::platform;

namespace {

MediaTrack track(std::int32_t id, MediaTrackType type, double start, double duration) {
    MediaTrack t;
    t.trackID = id;
    t.type = type;
    t.start = MediaTime::fromSeconds(start, 600);
    t.duration = MediaTime::fromSeconds(duration, 600);
    return t;
}

MediaTime ticks(double seconds) { return MediaTime::fromSeconds(seconds, EditComposition::kTimescale); }

}  // namespace

TEST(EditComposition, WholeRecordingAtSpeedOneKeepsItsLength) {
    auto composition = EditComposition::build({track(1, MediaTrackType::video, 0, 10)}, {{0, 10, 1}});
    ASSERT_EQ(composition.tracks().size(), 1u);
    ASSERT_EQ(composition.tracks()[0].segments.size(), 1u);
    const auto& segment = composition.tracks()[0].segments[0];
    EXPECT_EQ(segment.outputStart, ticks(0));
    EXPECT_EQ(segment.outputEnd, ticks(10));
    EXPECT_EQ(composition.duration(), ticks(10));
}

TEST(EditComposition, SpedUpSectionsFollowOneAnotherOnEveryTrack) {
    std::vector<MediaTrack> tracks{track(1, MediaTrackType::video, 0, 40), track(2, MediaTrackType::video, 0, 40),
                                   track(3, MediaTrackType::audio, 0, 40), track(4, MediaTrackType::audio, 0, 40)};
    auto composition = EditComposition::build(tracks, {{10, 20, 2}, {30, 35, 1}});
    ASSERT_EQ(composition.slotList().size(), 2u);
    EXPECT_EQ(composition.slotList()[0].start, ticks(0));
    EXPECT_EQ(composition.slotList()[0].length, ticks(5));
    EXPECT_EQ(composition.slotList()[1].start, ticks(5));
    EXPECT_EQ(composition.duration(), ticks(10));
    ASSERT_EQ(composition.tracks().size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(composition.tracks()[i].source.trackID, static_cast<int>(i + 1));
        // Source second 30 plays at output second 5; source 14 (4 s into a 2x slot) at 2.
        EXPECT_EQ(composition.sourceTime(i, ticks(5)), ticks(30));
        EXPECT_EQ(composition.sourceTime(i, ticks(2)), ticks(14));
    }
    EXPECT_EQ(composition.slotAt(ticks(4.99)), 0u);
    EXPECT_EQ(composition.slotAt(ticks(5)), 1u);
    EXPECT_EQ(composition.slotAt(ticks(99)), 1u);
}

TEST(EditComposition, LateTrackKeepsItsOffsetScaledBySpeed) {
    auto late = track(3, MediaTrackType::audio, 0.2, 9.8);
    auto normal = EditComposition::build({late}, {{0, 10, 1}});
    EXPECT_EQ(normal.tracks()[0].segments[0].outputStart, ticks(0.2));
    EXPECT_FALSE(normal.sourceTime(0, ticks(0.1)).has_value());
    auto fast = EditComposition::build({late}, {{0, 10, 2}});
    EXPECT_EQ(fast.tracks()[0].segments[0].outputStart, ticks(0.1));
    EXPECT_EQ(fast.tracks()[0].segments[0].outputEnd, ticks(5));
}

TEST(EditComposition, TrackWithoutMediaInASectionLeavesThatSlotEmpty) {
    auto shortTrack = track(2, MediaTrackType::video, 0, 3);
    auto composition = EditComposition::build({track(1, MediaTrackType::video, 0, 10), shortTrack}, {{0, 2, 1}, {5, 8, 0.5}, {8, 9, 1}});
    ASSERT_EQ(composition.tracks()[1].segments.size(), 1u);
    EXPECT_FALSE(composition.sourceTime(1, ticks(3)).has_value());
    // The third slot starts where the others say, whatever the short track holds.
    EXPECT_EQ(composition.slotList()[2].start, ticks(8));
    EXPECT_EQ(composition.sourceTime(0, ticks(8.5)), ticks(8.5));
}

TEST(EditComposition, NoTracksOrNoSectionsGiveAnEmptyComposition) {
    // Nothing to place the sections on: no slots either, and no length.
    auto empty = EditComposition::build({}, {{0, 1, 1}, {2, 3, 2}});
    EXPECT_TRUE(empty.tracks().empty());
    EXPECT_TRUE(empty.slotList().empty());
    EXPECT_EQ(empty.duration(), ticks(0));
    auto noSections = EditComposition::build({track(1, MediaTrackType::video, 0, 1)}, {});
    EXPECT_EQ(noSections.duration(), ticks(0));
    EXPECT_FALSE(noSections.slotAt(ticks(0)).has_value());
}

TEST(EditComposition, MediaEndsWhereTheLastTrackEndsNotWhereTheSectionsClaim) {
    // A header claiming hours over 6 s of media: the sections run on, the media does not.
    std::vector<MediaTrack> tracks{track(1, MediaTrackType::video, 0, 6), track(2, MediaTrackType::audio, 0, 5)};
    auto composition = EditComposition::build(tracks, {{0, 1, 1}, {2, 3600, 2}});
    EXPECT_EQ(composition.duration(), ticks(1 + 3598.0 / 2));
    EXPECT_EQ(composition.mediaEnd(), ticks(1 + 2));
    // Media that outlasts the sections ends with them.
    auto whole = EditComposition::build(tracks, {{1, 4, 1}});
    EXPECT_EQ(whole.mediaEnd(), ticks(3));
    // A track that states no duration runs through every section.
    auto open = track(1, MediaTrackType::video, 0, 0);
    open.duration = MediaTime::invalid();
    EXPECT_EQ(EditComposition::build({open}, {{0, 9, 1}}).mediaEnd(), ticks(9));
    // Sections where no track has media: nothing to show at all.
    EXPECT_EQ(EditComposition::build({track(1, MediaTrackType::video, 5, 1)}, {{0, 2, 1}}).mediaEnd(), ticks(0));
}

TEST(EditComposition, SlotSourceTimeMapsEveryOutputTimeWhateverTheTracksHold) {
    auto shortTrack = track(1, MediaTrackType::video, 0, 3);
    auto composition = EditComposition::build({shortTrack}, {{0, 2, 1}, {4, 8, 2}});
    // Past the track's media the slot still says where in the source the output is.
    EXPECT_FALSE(composition.sourceTime(0, ticks(3)).has_value());
    EXPECT_EQ(composition.slotSourceTime(ticks(3)), ticks(6));
    EXPECT_EQ(composition.slotSourceTime(ticks(0)), ticks(0));
    EXPECT_FALSE(composition.slotSourceTime(ticks(4)).has_value());
    EXPECT_FALSE(composition.slotSourceTime(ticks(-1)).has_value());
}
