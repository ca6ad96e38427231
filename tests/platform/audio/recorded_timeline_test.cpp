#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/audio/pulse_record_stream.hpp"
#include "support/media_time_printer.hpp"

using namespace yux::platform;

namespace {

constexpr int kRate = PulseRecordStream::kSampleRate;
constexpr std::int64_t kBlock = kRate / 100;  // 10 ms

MediaTime ms(std::int64_t value) { return {value, 1000}; }

// Feeds a timeline blocks of numbered frames (each frame's left sample is its number) and
// keeps what it hands on.
struct Recorder {
    std::vector<SampleBuffer> out;
    RecordedTimeline timeline{[this](SampleBuffer sample) { out.push_back(std::move(sample)); }};
    float next = 0;

    void block(MediaTime captured, MediaTime readAt, std::int64_t frames = kBlock) {
        std::vector<float> samples;
        for (std::int64_t i = 0; i < frames; ++i) {
            samples.push_back(next++);
            samples.push_back(0);
        }
        timeline.addReal(captured, reinterpret_cast<const std::uint8_t*>(samples.data()), frames, readAt);
    }

    // Every frame number handed on, in timeline order, and whether the buffers join end to end.
    std::vector<float> frames() const {
        std::vector<float> all;
        for (const auto& sample : out) {
            const auto* samples = reinterpret_cast<const float*>(sample.audio()->bytes->data());
            for (std::int64_t i = 0; i < sample.audio()->frameCount(); ++i) all.push_back(samples[2 * i]);
        }
        return all;
    }
    bool continuous() const {
        for (std::size_t i = 1; i < out.size(); ++i) {
            if (out[i].presentationTime != out[i - 1].presentationTime + out[i - 1].duration) return false;
        }
        return true;
    }
};

std::vector<float> numbered(std::int64_t count) {
    std::vector<float> all;
    for (std::int64_t i = 0; i < count; ++i) all.push_back(static_cast<float>(i));
    return all;
}

}  // namespace

TEST(RecordedTimeline, SoundReadAtOnceAfterAStallKeepsEveryFrameAndItsPlace) {
    Recorder r;
    r.timeline.begin(ms(1000));
    // Running: each block read 10 ms after it started, with a little jitter.
    for (int i = 0; i < 5; ++i) r.block(ms(1000 + 10 * i + (i % 2)), ms(1010 + 10 * i));
    ASSERT_EQ(r.out.size(), 5u);
    // The reader stalls 150 ms; then the 15 blocks of the stall come in at once, each stamped as
    // if captured just before it was read.
    for (int i = 0; i < 15; ++i) r.block(ms(1190 + i / 5), ms(1200 + i / 5));
    EXPECT_EQ(r.out.size(), 5u) << "the first late block is held with what follows";
    EXPECT_TRUE(r.timeline.isHolding(ms(1250)));
    // Reading goes on as usual.
    for (int i = 0; i < 3; ++i) r.block(ms(1200 + 10 * i), ms(1210 + 10 * i));
    EXPECT_FALSE(r.timeline.isHolding(ms(1200) + ms(RecordedTimeline::kLateStampHoldMilliseconds)));
    r.timeline.fillSilence(ms(1230), 0);

    EXPECT_EQ(r.frames(), numbered(23 * kBlock)) << "nothing cut, nothing repeated, in order";
    EXPECT_TRUE(r.continuous()) << "no gap where the stall was";
    EXPECT_EQ(r.out.front().presentationTime, ms(1000));
    EXPECT_EQ(r.out.back().presentationTime + r.out.back().duration, ms(1230));
    EXPECT_EQ(r.timeline.statistics().realFrames, 23 * kBlock);
    EXPECT_EQ(r.timeline.statistics().realFramesOverlapped, 0);
    EXPECT_EQ(r.timeline.statistics().silenceFrames, 0);

    // Once placed, blocks go straight on again.
    r.block(ms(1230), ms(1240));
    EXPECT_EQ(r.out.back().presentationTime, ms(1230));
}

TEST(RecordedTimeline, SoundThatResumesAfterARealPauseStaysAtItsTime) {
    Recorder r;
    r.timeline.begin(ms(0));
    r.block(ms(0), ms(10));
    // The source sent nothing for half a second, then runs again on time.
    for (int i = 0; i < 25; ++i) r.block(ms(500 + 10 * i), ms(510 + 10 * i));
    EXPECT_EQ(r.out.size(), 1u);
    r.timeline.fillSilence(ms(700), 0);

    ASSERT_GE(r.out.size(), 2u);
    EXPECT_EQ(r.out[1].presentationTime, ms(500)) << "a real pause is not closed up";
    EXPECT_EQ(r.frames(), numbered(26 * kBlock));
    EXPECT_EQ(r.timeline.end(), ms(750));

    // A block after a break in the held run ends that run: both keep their own times.
    Recorder s;
    s.timeline.begin(ms(0));
    s.block(ms(0), ms(10));
    s.block(ms(300), ms(310));
    s.block(ms(900), ms(910));
    s.timeline.fillSilence(ms(0), 0);
    ASSERT_EQ(s.out.size(), 3u);
    EXPECT_EQ(s.out[1].presentationTime, ms(300));
    EXPECT_EQ(s.out[2].presentationTime, ms(900));
}

