#include "model/recording_source.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace yux;

TEST(RecordingSourceKind, TextIsExactAndCaseSensitive) {
    for (auto kind : kAllRecordingSourceKinds) EXPECT_EQ(recordingSourceKindFromText(textOf(kind)), kind);
    EXPECT_EQ(recordingSourceKindFromText("systemAudio"), RecordingSourceKind::systemAudio);
    EXPECT_EQ(recordingSourceKindFromText("SystemAudio"), std::nullopt);
    EXPECT_EQ(recordingSourceKindFromText("system"), std::nullopt);
    EXPECT_EQ(recordingSourceKindFromText(""), std::nullopt);
}

TEST(RecordingSourceKind, AudioKindsShareTheSystemAudioColour) {
    EXPECT_FALSE(isAudio(RecordingSourceKind::screen));
    EXPECT_FALSE(isAudio(RecordingSourceKind::camera));
    EXPECT_TRUE(isAudio(RecordingSourceKind::systemAudio));
    EXPECT_TRUE(isAudio(RecordingSourceKind::microphone));
    EXPECT_TRUE(isAudio(RecordingSourceKind::audio));
    EXPECT_EQ(colorOf(RecordingSourceKind::audio), colorOf(RecordingSourceKind::systemAudio));
    EXPECT_EQ(colorOf(RecordingSourceKind::microphone), (SourceColor{1.0, 159 / 255.0, 10 / 255.0, 1.0}));
    EXPECT_NE(colorOf(RecordingSourceKind::screen), colorOf(RecordingSourceKind::camera));
}

TEST(RecordingSourceKind, TrackTitlesNameTheKindAndReadBack) {
    EXPECT_EQ(trackTitle(RecordingSourceKind::microphone), "yux.source.microphone");
    EXPECT_EQ(trackTitle(RecordingSourceKind::screen), "yux.source.screen");
    auto items = metadataOf(RecordingSourceKind::systemAudio);
    EXPECT_EQ(items[0].identifier, kCommonTitleIdentifier);
    EXPECT_EQ(items[0].value, "yux.source.systemAudio");
    for (auto kind : kAllRecordingSourceKinds) EXPECT_EQ(recordingSourceKindFromTitle(trackTitle(kind)), kind);
    EXPECT_EQ(recordingSourceKindFromTitle("yux.source.webcam"), std::nullopt);
    EXPECT_EQ(recordingSourceKindFromTitle("screen"), std::nullopt);
    EXPECT_EQ(recordingSourceKindFromTitle("yux.source.screen "), std::nullopt);
}

TEST(RecordingAudioLevel, SetGainClampsAndUnmutes) {
    RecordingAudioLevel level;
    EXPECT_EQ(level, (RecordingAudioLevel{1.0f, false}));
    level.setGain(3.5f);
    EXPECT_EQ(level, (RecordingAudioLevel{2.0f, false}));
    level.setGain(-1.0f);
    EXPECT_EQ(level.gain, 0.0f);
    level = RecordingAudioLevel{1.0f, true};
    level.setGain(0.5f);
    EXPECT_EQ(level, (RecordingAudioLevel{0.5f, false}));
}

TEST(RecordingAudioLevel, NonFiniteGainChangesNothing) {
    RecordingAudioLevel level{0.7f, true};
    level.setGain(std::numeric_limits<float>::quiet_NaN());
    level.setGain(std::numeric_limits<float>::infinity());
    level.setGain(-std::numeric_limits<float>::infinity());
    EXPECT_EQ(level, (RecordingAudioLevel{0.7f, true}));
}

TEST(RecordingAudioLevel, MuteKeepsTheGainForUnmuting) {
    RecordingAudioLevel level;
    level.setGain(1.5f);
    level.toggleMute();
    EXPECT_EQ(level.effectiveGain(), 0.0f);
    level.toggleMute();
    EXPECT_EQ(level.effectiveGain(), 1.5f);
}
