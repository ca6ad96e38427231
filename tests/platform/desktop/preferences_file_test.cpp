#include "platform/desktop/preferences_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "support/temporary_directory.hpp"

using yux::platform::PreferencesFile;
using yux::testing::readWholeFile;
using yux::testing::TemporaryDirectory;
using yux::testing::writeWholeFile;

TEST(PreferencesFile, KeepsEveryKeyAsJsonAndCreatesAPrivateFolder) {
    TemporaryDirectory folder;
    auto path = folder.path() / "config" / "Yux" / "preferences.json";
    PreferencesFile preferences(path);
    EXPECT_EQ(preferences.read("yux.settings"), std::nullopt);

    preferences.write("yux.settings", R"({"a": 1})");
    preferences.write("yux.capture_preference", R"({"mode":"area"})");
    preferences.write("yux.settings", R"({"a":2,"b":[0.1,978307200.25]})");

    EXPECT_EQ(preferences.read("yux.settings"), R"({"a":2,"b":[0.1,978307200.25]})");
    EXPECT_EQ(PreferencesFile(path).read("yux.capture_preference"), R"({"mode":"area"})");
    auto stored = nlohmann::json::parse(readWholeFile(path));
    EXPECT_EQ(stored.size(), 2u);

    struct stat info {};
    ASSERT_EQ(::stat(path.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(PreferencesFile, ACorruptFileFailsReadsAndIsNeverReplaced) {
    TemporaryDirectory folder;
    auto path = folder.path() / "preferences.json";
    for (std::string corrupt : {"{\"yux.settings\": ", "[1, 2]"}) {
        writeWholeFile(path, corrupt);
        PreferencesFile preferences(path);
        EXPECT_THROW(preferences.read("yux.settings"), std::runtime_error);
        EXPECT_THROW(preferences.write("yux.settings", "{}"), std::runtime_error);
        EXPECT_EQ(readWholeFile(path), corrupt);
    }
}

TEST(PreferencesFile, AFailedWriteIsReportedAndLeavesNoTemporaryFile) {
    TemporaryDirectory folder;
    auto readOnly = folder.unwritableFolder("locked");
    PreferencesFile preferences(readOnly / "preferences.json");
    EXPECT_THROW(preferences.write("yux.settings", "{}"), std::runtime_error);

    PreferencesFile writable(folder.path() / "preferences.json");
    EXPECT_THROW(writable.write("yux.settings", "not json"), std::runtime_error);
    writable.write("k", "true");
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) ++entries;
    EXPECT_EQ(entries, readOnly.parent_path() == folder.path() ? 2 : 1);
}
