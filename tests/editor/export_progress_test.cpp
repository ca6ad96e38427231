#include <gtest/gtest.h>

#include <limits>

#include "model/log_text.hpp"
#include "editor/ffmpeg_recording_trim_boundary.hpp"
#include "model/app_error.hpp"
#include "platform/async/errors.hpp"
#include "platform/media/media_failure.hpp"

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

TEST(ExportFrameRate, StoredNominalRateWinsOverTheGapsOfAnIdleScreen) {
    using platform::MediaTime;
    const MediaTime halfSlotAt60(1, 120);  // a late picture after an idle stretch
    EXPECT_EQ(FfmpegRecordingTrimBoundary::exportFrameRate(60.0, halfSlotAt60), 60.0);
    EXPECT_EQ(FfmpegRecordingTrimBoundary::exportFrameRate(29.97, MediaTime(1, 30)), 29.97);
    // Without a stored rate: the smallest interval, held to 120.
    EXPECT_EQ(FfmpegRecordingTrimBoundary::exportFrameRate(std::nullopt, MediaTime(1000, 60000)), 60.0);
    EXPECT_EQ(FfmpegRecordingTrimBoundary::exportFrameRate(std::nullopt, MediaTime(1, 1000)), 120.0);
    // A still screen (one picture, no interval at all).
    EXPECT_EQ(FfmpegRecordingTrimBoundary::exportFrameRate(std::nullopt, MediaTime::invalid()), 30.0);
    EXPECT_EQ(FfmpegRecordingTrimBoundary::exportFrameRate(std::nullopt, MediaTime(0, 600)), 30.0);
    EXPECT_EQ(FfmpegRecordingTrimBoundary::exportFrameRate(24.0, MediaTime::invalid()), 24.0);
    // Stored values no screen recording has fall back or are held.
    EXPECT_EQ(FfmpegRecordingTrimBoundary::exportFrameRate(1000.0, MediaTime(1, 60)), 120.0);
    EXPECT_EQ(FfmpegRecordingTrimBoundary::exportFrameRate(0.001, MediaTime(1, 60)), 60.0);
    EXPECT_EQ(FfmpegRecordingTrimBoundary::exportFrameRate(std::numeric_limits<double>::infinity(), MediaTime(1, 60)), 60.0);
}

TEST(ExportFailureText, LibraryWordsStayOutOfWhatUsersRead) {
    auto detailOf = [](const std::exception_ptr& error) {
        try {
            std::rethrow_exception(error);
        } catch (const AppError& appError) {
            return appError.detail();
        } catch (const std::exception& other) {
            return std::string("platform: ") + other.what();
        }
    };
    // A destination another program created after the check.
    auto taken = FfmpegRecordingTrimBoundary::toldFailure(std::make_exception_ptr(platform::OutputFileExistsError("/a/b.mov")));
    EXPECT_EQ(detailOf(taken.error), "Export destination already exists");
    // A step with one of the export's own texts becomes that failure; the library's words are the cause.
    auto start = FfmpegRecordingTrimBoundary::toldFailure(
        std::make_exception_ptr(platform::MediaFailure("Encoder could not start", "Opening the video encoder failed: Invalid argument", true)));
    EXPECT_EQ(detailOf(start.error), "Encoder could not start");
    EXPECT_EQ(start.cause, "Opening the video encoder failed: Invalid argument");
    // Another keeps its own sentence as a platform error.
    auto decoding = FfmpegRecordingTrimBoundary::toldFailure(
        std::make_exception_ptr(platform::MediaFailure("The source movie's audio cannot be decoded.", "Cannot allocate memory")));
    EXPECT_EQ(detailOf(decoding.error), "platform: The source movie's audio cannot be decoded.");
    EXPECT_EQ(decoding.cause, "Cannot allocate memory");
    // Anything else passes unchanged.
    auto cancelled = FfmpegRecordingTrimBoundary::toldFailure(std::make_exception_ptr(platform::CancelledError()));
    EXPECT_THROW(std::rethrow_exception(cancelled.error), platform::CancelledError);
    EXPECT_TRUE(cancelled.cause.empty());
}

TEST(ExportLogText, WritesNumbersAndErrorsAsTheLogShowsThem) {
    EXPECT_EQ(logNumber(0), "0.0");
    EXPECT_EQ(logNumber(2), "2.0");
    EXPECT_EQ(logNumber(2.5), "2.5");
    EXPECT_EQ(logNumber(0.1), "0.1");
    // Plain up to the very large and from the very small; exponent form beyond.
    EXPECT_EQ(logNumber(100000), "100000.0");
    EXPECT_EQ(logNumber(0.0005), "0.0005");
    EXPECT_EQ(logNumber(-1234567.25), "-1234567.25");
    EXPECT_EQ(logNumber(0.00001), "1e-05");
    EXPECT_EQ(logNumber(1e20), "1e+20");
    EXPECT_EQ(logErrorText(std::make_exception_ptr(AppError::outputFinalizationFailed("Sections overlap"))),
              "outputFinalizationFailed(\"Sections overlap\")");
    // The detail reads back as a string literal, whatever it holds.
    EXPECT_EQ(logErrorText(std::make_exception_ptr(AppError::saveFolderUnusable("\"Movies\\Yux\"\ngone\x01"))),
              "saveFolderUnusable(\"\\\"Movies\\\\Yux\\\"\\ngone\\u{1}\")");
    EXPECT_EQ(appErrorText(AppError::settingsMissing()), "settingsMissing");
    EXPECT_EQ(logErrorText(std::make_exception_ptr(platform::CancelledError())), "CancelledError()");
    EXPECT_EQ(logErrorText(std::make_exception_ptr(std::runtime_error("disk full"))), "disk full");
}
