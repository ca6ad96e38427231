#include "platform/media/stored_frame_rate.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temporary_directory.hpp"
#include "support/timed_movie.hpp"

using namespace yux::platform;
using yux::testing::TemporaryDirectory;

TEST(StoredScreenFrameRate, ReadsTheWritersTextAndRefusesWhatNoRateIs) {
    TemporaryDirectory folder;
    auto movieWith = [&](std::optional<std::string> text) {
        yux::testing::TimedMovieOptions options;
        options.durationSeconds = 0.5;
        options.screen = {{0, {30, 30, 30}}};
        options.screenFrameRate = text;
        std::string path = folder.file("rate.mov");
        std::filesystem::remove(path);
        yux::testing::writeTimedMovie(path, options);
        return storedScreenFrameRate(path);
    };
    EXPECT_EQ(movieWith("60"), 60.0);
    EXPECT_EQ(movieWith("29.97002997002997"), 30000.0 / 1001);
    EXPECT_EQ(movieWith(std::nullopt), std::nullopt);
    for (const char* text : {"", "fast", "60fps", "0", "-30", "inf", "nan"}) EXPECT_EQ(movieWith(text), std::nullopt) << text;
    EXPECT_EQ(storedScreenFrameRate(folder.file("missing.mov")), std::nullopt);
}
