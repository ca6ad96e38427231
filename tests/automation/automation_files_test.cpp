#include "automation/automation_files.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "support/temporary_directory.hpp"

using namespace yux::automation;

namespace {

void writeText(const std::filesystem::path& path, const std::string& text) { std::ofstream(path) << text; }

}  // namespace

TEST(AutomationFilesTest, FoldersAreMadeWithEveryParentPrivately) {
    yux::testing::TemporaryDirectory folder;
    auto files = AutomationFiles::create();
    const auto commands = folder.path() / "Yux/Automation/v1/production/commands";
    files.operations().makeDirectories(commands);
    files.operations().makeDirectories(commands);  // an existing folder is no error
    struct stat info {};
    ASSERT_EQ(::stat((folder.path() / "Yux").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(commands.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    writeText(folder.path() / "plain", "x");
    EXPECT_THROW(files.operations().makeDirectories(folder.path() / "plain"), std::system_error);
}

TEST(AutomationFilesTest, TheClaimNeverReplacesAnEntry) {
    yux::testing::TemporaryDirectory folder;
    auto files = AutomationFiles::create();
    writeText(folder.path() / "a.json", "new");
    writeText(folder.path() / "a.json.processing", "old");
    EXPECT_THROW(files.operations().claim(folder.path() / "a.json", folder.path() / "a.json.processing"),
                 std::system_error);
    EXPECT_EQ(files.operations().read(folder.path() / "a.json.processing"), "old");
    EXPECT_EQ(files.operations().read(folder.path() / "a.json"), "new");

    files.operations().remove(folder.path() / "a.json.processing");
    files.operations().claim(folder.path() / "a.json", folder.path() / "a.json.processing");
    EXPECT_EQ(files.operations().read(folder.path() / "a.json.processing"), "new");
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "a.json"));
}

TEST(AutomationFilesTest, OnlySmallRegularFilesAreRead) {
    yux::testing::TemporaryDirectory folder;
    auto files = AutomationFiles::create();
    const auto& read = files.operations().read;

    writeText(folder.path() / "exact", std::string(kMaxCommandFileBytes, ' '));
    EXPECT_EQ(read(folder.path() / "exact").size(), kMaxCommandFileBytes);
    writeText(folder.path() / "huge", std::string(kMaxCommandFileBytes + 1, ' '));
    EXPECT_THROW(read(folder.path() / "huge"), NotACommandFileError);

    ASSERT_EQ(::mkfifo((folder.path() / "fifo").c_str(), 0600), 0);
    EXPECT_THROW(read(folder.path() / "fifo"), NotACommandFileError);  // and does not block

    std::filesystem::create_symlink("/dev/zero", folder.path() / "zero");
    EXPECT_THROW(read(folder.path() / "zero"), NotACommandFileError);
    std::filesystem::create_symlink(folder.path() / "exact", folder.path() / "link");
    EXPECT_THROW(read(folder.path() / "link"), NotACommandFileError);

    std::filesystem::create_directory(folder.path() / "dir");
    writeText(folder.path() / "dir/inside", "keep");
    EXPECT_THROW(read(folder.path() / "dir"), NotACommandFileError);
    EXPECT_TRUE(files.operations().isDirectory(folder.path() / "dir"));
    files.operations().remove(folder.path() / "dir");
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "dir/inside"));

    EXPECT_THROW(read(folder.path() / "missing"), std::system_error);
}

TEST(AutomationFilesTest, AnswersAreWrittenWholeBesideTheirName) {
    yux::testing::TemporaryDirectory folder;
    auto files = AutomationFiles::create();
    files.operations().writeAtomically(folder.path() / "A.json", "one");
    files.operations().writeAtomically(folder.path() / "A.json", "two");
    EXPECT_EQ(files.operations().list(folder.path()), std::vector<std::string>{"A.json"});
    EXPECT_EQ(files.operations().read(folder.path() / "A.json"), "two");
}
