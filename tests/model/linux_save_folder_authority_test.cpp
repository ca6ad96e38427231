#include "model/linux_save_folder_authority.hpp"

#include <gtest/gtest.h>

#include "model/app_error.hpp"
#include "model/file_debug_log_store.hpp"
#include "platform/async/wait_for.hpp"
#include "support/app_error_expectations.hpp"
#include "support/temporary_directory.hpp"

using yux::AppError;
using yux::FileDebugLogStore;
using yux::LinuxSaveFolderAuthority;
using yux::SaveFolderBookmark;
using yux::SaveFolderDefaultLocationPolicy;
using yux::SaveFolderSDK;
using yux::SaveFolderSelectionOutcome;
using yux::platform::waitForTask;
using yux::testing::TemporaryDirectory;

namespace {

using Strings = std::vector<std::string>;

template <class Action>
void expectUnusable(Action action, const std::string& detail) {
    yux::testing::expectAppError(action, AppError::saveFolderUnusable(detail));
}

SaveFolderBookmark bookmarkOf(const std::string& path) { return {path, yux::json::Bytes(path.begin(), path.end())}; }

struct Harness {
    std::shared_ptr<FileDebugLogStore> log = FileDebugLogStore::create_null("/support/Yux/debug-log.jsonl", 1000);
    std::shared_ptr<yux::DebugLogMessages> messages = log->track_messages();
    Strings started;  // where the chooser opened

    // The live operations, with the chooser scripted.
    std::shared_ptr<LinuxSaveFolderAuthority> live(std::string home, std::optional<std::string> choice,
                                                   SaveFolderDefaultLocationPolicy policy = {}) {
        auto sdk = SaveFolderSDK::live();
        sdk.homeDirectory = [home] { return home; };
        sdk.chooseDirectory = [this, choice](std::string start) -> QCoro::Task<std::optional<std::string>> {
            started.push_back(start);
            co_return choice;
        };
        return std::make_shared<LinuxSaveFolderAuthority>(log, std::move(policy), std::move(sdk));
    }
};

}  // namespace

TEST(SaveFolderDefaultLocationPolicy, NamesTheVideosFolderThenHomeAndStartsAtTheFirstThatExists) {
    SaveFolderDefaultLocationPolicy policy;
    EXPECT_EQ(policy.orderedCandidatePaths("/home/ann/"),
              (Strings{"/home/ann/Videos/Yux", "/home/ann/Videos", "/home/ann"}));
    SaveFolderDefaultLocationPolicy localised{"/home/ann/Filme/"};
    EXPECT_EQ(localised.orderedCandidatePaths("/home/ann"), (Strings{"/home/ann/Filme/Yux", "/home/ann/Filme", "/home/ann"}));
    auto user = SaveFolderDefaultLocationPolicy::forCurrentUser();
    ASSERT_TRUE(user.videosDirectory.has_value());
    EXPECT_EQ(user.orderedCandidatePaths("/h").front(), *user.videosDirectory + "/Yux");

    auto existing = [](Strings folders) {
        return [folders](const std::string& path) { return std::find(folders.begin(), folders.end(), path) != folders.end(); };
    };
    EXPECT_EQ(policy.pickerStartDirectory("/h", existing({"/h/Videos/Yux", "/h/Videos"})), "/h/Videos/Yux");
    EXPECT_EQ(policy.pickerStartDirectory("/h", existing({"/h/Videos"})), "/h/Videos");
    EXPECT_EQ(policy.pickerStartDirectory("/h", existing({})), "/h");
}

