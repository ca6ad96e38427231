#include "platform/desktop/app_locations.hpp"

#include <gtest/gtest.h>

#include <map>

using yux::platform::AppLocations;

namespace {
AppLocations::Environment environmentOf(std::map<std::string, std::string> values) {
    return [values](const std::string& name) -> std::optional<std::string> {
        auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    };
}
}  // namespace

TEST(AppLocations, FollowsTheXdgFoldersWhenSet) {
    auto locations = AppLocations::resolve(environmentOf({{"XDG_DATA_HOME", "/d"},
                                                          {"XDG_CONFIG_HOME", "/c"},
                                                          {"XDG_CACHE_HOME", "/k"},
                                                          {"XDG_RUNTIME_DIR", "/run/user/7"}}),
                                           "/home/ann", "/home/ann/Filme");
    EXPECT_EQ(locations.debugLogFile(), "/d/Yux/debug-log.jsonl");
    EXPECT_EQ(locations.recentRecordingsFile(), "/d/Yux/recent-recordings.json");
    EXPECT_EQ(locations.preferencesFile(), "/c/Yux/preferences.json");
    EXPECT_EQ(locations.scratchDirectory(), "/k/Yux/Scratch");
    EXPECT_EQ(locations.defaultSaveFolder(), "/home/ann/Filme/Yux");
    EXPECT_EQ(locations.automationDirectory("production"), "/d/Yux/Automation/v1/production");
    EXPECT_EQ(locations.instanceLockFile(), "/run/user/7/yux.lock");
}

TEST(AppLocations, FallsBackToTheHomeFolderForUnsetEmptyOrRelativeValues) {
    auto locations = AppLocations::resolve(environmentOf({{"XDG_DATA_HOME", ""}, {"XDG_CONFIG_HOME", "relative/cfg"}}),
                                           "/home/ann", "");
    EXPECT_EQ(locations.supportDirectory, "/home/ann/.local/share/Yux");
    EXPECT_EQ(locations.configDirectory, "/home/ann/.config/Yux");
    EXPECT_EQ(locations.cacheDirectory, "/home/ann/.cache/Yux");
    EXPECT_EQ(locations.moviesDirectory, "/home/ann/Videos");
    EXPECT_EQ(locations.runtimeDirectory, "/home/ann/.cache/Yux");
}
