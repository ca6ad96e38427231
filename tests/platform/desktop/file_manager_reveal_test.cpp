#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/desktop/file_manager_reveal.hpp"
#include "support/private_bus.hpp"
#include "support/temporary_directory.hpp"

using namespace yux::platform;
using yux::testing::FakeFileManager;
using yux::testing::PrivateBus;
using Request = FileManagerReveal::Request;

namespace {

bool runUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (done()) return true;
        if (timer.elapsed() >= milliseconds) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

}  // namespace

TEST(FileManagerReveal, NullRecordsTheFileUriAndTheFolderFallback) {
    auto answering = FileManagerReveal::create_null();
    auto requests = answering->track_requests();
    answering->reveal("/home/u/My Videos/a b#1.mov");
    EXPECT_EQ(requests.data(), (std::vector<Request>{{Request::Kind::showItems, "file:///home/u/My%20Videos/a%20b%231.mov"}}));

    auto silent = FileManagerReveal::create_null(false);
    auto fallback = silent->track_requests();
    silent->reveal("/home/u/My Videos/a b#1.mov");
    EXPECT_EQ(fallback.data(), (std::vector<Request>{{Request::Kind::showItems, "file:///home/u/My%20Videos/a%20b%231.mov"},
                                                      {Request::Kind::openFolder, "/home/u/My Videos"}}));
}

TEST(FileManagerReveal, OnlyAFolderThatNeitherWayOpensIsReportedWithItsPath) {
    struct Case {
        bool fileManagerAnswers;
        bool folderOpens;
        std::vector<std::string> failures;
    };
    const Case cases[] = {
        {true, true, {}},
        {true, false, {}},
        {false, true, {}},
        {false, false, {"/home/u/My Videos"}},
    };
    for (const Case& c : cases) {
        auto reveal = FileManagerReveal::create_null(c.fileManagerAnswers, c.folderOpens);
        std::vector<std::string> failures;
        reveal->reveal("/home/u/My Videos/a.mov", [&](const std::string& folder) { failures.push_back(folder); });
        EXPECT_EQ(failures, c.failures) << c.fileManagerAnswers << c.folderOpens;
        // A caller that does not listen is fine too.
        reveal->reveal("/home/u/My Videos/a.mov");
    }
    EXPECT_EQ(FileManagerReveal::failureMessage("/home/u/My Videos"), "Could not open the folder /home/u/My Videos.");
}

TEST(FileManagerRevealDesktop, AFolderOpenerThatFailsOrIsMissingIsReported) {
    yux::testing::TemporaryDirectory folder;
    auto script = [&](const std::string& name, const std::string& body) {
        const std::string path = folder.file(name);
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    };
    struct Case {
        std::string opener;
        bool fails;
    };
    // xdg-open's own exit statuses: 0 opened, 3 no program for it, 4 the program failed.
    const Case cases[] = {
        {script("opens.sh", "exit 0"), false},
        {script("no-program.sh", "exit 3"), true},
        {script("program-failed.sh", "exit 4"), true},
        {folder.file("missing-opener"), true},
    };
    auto noBus = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("none"));
    for (const Case& c : cases) {
        auto reveal = FileManagerReveal::create(noBus, QString::fromStdString(c.opener));
        std::optional<std::string> failed;
        reveal->reveal("/tmp/x/y.mov", [&](const std::string& where) { failed = where; });
        if (c.fails) {
            ASSERT_TRUE(runUntil([&] { return failed.has_value(); })) << c.opener;
            EXPECT_EQ(*failed, "/tmp/x");
        } else {
            // Long enough for the opener to have ended.
            runUntil([] { return false; }, 500);
            EXPECT_FALSE(failed) << c.opener;
        }
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}

TEST(FileManagerRevealDesktop, ReachesTheFileManagerOnTheBusElseOpensTheFolder) {
    yux::testing::TemporaryDirectory folder;
    PrivateBus bus(folder.path().string());
    ASSERT_TRUE(bus.isRunning()) << "dbus-daemon did not start";

    // The file manager on the bus.
    auto service = bus.connect(QStringLiteral("file-manager"));
    ASSERT_TRUE(service.isConnected());
    FakeFileManager fileManager;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));

    // A stand-in for xdg-open that writes down its arguments.
    std::string opener = folder.file("opener.sh");
    std::string openedLog = folder.file("opened.txt");
    {
        std::ofstream script(opener);
        script << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << openedLog << ".part' && mv '" << openedLog << ".part' '"
               << openedLog << "'\n";
    }
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);

    auto reveal = FileManagerReveal::create(bus.connect(QStringLiteral("client")), QString::fromStdString(opener));
    auto requests = reveal->track_requests();
    reveal->reveal("/home/u/Videos/Yux/take 1.mov");
    ASSERT_TRUE(runUntil([&] { return !fileManager.shown.isEmpty(); }));
    EXPECT_EQ(fileManager.shown, QStringList{QStringLiteral("file:///home/u/Videos/Yux/take%201.mov")});
    EXPECT_EQ(fileManager.startupId, QString());
    QCoreApplication::processEvents();
    EXPECT_EQ(requests.data().size(), 1u) << "no fallback when the file manager answers";
    EXPECT_FALSE(std::filesystem::exists(openedLog));

    // Without the service the folder opens instead.
    service.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    reveal->reveal("/home/u/Videos/Yux/take 2.mov");
    ASSERT_TRUE(runUntil([&] { return std::filesystem::exists(openedLog); }));
    std::ifstream opened(openedLog);
    std::string line;
    std::getline(opened, line);
    EXPECT_EQ(line, "/home/u/Videos/Yux");
    EXPECT_EQ(requests.data().back(), (Request{Request::Kind::openFolder, "/home/u/Videos/Yux"}));

    // No bus at all.
    std::filesystem::remove(openedLog);
    auto unconnected = FileManagerReveal::create(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                                               QStringLiteral("nowhere")),
                                                 QString::fromStdString(opener));
    unconnected->reveal("/tmp/x/y.mov");
    ASSERT_TRUE(runUntil([&] { return std::filesystem::exists(openedLog); }));
    QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
}

