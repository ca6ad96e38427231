#include "platform/media/ffmpeg_support.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

using namespace yux::platform;

namespace {

struct CapturedLine {
    int level;
    std::string text;
};

class LogSinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ffmpeg::setLogSink([this](int level, const std::string& line) {
            std::lock_guard guard(lock);
            lines.push_back({level, line});
        });
    }
    void TearDown() override { ffmpeg::setLogSink({}); }
    std::mutex lock;
    std::vector<CapturedLine> lines;
};

}  // namespace

TEST_F(LogSinkTest, WarningsAndWorseReachTheSinkAsWholeLines) {
    av_log(nullptr, AV_LOG_INFO, "frame I:1 Avg QP:20.00\n");
    av_log(nullptr, AV_LOG_WARNING, "one %s\n", "warning");
    av_log(nullptr, AV_LOG_ERROR, "a line ");
    av_log(nullptr, AV_LOG_ERROR, "in pieces\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, AV_LOG_WARNING);
    EXPECT_EQ(lines[0].text, "one warning");
    EXPECT_EQ(lines[1].level, AV_LOG_ERROR);
    EXPECT_EQ(lines[1].text, "a line in pieces");
}

TEST_F(LogSinkTest, RepeatedComplaintsAreCounted) {
    for (int i = 0; i < 4; ++i) av_log(nullptr, AV_LOG_ERROR, "error while decoding MB 5 11\n");
    av_log(nullptr, AV_LOG_WARNING, "something else\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "error while decoding MB 5 11");
    EXPECT_EQ(lines[1].text, "Last message repeated 3 times");
    EXPECT_EQ(lines[2].text, "something else");
}

TEST_F(LogSinkTest, ErrorsSpeakPlainlyAndLogTheLibrarysText) {
    auto error = ffmpeg::Error::inStep("The source movie's audio cannot be decoded", AVERROR_PATCHWELCOME);
    EXPECT_STREQ(error.what(), "The source movie's audio cannot be decoded: it uses a feature Yux does not support.");
    EXPECT_EQ(error.code(), AVERROR_PATCHWELCOME);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].text.find("patches welcome"), std::string::npos);

    EXPECT_STREQ(ffmpeg::Error("Opening the decoder", AVERROR(ENOMEM)).what(),
                 "Opening the decoder failed: there is not enough memory.");
    EXPECT_THROW(ffmpeg::checkStep(AVERROR_INVALIDDATA, "The movie cannot be read"), ffmpeg::Error);
    EXPECT_EQ(ffmpeg::checkStep(5, "The movie cannot be read"), 5);
}

TEST(FfmpegLog, NothingReachesTheTerminalByDefault) {
    ffmpeg::setLogSink({});
    ::testing::internal::CaptureStderr();
    av_log(nullptr, AV_LOG_ERROR, "a library complaint\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}
