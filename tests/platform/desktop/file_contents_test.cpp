#include "platform/desktop/file_contents.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "platform/desktop/json_nesting.hpp"
#include "support/temporary_directory.hpp"

using yux::platform::fileFailureCause;
using yux::platform::UnusableFileError;
using yux::testing::readWholeFile;
using yux::testing::TemporaryDirectory;
using yux::testing::writeWholeFile;
namespace fs = std::filesystem;

namespace {

// Names in the folder whose name starts with `prefix`.
std::vector<std::string> namesStartingWith(const fs::path& folder, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        auto name = entry.path().filename().string();
        if (name.starts_with(prefix)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(FileContents, ReadsOnlyRegularFilesOfBoundedSizeAndNeverBlocks) {
    TemporaryDirectory folder;
    auto fifo = folder.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto zero = folder.path() / "zero";
    fs::create_symlink("/dev/zero", zero);
    auto big = folder.path() / "big";
    writeWholeFile(big, std::string(1001, 'x'));
    // A FIFO without a writer would block a plain open for ever.
    EXPECT_THROW(yux::platform::readFileContents(fifo), UnusableFileError);
    EXPECT_THROW(yux::platform::readFileContents(zero), UnusableFileError);
    EXPECT_THROW(yux::platform::readFileContents(folder.path()), UnusableFileError);
    EXPECT_THROW(yux::platform::readFileContents(big, 1000), UnusableFileError);
    EXPECT_EQ(yux::platform::readFileContents(big, 1001).size(), 1001u);

    auto link = folder.path() / "link";
    fs::create_symlink(big, link);
    EXPECT_EQ(yux::platform::readFileContents(link).size(), 1001u);
    try {
        yux::platform::readFileContents(folder.path() / "missing");
        FAIL();
    } catch (const UnusableFileError&) {
        FAIL() << "a missing file is not a damaged one";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
    }
}

TEST(FileContents, AppendingNeverBlocksOnAFifoAndNeverCreatesAFile) {
    TemporaryDirectory folder;
    auto fifo = folder.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(yux::platform::appendToFile(fifo, "line\n"), std::system_error);
    // With a reader present the FIFO opens, but it is still no log file.
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_THROW(yux::platform::appendToFile(fifo, "line\n"), UnusableFileError);
    char buffer[16];
    EXPECT_LE(::read(reader, buffer, sizeof buffer), 0);
    ::close(reader);

    EXPECT_THROW(yux::platform::appendToFile(folder.path() / "missing", "x"), std::system_error);
    EXPECT_FALSE(fs::exists(folder.path() / "missing"));
}

TEST(FileContents, AtomicWritesGiveNewFilesTheUmaskModeAndLeaveTheUmaskAlone) {
    TemporaryDirectory folder;
    mode_t previous = ::umask(027);
    auto fresh = folder.path() / "fresh";
    yux::platform::writeFileAtomically(fresh, "a");
    mode_t during = ::umask(previous);
    EXPECT_EQ(during, 027u);

    struct stat info {};
    ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    ::chmod(fresh.c_str(), 0604);
    yux::platform::writeFileAtomically(fresh, "b");
    ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    yux::platform::writeFileAtomically(fresh, "c", 0600);
    ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(readWholeFile(fresh), "c");
    EXPECT_EQ(namesStartingWith(folder.path(), "."), std::vector<std::string>{});
}

TEST(FileContents, ADamagedFileIsMovedAsideAndALinkedOneCopiedOrRenamedAsTheLink) {
    TemporaryDirectory folder;
    auto file = folder.path() / "state.json";
    writeWholeFile(file, "first");
    auto aside = yux::platform::setAsideDamagedFile(file);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(readWholeFile(aside), "first");
    EXPECT_TRUE(aside.filename().string().starts_with("state.json.corrupt-2")) << aside;
    EXPECT_EQ(aside.parent_path(), folder.path());

    // A second one within the same second never replaces the first.
    writeWholeFile(file, "second");
    auto again = yux::platform::setAsideDamagedFile(file);
    EXPECT_NE(again, aside);
    EXPECT_EQ(readWholeFile(aside), "first");
    EXPECT_EQ(readWholeFile(again), "second");

    // A dotfiles link keeps pointing at its target, which now can take a fresh file.
    auto target = folder.path() / "dotfiles-state.json";
    writeWholeFile(target, "linked");
    fs::create_symlink(target, file);
    auto copied = yux::platform::setAsideDamagedFile(file);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(readWholeFile(copied), "linked");
    EXPECT_FALSE(fs::is_symlink(copied));
    EXPECT_EQ(yux::platform::followLinks(file), target);

    // Yux's own data files send the link aside instead: the target is neither read nor copied.
    fs::remove(copied);
    auto renamed = yux::platform::setAsideDamagedFile(file, yux::platform::DamagedLink::renameLink);
    EXPECT_FALSE(fs::exists(fs::symlink_status(file)));
    EXPECT_EQ(fs::read_symlink(renamed), target);
    EXPECT_EQ(readWholeFile(target), "linked");
    EXPECT_EQ(namesStartingWith(folder.path(), "state.json.corrupt-").size(), 3u);

    // A link to a device moves as the link itself.
    auto device = folder.path() / "device.json";
    fs::create_symlink("/dev/zero", device);
    auto moved = yux::platform::setAsideDamagedFile(device);
    EXPECT_FALSE(fs::exists(fs::symlink_status(device)));
    EXPECT_EQ(fs::read_symlink(moved), "/dev/zero");

    EXPECT_EQ(yux::platform::damagedFileName("preferences.json", 1769850307),
              "preferences.json.corrupt-20260131T090507Z");
}

// A whole file gets its name by whatever the file system offers, and never over a taken one:
// answers true when placed, false when the name was taken, or throws the errno.
TEST(FileContents, AFileIsPlacedUnderItsNameWithoutEverReplacingOne) {
    struct Case {
        int rename, link, copy;
        std::optional<bool> placed;  // none: throws
        std::string calls;
    };
    const Case cases[] = {
        {0, -1, -1, true, "rename"},
        {EEXIST, -1, -1, false, "rename"},
        {EACCES, -1, -1, std::nullopt, "rename"},
        // No RENAME_NOREPLACE on this file system: a hard link, and the temporary name goes.
        {EINVAL, 0, -1, true, "rename link unlink"},
        {ENOSYS, EEXIST, -1, false, "rename link"},
        {EINVAL, ENOSPC, -1, std::nullopt, "rename link"},
        // Neither: a copy into a name created exclusively.
        {EINVAL, EPERM, 0, true, "rename link copy unlink"},
        {EINVAL, EOPNOTSUPP, EEXIST, false, "rename link copy"},
        {EINVAL, EPERM, ENOSPC, std::nullopt, "rename link copy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.calls + " " + std::to_string(c.rename) + " " + std::to_string(c.link));
        std::string calls;
        auto step = [&](const char* name, int answer) {
            calls += calls.empty() ? name : std::string(" ") + name;
            return answer;
        };
        yux::platform::NoReplaceOperations operations{
            .renameNoReplace = [&](const fs::path&, const fs::path&) { return step("rename", c.rename); },
            .link = [&](const fs::path&, const fs::path&) { return step("link", c.link); },
            .unlink = [&](const fs::path&) { return step("unlink", 0); },
            .copyExclusive = [&](const fs::path&, const fs::path&) { return step("copy", c.copy); },
        };
        std::optional<bool> placed;
        try {
            placed = yux::platform::placeWithoutReplacing("/a/.tmp", "/a/movie.mov", operations);
        } catch (const std::system_error&) {
        }
        EXPECT_EQ(placed, c.placed);
        EXPECT_EQ(calls, c.calls);
    }

    // On this disk, each of the three ways: a taken name keeps its file.
    TemporaryDirectory folder;
    const auto live = yux::platform::NoReplaceOperations::live();
    auto unsupported = [](const fs::path&, const fs::path&) { return EINVAL; };
    const std::vector<yux::platform::NoReplaceOperations> ways = {
        live,
        {.renameNoReplace = unsupported, .link = live.link, .unlink = live.unlink, .copyExclusive = live.copyExclusive},
        {.renameNoReplace = unsupported, .link = unsupported, .unlink = live.unlink, .copyExclusive = live.copyExclusive},
    };
    int n = 0;
    for (const auto& way : ways) {
        const auto from = folder.path() / (".tmp" + std::to_string(n));
        const auto free = folder.path() / ("free" + std::to_string(n));
        const auto taken = folder.path() / ("taken" + std::to_string(n++));
        writeWholeFile(taken, "theirs");
        writeWholeFile(from, "movie");
        EXPECT_FALSE(yux::platform::placeWithoutReplacing(from, taken, way));
        EXPECT_EQ(readWholeFile(taken), "theirs");
        EXPECT_TRUE(yux::platform::placeWithoutReplacing(from, free, way));
        EXPECT_EQ(readWholeFile(free), "movie");
        EXPECT_FALSE(fs::exists(from));
    }

    // A copy cut short partway (the file-size limit fails its writes as a full disk would):
    // nothing stays under the name, and the file stays under its own.
    const auto big = folder.path() / ".big";
    const auto cut = folder.path() / "cut.mov";
    constexpr std::size_t kBigBytes = 3 << 20;
    writeWholeFile(big, std::string(kBigBytes, 'm'));
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit limited = before;
    limited.rlim_cur = kBigBytes / 2;  // past the copy's first chunk
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::optional<int> failure;
    try {
        yux::platform::placeWithoutReplacing(big, cut, ways[2]);
    } catch (const std::system_error& error) {
        failure = error.code().value();
    }
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(failure, EFBIG);
    EXPECT_FALSE(fs::exists(cut));
    EXPECT_EQ(fs::file_size(big), kBigBytes);
}

TEST(FileContents, FailureCausesInPlainWords) {
    const std::vector<std::pair<int, std::string>> cases = {
        {EACCES, "permission is denied"},          {EPERM, "permission is denied"},
        {ENOSPC, "the disk is full"},              {EDQUOT, "the disk is full"},
        {ENOENT, "a parent folder is missing"},    {ENOTDIR, "a file of that name is in the way"},
        {EISDIR, "a file of that name is in the way"}, {EROFS, "the disk is read-only"},
        {ENAMETOOLONG, "file name too long"},
    };
    for (const auto& [error, cause] : cases) EXPECT_EQ(fileFailureCause(error), cause) << error;
}

TEST(JsonNesting, CountsOnlyBracketsOutsideStrings) {
    using yux::platform::jsonTextNestsDeeperThan;
    EXPECT_FALSE(jsonTextNestsDeeperThan("[[1]]", 2));
    EXPECT_TRUE(jsonTextNestsDeeperThan("[[[1]]]", 2));
    EXPECT_TRUE(jsonTextNestsDeeperThan("{\"a\":[{\"b\":1}]}", 2));
    EXPECT_FALSE(jsonTextNestsDeeperThan(R"(["[[[[", "\"[[[["])", 2));
    EXPECT_FALSE(jsonTextNestsDeeperThan("[1][2][3]", 1));
    EXPECT_TRUE(jsonTextNestsDeeperThan(std::string(100000, '['), 64));
    EXPECT_FALSE(jsonTextNestsDeeperThan(std::string(64, '[') + std::string(64, ']')));

    nlohmann::json value = 1;
    for (int i = 0; i < 64; ++i) value = nlohmann::json::array({value});
    EXPECT_FALSE(yux::platform::jsonValueNestsDeeperThan(value));
    value = nlohmann::json::object({{"k", value}});
    EXPECT_TRUE(yux::platform::jsonValueNestsDeeperThan(value));
    EXPECT_FALSE(yux::platform::jsonValueNestsDeeperThan(nlohmann::json("text"), 0));
}
