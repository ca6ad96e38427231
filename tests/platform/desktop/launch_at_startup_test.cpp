#include "platform/desktop/launch_at_startup.hpp"

#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>


#include "platform/desktop/app_locations.hpp"
#include "platform/desktop/file_contents.hpp"
#include "support/temporary_directory.hpp"

using namespace yux::platform;
using yux::testing::TemporaryDirectory;

namespace {

// Undoes the entry's escapes the way a desktop reads the Exec key back.
std::string execPathOf(const std::string& text) {
    const auto start = text.find("\nExec=") + 6;
    std::string value = text.substr(start, text.find('\n', start) - start);
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == '\\') ++i;
        else if (value[i] == '%' && i + 1 < value.size() && value[i + 1] == '%') ++i;
        unescaped += value[i];
    }
    EXPECT_EQ(unescaped.front(), '"');
    EXPECT_EQ(unescaped.back(), '"');
    std::string path;
    for (std::size_t i = 1; i + 1 < unescaped.size(); ++i) {
        if (unescaped[i] == '\\') ++i;
        path += unescaped[i];
    }
    return path;
}

class TemporaryConfigHome {
public:
    TemporaryConfigHome() : old_(qgetenv("XDG_CONFIG_HOME")) {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(folder_.path().string()));
    }
    ~TemporaryConfigHome() { qputenv("XDG_CONFIG_HOME", old_); }
    std::filesystem::path autostartFolder() const {
        return AppLocations::forCurrentUser().configDirectory.parent_path() / "autostart";
    }

private:
    TemporaryDirectory folder_;
    QByteArray old_;
};

}  // namespace

TEST(AutostartEntry, SwitchingOnWritesAnEntryThatReadsBackAndOffRemovesIt) {
    TemporaryConfigHome home;
    const std::string executable = "/opt/my apps/50% \"off\"/$HOME/`x`\\yux";
    auto entry = AutostartEntry::create(home.autostartFolder(), executable);
    LaunchAtStartup login(entry, SystemLog::create_null());

    QCoro::waitFor(login.toggle());
    const auto file = home.autostartFolder() / AutostartEntry::kFileName;
    ASSERT_TRUE(std::filesystem::exists(file));
    const std::string text = readFileContents(file);
    EXPECT_EQ(text.rfind("[Desktop Entry]\nType=Application\nName=Yux\n", 0), 0u);
    EXPECT_NE(text.find("\nX-GNOME-Autostart-enabled=true\n"), std::string::npos);
    EXPECT_EQ(execPathOf(text), executable);
    EXPECT_TRUE(login.enabled());
    EXPECT_FALSE(login.requiresApproval());

    QCoro::waitFor(login.toggle());
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(login.enabled());
    EXPECT_FALSE(login.errorMessage());
}

TEST(AutostartEntry, HiddenSwitchedOffBrokenOrMissingEntriesReadOff) {
    TemporaryConfigHome home;
    std::filesystem::create_directories(home.autostartFolder());
    const auto file = home.autostartFolder() / AutostartEntry::kFileName;
    auto entry = AutostartEntry::create(home.autostartFolder(), "/usr/bin/yux");
    const std::string base = "[Desktop Entry]\nType=Application\nName=Yux\nExec=\"/usr/bin/yux\"\n";

    EXPECT_EQ(entry->status(), AutostartEntry::Status::notRegistered);
    writeFileAtomically(file, base);
    EXPECT_EQ(entry->status(), AutostartEntry::Status::enabled);
    writeFileAtomically(file, base + "Hidden=true\n");
    EXPECT_EQ(entry->status(), AutostartEntry::Status::notRegistered);
    writeFileAtomically(file, base + "X-GNOME-Autostart-enabled=false\n");
    EXPECT_EQ(entry->status(), AutostartEntry::Status::notRegistered);
    writeFileAtomically(file, "Exec=yux\n");
    EXPECT_EQ(entry->status(), AutostartEntry::Status::notRegistered);
    // A switch in another group is not ours.
    writeFileAtomically(file, base + "[Desktop Action x]\nHidden=true\n");
    EXPECT_EQ(entry->status(), AutostartEntry::Status::enabled);
}

