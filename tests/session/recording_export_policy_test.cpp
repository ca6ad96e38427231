#include "session/recording_export_policy.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

using namespace yux;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {
std::vector<std::string> reasons(const TrimSelection& selection, double duration = 10, double quality = 1, double scale = 1,
                                 bool codec = true, bool camera = false, bool audio = false) {
    return RecordingExportPolicy::reencodeReasons(selection, duration, quality, scale, codec, camera, audio);
}
}  // namespace

TEST(RecordingExportPolicy, UntouchedRecordingIsCopied) {
    TrimSelection whole({{0, 4, 1, true}, {4, 10, 1, true}}, RecordingCrop(), {{2, RecordingAudioLevel{1.0f, false}}});
    EXPECT_THAT(reasons(whole, 10, 0.999, 0.999), IsEmpty());
    // Within a millisecond of the duration still counts as the whole recording.
    EXPECT_THAT(reasons(TrimSelection(0, 10.0009)), IsEmpty());
}

TEST(RecordingExportPolicy, ListsEveryReasonOnceInOrder) {
    TrimSelection selection({{0, 2, 2, true}, {3, 4, 0.5, true}}, RecordingCrop(), {{3, RecordingAudioLevel{1.0f, true}}});
    selection.crop.set(RecordingCrop::Field::width, 100, Size{1920, 1080});
    EXPECT_THAT(reasons(selection, 10, 0.998, 0.5, false, true, true),
                ElementsAre("camera", "audio", "quality", "size", "crop", "format", "speed", "cuts"));
    EXPECT_THAT(reasons(TrimSelection(0, 10), 10, 1, 1, true, false, true), ElementsAre("audio"));
    TrimSelection louder(0, 10);
    louder.audioLevels[1] = RecordingAudioLevel{1.5f, false};
    EXPECT_THAT(reasons(louder), ElementsAre("audio"));
}

TEST(RecordingExportPolicy, EachChangeAloneAddsExactlyItsReason) {
    const TrimSelection whole(0, 10);
    EXPECT_THAT(reasons(whole, 10, 1, 1, true, true), ElementsAre("camera"));
    EXPECT_THAT(reasons(whole, 10, 0.9), ElementsAre("quality"));
    EXPECT_THAT(reasons(whole, 10, 1, 0.5), ElementsAre("size"));
    EXPECT_THAT(reasons(whole, 10, 1, 1, false), ElementsAre("format"));
    TrimSelection cropped(0, 10);
    cropped.crop.set(RecordingCrop::Field::width, 100, Size{1920, 1080});
    EXPECT_THAT(reasons(cropped), ElementsAre("crop"));
    EXPECT_THAT(reasons(TrimSelection({{0, 10, 1.5, true}}, RecordingCrop(), {})), ElementsAre("speed"));
    // Muted at full gain still needs the sound mixed.
    TrimSelection muted(0, 10);
    muted.audioLevels[1] = RecordingAudioLevel{1.0f, true};
    EXPECT_THAT(reasons(muted), ElementsAre("audio"));
}

TEST(RecordingExportPolicy, OnlyACutOfMoreThanAMillisecondCounts) {
    EXPECT_THAT(reasons(TrimSelection(0, 9.9995)), IsEmpty());
    EXPECT_THAT(reasons(TrimSelection(0, 9.998)), ElementsAre("cuts"));
    EXPECT_THAT(reasons(TrimSelection({}, RecordingCrop(), {})), ElementsAre("cuts"));
    EXPECT_THAT(reasons(TrimSelection({}, RecordingCrop(), {}), 0.0005), IsEmpty());
    EXPECT_THAT(reasons(TrimSelection(0, 10), std::nan("")), IsEmpty());
}
