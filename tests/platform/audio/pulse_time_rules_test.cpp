#include <gtest/gtest.h>

#include "platform/audio/pulse_record_stream.hpp"
#include "support/media_time_printer.hpp"

using namespace yux::platform;

namespace {

MediaTime ms(std::int64_t value) { return {value, 1000}; }

}  // namespace

TEST(RecordedCaptureTime, WaitingFramesAreTakenOffAndOnlyHardwareSourcesLoseTheirLatency) {
    const MediaTime readAt = ms(10'000);
    // 480 frames at 48 kHz waited 10 ms.
    EXPECT_EQ(recordedCaptureTime(readAt, 480, 48000, false, ms(0)), ms(9'990));
    // A monitor reports its output's queue as latency: that says nothing about capture.
    EXPECT_EQ(recordedCaptureTime(readAt, 480, 48000, false, ms(25)), ms(9'990));
    // A sound card held the frames 25 ms before the server had them.
    EXPECT_EQ(recordedCaptureTime(readAt, 480, 48000, true, ms(25)), ms(9'965));
    EXPECT_EQ(recordedCaptureTime(readAt, 0, 48000, true, MediaTime::invalid()), readAt);
}

TEST(SilenceFillEnd, SilenceNeverReachesWhereRealSoundMayStillArrive) {
    const MediaTime now = ms(60'000);
    // A failed stream sends nothing more: silence up to now.
    EXPECT_EQ(silenceFillEnd(now, {SourceQuiet::Kind::gone, {}}), now);
    // A suspended source: its last block may still be on its way.
    EXPECT_EQ(silenceFillEnd(now, {SourceQuiet::Kind::suspended, {}}), ms(59'970));
    // The server said it held nothing more when asked 50 ms ago.
    EXPECT_EQ(silenceFillEnd(now, {SourceQuiet::Kind::drained, ms(59'950)}), ms(59'920));
    // Nothing known: only as far back as no buffer can be late (two server queues of 2 s).
    EXPECT_EQ(silenceFillEnd(now, {}), ms(56'000));
    // A drain answer older than that bound never holds silence further back than it.
    EXPECT_EQ(silenceFillEnd(now, {SourceQuiet::Kind::drained, ms(1'000)}), ms(56'000));
    EXPECT_EQ(silenceFillEnd(now, {SourceQuiet::Kind::drained, MediaTime::invalid()}), ms(56'000));
}
