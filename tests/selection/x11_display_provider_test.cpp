#include <gtest/gtest.h>

#include "model/app_error.hpp"
#include "platform/async/wait_for.hpp"
#include "selection/x11_display_provider.hpp"

using namespace yux;

namespace {

std::vector<DisplayBounds> displaysOf(ScreenSnapshot snapshot) {
    X11DisplayProvider provider([snapshot]() -> QCoro::Task<ScreenSnapshot> { co_return snapshot; });
    auto task = provider.availableDisplays();
    return platform::waitForTask(task);
}

std::vector<std::string> ids(const std::vector<DisplayBounds>& displays) {
    std::vector<std::string> result;
    for (const auto& display : displays) result.push_back(display.displayID.rawValue);
    return result;
}

}  // namespace

TEST(X11DisplayProvider, MainDisplayFirstOthersKeepTheirOrder) {
    ScreenSnapshot snapshot{7, {{20, {0, 0, 100, 100}, 1}, {7, {100, 0, 100, 100}, 1}, {31, {200, 0, 100, 100}, 1}}};
    EXPECT_EQ(ids(displaysOf(snapshot)), (std::vector<std::string>{"7", "20", "31"}));
    EXPECT_TRUE(displaysOf({7, {}}).empty());
}

TEST(X11DisplayProvider, PixelSizesFollowTheScale) {
    auto displays = displaysOf({5, {{5, {0, 0, 1512, 982}, 2}}});
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_EQ(displays[0], DisplayBounds(DisplayID{"5"}, 0, 0, 1512, 982, 3024, 1964));
}

TEST(X11DisplayProvider, AScreenWithoutNumberFailsTheWholeList) {
    ScreenSnapshot snapshot{1, {{1, {0, 0, 10, 10}, 1}, {std::nullopt, {}, 1}}};
    try {
        displaysOf(snapshot);
        FAIL();
    } catch (const AppError& error) {
        EXPECT_EQ(error, AppError::displayDiscoveryFailed("Display number missing for an attached display"));
    }
}

TEST(X11DisplayProvider, NullProviderAnswersItsDisplaysMainFirst) {
    auto provider = X11DisplayProvider::create_null(
        {DisplayBounds(DisplayID{"3"}, 1920, 0, 1280, 1024), DisplayBounds(DisplayID{"9"}, 0, 0, 960, 540, 1920, 1080)},
        DisplayID{"9"});
    auto task = provider->availableDisplays();
    auto displays = platform::waitForTask(task);
    ASSERT_EQ(displays.size(), 2u);
    EXPECT_EQ(displays[0], DisplayBounds(DisplayID{"9"}, 0, 0, 960, 540, 1920, 1080));
    EXPECT_EQ(displays[1], DisplayBounds(DisplayID{"3"}, 1920, 0, 1280, 1024));
}
