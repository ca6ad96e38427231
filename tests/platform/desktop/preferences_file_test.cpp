#include "platform/desktop/preferences_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

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

namespace {

std::vector<std::filesystem::path> setAside(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("preferences.json.corrupt-")) found.push_back(entry.path());
    }
    return found;
}

}  // namespace

TEST(PreferencesFile, ADamagedFileIsSetAsideReportedOnceAndStartedAfresh) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    for (std::string corrupt : {std::string("{\"yux.settings\": "), std::string("[1, 2]"), deep}) {
        TemporaryDirectory folder;
        auto path = folder.path() / "preferences.json";
        writeWholeFile(path, corrupt);
        auto log = yux::platform::SystemLog::create_null();
        auto lines = log.track_lines();
        PreferencesFile preferences(path, log);
        EXPECT_THROW(preferences.read("yux.settings"), std::runtime_error);
        // Nothing is lost: the damaged bytes wait next to the fresh file.
        auto aside = setAside(folder.path());
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(readWholeFile(aside[0]), corrupt);
        EXPECT_EQ(nlohmann::json::parse(readWholeFile(path)), nlohmann::json::object());
        ASSERT_EQ(lines.data().size(), 1u);
        EXPECT_NE(lines.data()[0].message.find(aside[0].string()), std::string::npos) << lines.data()[0].message;

        EXPECT_EQ(preferences.read("yux.settings"), std::nullopt);
        preferences.write("yux.settings", "{}");
        EXPECT_EQ(preferences.read("yux.settings"), "{}");
    }
}

TEST(PreferencesFile, AWriteOverADamagedFileKeepsItAsideAndTheNextReadStillReportsIt) {
    TemporaryDirectory folder;
    auto path = folder.path() / "preferences.json";
    writeWholeFile(path, "not json");
    PreferencesFile preferences(path, yux::platform::SystemLog::create_null());
    preferences.write("yux.capture_preference", "true");
    ASSERT_EQ(setAside(folder.path()).size(), 1u);
    EXPECT_THROW(preferences.read("yux.capture_preference"), std::runtime_error);
    EXPECT_EQ(preferences.read("yux.capture_preference"), "true");
}

TEST(PreferencesFile, SomethingThatIsNoFileIsDamagedAndNeverBlocks) {
    TemporaryDirectory folder;
    auto path = folder.path() / "preferences.json";
    auto make = std::vector<std::function<void()>>{
        [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
        [&] { std::filesystem::create_symlink("/dev/zero", path); },
        [&] { std::filesystem::create_directory(path); },
    };
    for (const auto& makeIt : make) {
        makeIt();
        PreferencesFile preferences(path, yux::platform::SystemLog::create_null());
        EXPECT_THROW(preferences.read("k"), std::runtime_error);
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path)));
        EXPECT_EQ(preferences.read("k"), std::nullopt);
        std::filesystem::remove(path);
    }
    EXPECT_EQ(setAside(folder.path()).size(), 3u);
}

TEST(PreferencesFile, ALinkedFileIsWrittenThroughItsLinkAndACorruptTargetCopiedAside) {
    TemporaryDirectory folder;
    auto dotfiles = folder.path() / "dotfiles";
    std::filesystem::create_directory(dotfiles);
    auto target = dotfiles / "yux-preferences.json";
    writeWholeFile(target, "{\"yux.settings\": 1}");
    auto path = folder.path() / "preferences.json";
    std::filesystem::create_symlink(target, path);

    PreferencesFile preferences(path, yux::platform::SystemLog::create_null());
    preferences.write("yux.capture_preference", "2");
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(nlohmann::json::parse(readWholeFile(target)), (nlohmann::json{{"yux.settings", 1}, {"yux.capture_preference", 2}}));

    writeWholeFile(target, "{broken");
    EXPECT_THROW(preferences.read("yux.settings"), std::runtime_error);
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    auto aside = setAside(folder.path());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readWholeFile(aside[0]), "{broken");
    EXPECT_EQ(nlohmann::json::parse(readWholeFile(target)), nlohmann::json::object());
    preferences.write("yux.settings", "3");
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(preferences.read("yux.settings"), "3");
}

TEST(PreferencesFile, AnUnreadableFileIsAnErrorAndIsLeftAlone) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TemporaryDirectory folder;
    auto path = folder.path() / "preferences.json";
    writeWholeFile(path, "{\"a\": 1}");
    ::chmod(path.c_str(), 0200);
    PreferencesFile preferences(path, yux::platform::SystemLog::create_null());
    EXPECT_THROW(preferences.read("a"), std::runtime_error);
    EXPECT_THROW(preferences.write("b", "2"), std::runtime_error);
    EXPECT_TRUE(setAside(folder.path()).empty());
    ::chmod(path.c_str(), 0600);
    EXPECT_EQ(readWholeFile(path), "{\"a\": 1}");
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