TEST(RecordedTimeline, SilenceFillsOnlyWhereNoSoundIsHeld) {
    Recorder r;
    r.timeline.begin(ms(0));
    r.timeline.fillSilence(ms(100), 0);
    EXPECT_EQ(r.timeline.statistics().silenceFrames, 10 * kBlock);
    // Real sound after silence is placed at once.
    r.block(ms(150), ms(160));
    EXPECT_EQ(r.out.back().presentationTime, ms(150));
    // Held sound is handed on before silence follows it, so silence never covers it.
    r.block(ms(400), ms(410));
    r.timeline.fillSilence(ms(500), 0);
    EXPECT_EQ(r.timeline.statistics().realFrames, 2 * kBlock);
    EXPECT_EQ(r.timeline.statistics().realFramesCut, 0);
    EXPECT_EQ(r.timeline.end(), ms(500));
}

// Silence comes once at least the least asked for is due, never in smaller pieces.
TEST(RecordedTimeline, SilenceWaitsUntilTheLeastAskedForIsDue) {
    Recorder r;
    r.timeline.begin(ms(0));
    r.timeline.fillSilence(ms(10) - MediaTime(1, kRate), kBlock);
    EXPECT_TRUE(r.out.empty());
    r.timeline.fillSilence(ms(10), kBlock);
    ASSERT_EQ(r.out.size(), 1u);
    EXPECT_EQ(r.timeline.statistics().silenceFrames, kBlock);
    EXPECT_EQ(r.timeline.end(), ms(10));
}

// Frame numbers [from, to), and frames of silence.
std::vector<float> run(std::int64_t from, std::int64_t to) {
    std::vector<float> all;
    for (std::int64_t i = from; i < to; ++i) all.push_back(static_cast<float>(i));
    return all;
}
std::vector<float> operator+(std::vector<float> a, const std::vector<float>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Time never runs back: what overlaps the timeline loses the overlap and starts at its end, a
// held run too, since no sound may end after it was read.
TEST(RecordedTimeline, SoundThatOverlapsTheTimelineGoesOnFromItsEnd) {
    constexpr std::int64_t kMs = kRate / 1000;
    const struct {
        const char* name;
        std::function<void(Recorder&)> feed;
        std::vector<float> frames;  // handed on, in timeline order
        std::int64_t cut, overlapped;
    } cases[] = {
        {"a block stamped 25 ms early after real sound",
         [](Recorder& r) {
             for (int i = 0; i < 3; ++i) r.block(ms(10 * i), ms(10 * i + 10));
             r.block(ms(5), ms(45), 40 * kMs);
         },
         run(0, 30 * kMs) + run(55 * kMs, 70 * kMs), 0, 25 * kMs},
        {"a block under silence already filled in",
         [](Recorder& r) {
             r.timeline.fillSilence(ms(100), 0);
             r.block(ms(70), ms(110), 40 * kMs);
         },
         std::vector<float>(100 * kMs, 0.0f) + run(30 * kMs, 40 * kMs), 30 * kMs, 0},
        {"a held run that reaches back before the end",
         [](Recorder& r) {
             for (int i = 0; i < 10; ++i) r.block(ms(10 * i), ms(10 * i + 10));
             // A stall: nine blocks read at once, the first stamped 50 ms after the end; together
             // they would start 30 ms before it.
             for (int i = 0; i < 9; ++i) r.block(ms(150), ms(160));
             r.timeline.fillSilence(ms(0), 0);
         },
         run(0, 100 * kMs) + run(130 * kMs, 190 * kMs), 0, 30 * kMs},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder r;
        r.timeline.begin(ms(0));
        c.feed(r);
        EXPECT_TRUE(r.continuous()) << "a buffer starts before the one ahead of it ends";
        EXPECT_EQ(r.frames(), c.frames);
        EXPECT_EQ(r.timeline.statistics().realFramesCut, c.cut);
        EXPECT_EQ(r.timeline.statistics().realFramesOverlapped, c.overlapped);
    }
}

// A held run read at once after a stall, reaching back before the end of the sound ahead of it
// by any amount: it ends no more than 20 ms after it was read, losing only what lies over that
// sound beyond the 20 ms a buffer may be moved to join it.
TEST(RecordedTimeline, AHeldRunEndsAtMostTwentyMillisecondsAfterItWasReadWhateverItReachesBack) {
    constexpr std::int64_t kMs = kRate / 1000;
    // 30 ms is the held-run case of the overlap table above.
    for (const std::int64_t reachBack : {0, 10, 20, 50, 200, 1000}) {
        SCOPED_TRACE(reachBack);
        Recorder r;
        r.timeline.begin(ms(0));
        for (int i = 0; i < 10; ++i) r.block(ms(10 * i), ms(10 * i + 10));
        // Blocks read at once at 160 ms, each stamped 150 ms: together they start `reachBack`
        // before 100 ms, where the sound ahead ends.
        const std::int64_t blocks = (reachBack + 50) / 10 + 1;
        for (std::int64_t i = 0; i < blocks; ++i) r.block(ms(150), ms(160));
        r.timeline.fillSilence(ms(0), 0);
        ASSERT_EQ(r.timeline.statistics().realFrames + r.timeline.statistics().realFramesOverlapped,
                  (100 + 10 * blocks) * kMs);
        EXPECT_TRUE(r.continuous());
        EXPECT_LE(r.out.back().presentationTime + r.out.back().duration, ms(160 + 20));
        const std::int64_t lost = reachBack > 20 ? reachBack : 0;
        EXPECT_EQ(r.timeline.statistics().realFramesOverlapped, lost * kMs);
        EXPECT_EQ(r.frames(), run(0, 100 * kMs) + run((100 + lost) * kMs, (100 + 10 * blocks) * kMs));
    }
}