TEST(AutostartEntry, PathsThatCannotBeRegistered) {
    TemporaryConfigHome home;
    auto lineBreak = AutostartEntry::create(home.autostartFolder(), "/opt/a\nb/yux");
    EXPECT_THROW(lineBreak->registerEntry(), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(home.autostartFolder() / AutostartEntry::kFileName));

    auto unknown = AutostartEntry::create(home.autostartFolder(), "");
    EXPECT_EQ(unknown->status(), AutostartEntry::Status::notFound);
    LaunchAtStartup login(unknown, SystemLog::create_null());
    QCoro::waitFor(login.toggle());
    EXPECT_TRUE(login.errorMessage());
    EXPECT_FALSE(login.enabled());
}

TEST(LaunchAtStartup, StartsSwitchedOffUntilRefreshedAndNotifiesOnlyRealChanges) {
    LaunchAtStartup login(AutostartEntry::create_null({.status = AutostartEntry::Status::enabled}),
                          SystemLog::create_null());
    int enabled = 0;
    QObject::connect(&login, &LaunchAtStartup::enabledChanged, [&] { ++enabled; });
    EXPECT_FALSE(login.enabled());
    login.refresh();
    login.refresh();
    EXPECT_TRUE(login.enabled());
    EXPECT_EQ(enabled, 1);
}

TEST(LaunchAtStartup, AFailingSwitchShowsItsSentenceLogsOneLineAndEndsTheChange) {
    auto log = SystemLog::create_null();
    auto lines = log.track_lines();
    LaunchAtStartup login(AutostartEntry::create_null({.registerError = "Could not write the login entry: Permission denied."}),
                          log);
    QCoro::waitFor(login.toggle());
    EXPECT_EQ(login.errorMessage(), "Could not write the login entry: Permission denied.");
    ASSERT_EQ(lines.data().size(), 1u);
    EXPECT_EQ(lines.data()[0].message, "LaunchAtStartup: Could not write the login entry: Permission denied.");
    EXPECT_FALSE(login.isChanging());
    EXPECT_FALSE(login.enabled());
}

TEST(LaunchAtStartup, ASecondToggleWhileTheRemovalWaitsMakesNoCallAndTheNextToggleClearsTheError) {
    auto entry = AutostartEntry::create_null(
        {.status = AutostartEntry::Status::enabled, .unregisterError = "Could not remove the login entry."});
    auto calls = entry->track_calls();
    LaunchAtStartup login(entry, SystemLog::create_null());
    login.refresh();

    auto first = login.toggle();
    EXPECT_TRUE(login.isChanging());
    QCoro::waitFor(login.toggle());
    QCoro::waitFor(std::move(first));
    EXPECT_EQ(calls.data(), std::vector<AutostartEntry::Call>{AutostartEntry::Call::unregisterEntry});
    EXPECT_EQ(login.errorMessage(), "Could not remove the login entry.");
    EXPECT_TRUE(login.enabled());

    int errors = 0;
    QObject::connect(&login, &LaunchAtStartup::errorMessageChanged, [&] { ++errors; });
    auto second = login.toggle();
    EXPECT_FALSE(login.errorMessage());  // cleared before the removal answers
    QCoro::waitFor(std::move(second));
    EXPECT_EQ(errors, 2);  // cleared, then the same failure again
}

TEST(LaunchAtStartup, ARegistrationWaitingForApprovalCountsAsOnForTheToggle) {
    auto entry = AutostartEntry::create_null({.statusAfterRegister = AutostartEntry::Status::requiresApproval});
    auto calls = entry->track_calls();
    LaunchAtStartup login(entry, SystemLog::create_null());
    QCoro::waitFor(login.toggle());
    EXPECT_FALSE(login.enabled());
    EXPECT_TRUE(login.requiresApproval());
    QCoro::waitFor(login.toggle());
    EXPECT_EQ(calls.data(), (std::vector<AutostartEntry::Call>{AutostartEntry::Call::registerEntry,
                                                              AutostartEntry::Call::unregisterEntry}));
    EXPECT_FALSE(login.requiresApproval());
}

