#include "session/recording_export_policy.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
