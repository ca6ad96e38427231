#include <gtest/gtest.h>

#include <map>

#include "selection/desktop_application_catalog.hpp"

using namespace yux;

namespace {

constexpr std::int32_t kSelf = 10;

DesktopApplicationCatalog catalogOf(std::vector<WindowRow> rows) {
    std::map<std::int32_t, WindowApplication> applications{
        {10, {true, "yux", "Yux"}},
        {20, {true, "Gedit", "Text Editor"}},
        {30, {true, "Firefox", "Firefox"}},
        {40, {false, "Tint2", "Tint2"}},           // shows nothing in the task bar
        {50, {true, std::nullopt, "Nameless"}},    // no WM_CLASS
        {60, {true, "Unnamed", std::nullopt}},
    };
    WindowServerFunctions sdk;
    sdk.rows = [rows]() -> std::optional<std::vector<WindowRow>> { return rows; };
    sdk.application = [applications](std::int32_t pid) -> std::optional<WindowApplication> {
        auto found = applications.find(pid);
        if (found == applications.end()) return std::nullopt;
        return found->second;
    };
    sdk.currentProcessID = [] { return kSelf; };
    return DesktopApplicationCatalog(sdk);
}

WindowRow row(std::int64_t pid, std::int64_t number, CaptureRect bounds = {0, 0, 400, 300}, std::int64_t layer = 0) {
    return {pid, number, layer, bounds};
}

std::vector<int> idsOf(const std::vector<DesktopApplicationWindow>& windows) {
    std::vector<int> ids;
    for (const auto& window : windows) ids.push_back(window.id);
    return ids;
}

}  // namespace

TEST(DesktopApplicationCatalog, KeepsRegularApplicationWindowsInServerOrder) {
    auto catalog = catalogOf({row(20, 1), row(30, 2), row(20, 3, {5, 6, 2, 2})});
    auto windows = catalog.windows();
    EXPECT_EQ(idsOf(windows), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(windows[2], (DesktopApplicationWindow{3, "Gedit", "Text Editor", {5, 6, 2, 2}}));
}

TEST(DesktopApplicationCatalog, LeavesOutOwnAccessoryLayeredNamelessAndThinWindows) {
    auto catalog = catalogOf({
        row(kSelf, 1),                      // this process
        row(40, 2),                         // accessory
        row(20, 3, {0, 0, 400, 300}, 3),    // above the normal layer
        row(50, 4),                         // no bundle identifier
        row(60, 5),                         // no name
        row(20, 6, {0, 0, 1, 500}),         // 1 point wide
        row(99, 7),                         // unknown process
        {std::nullopt, 8, 0, CaptureRect{0, 0, 100, 100}},
        {20, std::nullopt, 0, CaptureRect{0, 0, 100, 100}},
        {20, 9, std::nullopt, CaptureRect{0, 0, 100, 100}},
        {20, 10, 0, std::nullopt},
        {std::int64_t{1} << 40, 11, 0, CaptureRect{0, 0, 100, 100}},  // not a process number
        row(30, 12),
    });
    EXPECT_EQ(idsOf(catalog.windows()), (std::vector<int>{12}));
}

TEST(DesktopApplicationCatalog, NoWindowListIsEmptyAndNullCatalogReturnsItsWindows) {
    WindowServerFunctions none;
    none.rows = [] { return std::optional<std::vector<WindowRow>>(); };
    none.application = [](std::int32_t) { return std::optional<WindowApplication>(); };
    none.currentProcessID = [] { return 1; };
    EXPECT_TRUE(DesktopApplicationCatalog(none).windows().empty());

    std::vector<DesktopApplicationWindow> given{{5, "Gedit", "Text Editor", {0, 0, 300, 200}},
                                                {6, "Firefox", "Firefox", {10, 10, 300, 200}},
                                                {7, "Gedit", "Text Editor", {20, 20, 300, 200}}};
    EXPECT_EQ(DesktopApplicationCatalog::create_null(given).windows(), given);
}