TEST(AutostartEntry, AnEntryThatIsOnButStartsAnotherProgramIsPointedAtThisOneAtStart) {
    const std::string self = "/home/u/.local/bin/yux";
    const std::string extra = "X-GNOME-Autostart-Delay=5\nComment=mine\n";
    struct Case {
        const char* name;
        std::optional<std::string> text;  // none: no entry
        std::optional<std::string> before;
        bool rewritten;
    };
    const Case cases[] = {
        {"a build tree's program", "[Desktop Entry]\nType=Application\nName=Yux\nExec=\"/src/yux/build/src/shell/yux\"\n" + extra,
         "/src/yux/build/src/shell/yux", true},
        {"a plain path with arguments", "[Desktop Entry]\nExec=/opt/old/yux --quiet\n" + extra, "/opt/old/yux", true},
        {"no Exec at all", "[Desktop Entry]\nType=Application\n" + extra, "", true},
        {"this program, quoted", "[Desktop Entry]\nExec=\"" + self + "\"\n" + extra, std::nullopt, false},
        {"this program, plain", "[Desktop Entry]\nExec=" + self + " %u\n" + extra, std::nullopt, false},
        {"switched off", "[Desktop Entry]\nExec=/elsewhere/yux\nHidden=true\n", std::nullopt, false},
        {"not an entry", "Exec=/elsewhere/yux\n", std::nullopt, false},
        {"missing", std::nullopt, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryConfigHome home;
        const auto file = home.autostartFolder() / AutostartEntry::kFileName;
        if (c.text) {
            std::filesystem::create_directories(home.autostartFolder());
            writeFileAtomically(file, *c.text);
        }
        auto log = SystemLog::create_null();
        auto lines = log.track_lines();
        LaunchAtStartup login(AutostartEntry::create(home.autostartFolder(), self), log);
        login.repointEntry();
        if (!c.text) {
            EXPECT_FALSE(std::filesystem::exists(file)) << "nothing is created";
            EXPECT_TRUE(lines.data().empty());
            continue;
        }
        const std::string after = readFileContents(file);
        if (!c.rewritten) {
            EXPECT_EQ(after, *c.text);
            EXPECT_TRUE(lines.data().empty());
            continue;
        }
        EXPECT_EQ(AutostartEntry::execProgram(after), self);
        EXPECT_EQ(execPathOf(after), self);
        EXPECT_NE(after.find(extra), std::string::npos) << "the other keys stay: " << after;
        ASSERT_EQ(lines.data().size(), 1u);
        EXPECT_EQ(lines.data()[0].message, "launch_at_startup_repointed from=" + *c.before);
        EXPECT_EQ(AutostartEntry::create(home.autostartFolder(), self)->status(), AutostartEntry::Status::enabled);
    }
}

TEST(AutostartEntry, TheProgramReadBackFromAnEntryUndoesItsQuotingAndEscapes) {
    for (const std::string path : {"/opt/my apps/50% \"off\"/$HOME/`x`\\yux", "/usr/bin/yux", "/a b/c"}) {
        EXPECT_EQ(AutostartEntry::execProgram(AutostartEntry::entryText(path)), path);
    }
    EXPECT_EQ(AutostartEntry::execProgram("[Desktop Entry]\nExec=\"/a\\sb/yux\" --x\n"), "/a b/yux");
    EXPECT_EQ(AutostartEntry::execProgram("[Desktop Entry]\nExec=/a\\sb/yux\n"), "/a") << "a blank parts arguments";
    EXPECT_EQ(AutostartEntry::execProgram("[Desktop Entry]\n[Desktop Action x]\nExec=/other\n"), std::nullopt);
}