TEST(LinuxSaveFolderAuthority, TheNullChooserSelectsTheScriptedFolderOrIsCancelled) {
    Harness harness;
    auto cancelling = LinuxSaveFolderAuthority::create_null(harness.log);
    EXPECT_EQ(waitForTask(cancelling->chooseSaveFolder(std::nullopt)), SaveFolderSelectionOutcome::cancelled());
    EXPECT_EQ(harness.messages->messages(),
              (Strings{"save_folder_selection_requested current_path=absent", "save_folder_selection_cancelled"}));

    auto choosing = LinuxSaveFolderAuthority::create_null(harness.log, {}, "/tmp/out");
    auto outcome = waitForTask(choosing->chooseSaveFolder(bookmarkOf("/gone")));
    EXPECT_EQ(outcome, SaveFolderSelectionOutcome::selected(bookmarkOf("/tmp/out")));
    auto session = waitForTask(choosing->startAccessing(*outcome.selectedFolder));
    EXPECT_EQ(session.folderPath, "/tmp/out");
    EXPECT_EQ(harness.messages->messages().at(2), "save_folder_selection_requested current_path=/gone");
    EXPECT_EQ(harness.messages->messages().at(3), "save_folder_selected path=/tmp/out");
    EXPECT_EQ(harness.messages->messages().at(4), "save_folder_access_started path=/tmp/out");

    expectUnusable([&] { waitForTask(choosing->startAccessing(SaveFolderBookmark{"/tmp/out", {'o', 'u', 't'}})); },
                   "save folder bookmark resolution failed for /tmp/out");
}

TEST(LinuxSaveFolderAuthority, TheChooserStartsAtTheCurrentFolderEvenWhenItIsGoneElseAtTheDefault) {
    TemporaryDirectory home;
    Harness harness;
    auto authority = harness.live(home.path().string(), std::nullopt);
    waitForTask(authority->chooseSaveFolder(bookmarkOf("/no/such/folder")));
    waitForTask(authority->chooseSaveFolder(std::nullopt));
    std::filesystem::create_directories(home.path() / "Videos");
    waitForTask(authority->chooseSaveFolder(std::nullopt));
    std::filesystem::create_directories(home.path() / "Videos" / "Yux");
    waitForTask(authority->chooseSaveFolder(std::nullopt));
    EXPECT_EQ(harness.started, (Strings{"/no/such/folder", home.path().string(), (home.path() / "Videos").string(),
                                        (home.path() / "Videos" / "Yux").string()}));
}

TEST(LinuxSaveFolderAuthority, AFailingChooserOrBookmarkIsLoggedAndUnusable) {
    Harness harness;
    auto sdk = SaveFolderSDK::live();
    sdk.chooseDirectory = [](std::string) -> QCoro::Task<std::optional<std::string>> {
        throw std::runtime_error("The folder chooser was confirmed without a folder.");
        co_return std::nullopt;
    };
    LinuxSaveFolderAuthority failing(harness.log, {}, sdk);
    expectUnusable([&] { waitForTask(failing.chooseSaveFolder(std::nullopt)); },
                   "save folder selection or bookmark creation failed");
    EXPECT_EQ(harness.messages->messages().back(),
              "save_folder_selection_failed error=The folder chooser was confirmed without a folder.");

    auto relative = harness.live("/home/recorder", "relative/folder");
    expectUnusable([&] { waitForTask(relative->chooseSaveFolder(std::nullopt)); },
                   "save folder selection or bookmark creation failed");
    EXPECT_EQ(harness.messages->messages().back().rfind("save_folder_selection_failed error=", 0), 0u);
}

TEST(LinuxSaveFolderAuthority, AFailureWithoutTextIsStillAFailureAndARelativeChoiceIsRefused) {
    Harness harness;
    auto sdk = SaveFolderSDK::live();
    sdk.chooseDirectory = [](std::string) -> QCoro::Task<std::optional<std::string>> { co_return "/tmp/out"; };
    sdk.createBookmark = [](const std::string&) -> yux::json::Bytes { throw std::runtime_error(""); };
    LinuxSaveFolderAuthority silent(harness.log, {}, sdk);
    expectUnusable([&] { waitForTask(silent.chooseSaveFolder(std::nullopt)); },
                   "save folder selection or bookmark creation failed");
    EXPECT_EQ(harness.messages->messages().back(), "save_folder_selection_failed error=");

    // Even a chooser that would bookmark anything never hands out a folder relative to the
    // working directory.
    auto relative = LinuxSaveFolderAuthority::create_null(harness.log, {}, "Videos/Yux");
    expectUnusable([&] { waitForTask(relative->chooseSaveFolder(std::nullopt)); },
                   "save folder selection or bookmark creation failed");
}

