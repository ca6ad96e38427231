#include <gtest/gtest.h>

#include "model/log_text.hpp"
#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "model/app_error.hpp"
#include "platform/async/errors.hpp"

using namespace yux;

TEST(ExportProgress, CopyEstimatesRemainingTimeOnceUnderway) {
    EXPECT_FALSE(FfmpegRecordingTrimBoundary::copyProgress(0.005, 3).remainingSeconds.has_value());
    auto half = FfmpegRecordingTrimBoundary::copyProgress(0.5, 10);
    EXPECT_DOUBLE_EQ(*half.remainingSeconds, 10.0);
    EXPECT_EQ(FfmpegRecordingTrimBoundary::copyProgress(1.0, 10).fraction, 0.99);
}

TEST(ExportProgress, EncodingNamesTheSectionBeingWritten) {
    std::vector<RecordingEdit::Section> sections{{0, 5, 1, true}, {10, 15, 1, true}};
    EXPECT_EQ(FfmpegRecordingTrimBoundary::encodingProgress(0.3, sections, 1).section, 1);
    EXPECT_EQ(FfmpegRecordingTrimBoundary::encodingProgress(0.5, sections, 1).section, 2);
    EXPECT_EQ(FfmpegRecordingTrimBoundary::encodingProgress(0.99, sections, 1).sectionCount, 2);
    EXPECT_FALSE(FfmpegRecordingTrimBoundary::encodingProgress(0.005, sections, 1).remainingSeconds.has_value());
    EXPECT_DOUBLE_EQ(*FfmpegRecordingTrimBoundary::encodingProgress(0.5, sections, 20).remainingSeconds, 20.0);
    EXPECT_EQ(FfmpegRecordingTrimBoundary::encodingProgress(0.5, {}, 1).section, 0);
}

TEST(ExportLogText, WritesNumbersAndErrorsAsTheLogShowsThem) {
    EXPECT_EQ(logNumber(0), "0.0");
    EXPECT_EQ(logNumber(2), "2.0");
    EXPECT_EQ(logNumber(2.5), "2.5");
    EXPECT_EQ(logNumber(0.1), "0.1");
    EXPECT_EQ(logErrorText(std::make_exception_ptr(AppError::outputFinalizationFailed("Sections overlap"))),
              "outputFinalizationFailed(\"Sections overlap\")");
    EXPECT_EQ(logErrorText(std::make_exception_ptr(platform::CancelledError())), "CancelledError()");
    EXPECT_EQ(logErrorText(std::make_exception_ptr(std::runtime_error("disk full"))), "disk full");
}
