#include "model/recording_file.hpp"

#include <gtest/gtest.h>

#include "model/clock_boundary.hpp"
#include "model/recording_session_records.hpp"
#include "support/session_printers.hpp"

using namespace yux;
using json::DecodingError;

TEST(OutputFormat, OnlyMov) {
    EXPECT_EQ(fileExtensionOf(OutputFormat::mov), "mov");
    EXPECT_EQ(json::encode(OutputFormat::mov), "mov");
    EXPECT_EQ(json::decodeText<OutputFormat>(R"("mov")"), OutputFormat::mov);
    EXPECT_THROW(json::decodeText<OutputFormat>(R"("mp4")"), DecodingError);
    EXPECT_THROW(json::decodeText<OutputFormat>(R"("MOV")"), DecodingError);
}

TEST(RecordingFileCoding, CreatedAtIsSecondsSince2001) {
    auto file = json::decodeText<RecordingFile>(R"({"path":"/home/ada/Videos/Yux/Yux 1.mov","createdAt":0})");
    EXPECT_EQ(file.createdAt.iso8601(false), "2001-01-01T00:00:00Z");
    RecordingFile later{"/v/Yux 2026-01-31 09.05.07.mov", Date{791543107.25}};
    auto encoded = json::encode(later);
    EXPECT_EQ(encoded["createdAt"], 791543107.25);
    EXPECT_EQ(json::decodeText<RecordingFile>(json::encodeText(encoded)), later);
}

TEST(RecordingFileCoding, BothKeysAreRequired) {
    EXPECT_THROW(json::decodeText<RecordingFile>(R"({"path":"/a.mov"})"), DecodingError);
    EXPECT_THROW(json::decodeText<RecordingFile>(R"({"createdAt":1})"), DecodingError);
    EXPECT_THROW(json::decodeText<RecordingFile>(R"({"path":"/a.mov","createdAt":"2001-01-01"})"), DecodingError);
}

TEST(SessionRecords, TargetIsTheScratchFile) {
    ActiveSessionInfo session{QUuid::createUuid(), "/tmp/Yux/Scratch/a.mov"};
    EXPECT_EQ(session.targetFilePath(), session.scratchFilePath);
    EXPECT_NE(session, (ActiveSessionInfo{QUuid::createUuid(), session.scratchFilePath}));
}

TEST(SystemClock, ReadsTheCurrentTime) {
    SystemClock clock;
    auto before = Date::now();
    auto now = clock.now();
    EXPECT_GE(now, before);
    EXPECT_LT(now.timeIntervalSince(before), 5.0);
}