TEST(LinuxSaveFolderAuthority, AccessOpensOnceForEachStartAndClosesOnceForEachStop) {
    TemporaryDirectory folder;
    Harness harness;
    auto authority = harness.live("/home/recorder", folder.path().string());
    auto chosen = waitForTask(authority->chooseSaveFolder(std::nullopt)).selectedFolder;
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->bookmarkData, bookmarkOf(folder.path().string()).bookmarkData);

    auto first = waitForTask(authority->startAccessing(*chosen));
    auto second = waitForTask(authority->startAccessing(*chosen));
    EXPECT_NE(first.sessionID, second.sessionID);
    EXPECT_EQ(authority->openAccessCount(), 2u);
    auto before = harness.messages->messages().size();
    waitForTask(authority->stopAccessing(first));
    waitForTask(authority->stopAccessing(first));
    EXPECT_EQ(harness.messages->messages().size(), before + 1);
    EXPECT_EQ(harness.messages->messages().back(), "save_folder_access_stopped path=" + folder.path().string());
    waitForTask(authority->stopAccessing(second));
    EXPECT_EQ(authority->openAccessCount(), 0u);
}

TEST(LinuxSaveFolderAuthority, AFolderRenamedAfterChoosingIsUnusable) {
    TemporaryDirectory folder;
    auto original = folder.path() / "Recordings";
    std::filesystem::create_directories(original);
    Harness harness;
    auto authority = harness.live("/home/recorder", original.string());
    auto chosen = *waitForTask(authority->chooseSaveFolder(std::nullopt)).selectedFolder;
    std::filesystem::rename(original, folder.path() / "Renamed");

    expectUnusable([&] { waitForTask(authority->startAccessing(chosen)); },
                   "save folder bookmark resolution failed for " + original.string());
    EXPECT_EQ(authority->openAccessCount(), 0u);
}

TEST(LinuxSaveFolderAuthority, TheBookmarkMustNameTheSameFolderAsItsPathThroughLinksToo) {
    TemporaryDirectory folder;
    auto real = folder.path() / "real";
    auto other = folder.path() / "other";
    std::filesystem::create_directories(real);
    std::filesystem::create_directories(other);
    std::filesystem::create_directory_symlink(real, folder.path() / "link");
    Harness harness;
    auto authority = harness.live("/home/recorder", std::nullopt);

    SaveFolderBookmark throughLink{(folder.path() / "link").string(), bookmarkOf(real.string()).bookmarkData};
    EXPECT_NO_THROW(waitForTask(authority->startAccessing(throughLink)));

    SaveFolderBookmark mismatched{real.string(), bookmarkOf(other.string()).bookmarkData};
    expectUnusable([&] { waitForTask(authority->startAccessing(mismatched)); },
                   "save folder bookmark resolved to unexpected path " + other.string());
}

TEST(LinuxSaveFolderAuthority, AccessRefusedLeavesNothingOpen) {
    TemporaryDirectory folder;
    Harness harness;
    auto sdk = SaveFolderSDK::live();
    sdk.startAccess = [](const std::string&) { return false; };  // as for a folder we may not write
    LinuxSaveFolderAuthority authority(harness.log, {}, sdk);
    expectUnusable([&] { waitForTask(authority.startAccessing(bookmarkOf(folder.path().string()))); },
                   "save folder access was not granted for " + folder.path().string());
    EXPECT_EQ(authority.openAccessCount(), 0u);
    EXPECT_TRUE(harness.messages->messages().empty());

    EXPECT_TRUE(SaveFolderSDK::live().startAccess(folder.path().string()));
    EXPECT_FALSE(SaveFolderSDK::live().startAccess(folder.file("missing")));
}
