#include "platform/updates/feed_updater.hpp"

#include <gtest/gtest.h>
#include <sodium.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkProxyFactory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "platform/desktop/file_contents.hpp"
#include "platform/updates/app_update_controller.hpp"
#include "platform/updates/update_feed.hpp"
#include "support/temporary_directory.hpp"

using namespace yux::platform;
using yux::testing::TemporaryDirectory;
using Outcome = AppUpdateController::CheckOutcome;

namespace {

// A tiny HTTP server on 127.0.0.1: each path answers with a scripted response, or never.
class LocalServer {
public:
    struct Response {
        int status = 200;
        QByteArray body;
        QByteArray location;  // for redirects
        bool stall = false;
        // Sent in pieces this big, one every `pieceInterval`, after a header declaring the whole body.
        int pieceBytes = 0;
        std::chrono::milliseconds pieceInterval{10};
        // Pieces sent before the server falls silent; all of them when negative.
        int piecesBeforeStall = -1;
    };

    LocalServer() {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost));
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (auto* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(*socket); });
            }
        });
    }

    void route(const QByteArray& path, Response response) { routes_[path] = std::move(response); }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + path;
    }
    int requests() const { return requests_; }

private:
    void answer(QTcpSocket& socket) {
        auto& pending = buffers_[&socket];
        pending += socket.readAll();
        if (!pending.contains("\r\n\r\n")) return;
        ++requests_;
        const QByteArray path = pending.split(' ').value(1);
        pending.clear();
        const auto found = routes_.find(path);
        if (found == routes_.end()) {
            socket.write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        const Response& response = found->second;
        if (response.stall) return;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " X\r\n";
        if (!response.location.isEmpty()) head += "Location: " + response.location + "\r\n";
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n\r\n";
        if (response.pieceBytes <= 0) {
            socket.write(head + response.body);
            socket.disconnectFromHost();
            return;
        }
        socket.write(head);
        auto* timer = new QTimer(&socket);
        QObject::connect(timer, &QTimer::timeout, &socket, [&socket, timer, response, sent = 0, pieces = 0]() mutable {
            if (sent >= response.body.size()) {
                timer->stop();
                socket.disconnectFromHost();
                return;
            }
            if (response.piecesBeforeStall >= 0 && pieces >= response.piecesBeforeStall) return;
            socket.write(response.body.mid(sent, response.pieceBytes));
            sent += response.pieceBytes;
            ++pieces;
        });
        timer->start(response.pieceInterval);
    }

    QTcpServer server_;
    std::map<QByteArray, Response> routes_;
    std::map<QTcpSocket*, QByteArray> buffers_;
    int requests_ = 0;
};

struct KeyPair {
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    KeyPair() {
        EXPECT_GE(sodium_init(), 0);
        crypto_sign_keypair(publicKey, secretKey);
    }
    static std::string base64(const unsigned char* bytes, std::size_t size) {
        std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
        sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
        text.resize(text.size() - 1);
        return text;
    }
    std::string publicBase64() const { return base64(publicKey, sizeof publicKey); }
    std::string sign(const QByteArray& data) const {
        unsigned char signature[crypto_sign_BYTES];
        crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(data.constData()),
                             static_cast<unsigned long long>(data.size()), secretKey);
        return base64(signature, sizeof signature);
    }
};

QByteArray feedWith(const std::string& items) {
    return QByteArray::fromStdString(R"(<?xml version="1.0"?><rss version="2.0" xmlns:yux="urn:yux:updates:1"><channel>)" +
                                     items + "</channel></rss>");
}

std::string itemFor(const std::string& version, const std::string& url, qint64 length, const std::string& signature) {
    return "<item><title>Yux " + version + "</title><yux:version>" + version + "</yux:version>" +
           "<yux:shortVersionString>" + version + "</yux:shortVersionString>" + "<enclosure url=\"" + url +
           "\" length=\"" + std::to_string(length) + "\" yux:edSignature=\"" + signature + "\"/></item>";
}

// The real updater and controller, with the feed on the local server.
struct Fixture {
    TemporaryDirectory folder;
    LocalServer server;
    KeyPair keys;
    std::shared_ptr<UpdateUserDriver> driver = UpdateUserDriver::create_null();
    std::shared_ptr<PreferencesFile> preferences =
        std::make_shared<PreferencesFile>(folder.path() / "preferences.json", SystemLog::create_null());
    std::vector<std::filesystem::path> revealed;
    std::unique_ptr<AppUpdateController> controller;
    std::filesystem::path downloads = folder.path() / "Updates";

    // The download's clock: each reading moves it on by `clockStep`.
    std::chrono::steady_clock::time_point clock{};
    std::chrono::milliseconds clockStep{0};

    explicit Fixture(std::chrono::milliseconds timeout = FeedUpdater::kDefaultTimeout) {
        // The test's traffic never leaves this machine, whatever proxy the environment names.
        QNetworkProxyFactory::setUseSystemConfiguration(false);
        auto bundle = BundleInfo::create_null({{BundleInfo::kVersionKey, QStringLiteral("1.2")},
                                               {BundleInfo::kFeedURLKey, QString::fromStdString(server.url("/feed.xml"))},
                                               {BundleInfo::kPublicEDKeyKey, QString::fromStdString(keys.publicBase64())}});
        FeedUpdater::Options options;
        options.preferences = preferences;
        options.downloadFolder = downloads;
        options.userDriver = driver;
        options.reveal = [this](const std::filesystem::path& path) { revealed.push_back(path); };
        options.timeout = timeout;
        options.monotonicNow = [this] { return clock += clockStep; };
        options.log = SystemLog::create_null();
        controller = AppUpdateController::create(std::move(bundle), std::move(options));
        controller->start();
    }

    // Runs the event loop until the running check or download ends: its own time limit ends
    // it, so the loop's limit, well past that, is only a hang's.
    void settle() {
        QElapsedTimer clock;
        clock.start();
        QCoreApplication::processEvents();
        while (!controller->canCheckForUpdates() && clock.elapsed() < 120'000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    void check() {
        controller->checkForUpdates();
        settle();
    }
    // Serves a signed release and its feed, and asks for the download.
    void offer(const QByteArray& release, LocalServer::Response response) {
        response.body = release;
        server.route("/yux.tar.gz", response);
        server.route("/feed.xml", {200, feedWith(itemFor("2.0", server.url("/yux.tar.gz"), release.size(),
                                                         keys.sign(release)))});
        check();
        driver->simulate_download();
    }
    std::uintmax_t downloadedBytes() const {
        std::uintmax_t total = 0;
        if (std::filesystem::exists(downloads))
            for (const auto& entry : std::filesystem::directory_iterator(downloads)) total += entry.file_size();
        return total;
    }
    std::size_t filesInDownloads() const {
        if (!std::filesystem::exists(downloads)) return 0;
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(downloads), {}));
    }
    // A download that ended with `failure` shows nothing and leaves nothing behind.
    void expectDownloadFailed(const std::string& failure) {
        EXPECT_EQ(controller->checkOutcome(), (Outcome{Outcome::Kind::failed, failure}));
        EXPECT_TRUE(revealed.empty());
        EXPECT_EQ(filesInDownloads(), 0u);
    }
};

}  // namespace

TEST(FeedUpdater, FindsAnUpdateAndKeepsTheDownloadWhenItsSignatureHolds) {
    Fixture fixture;
    const QByteArray release("release archive bytes");
    fixture.server.route("/yux-2.0.tar.gz", {200, release});
    fixture.server.route("/feed.xml", {200, feedWith(itemFor("1.1", fixture.server.url("/old"), 3, "x") +
                                                       itemFor("2.0", fixture.server.url("/yux-2.0.tar.gz"),
                                                               release.size(), fixture.keys.sign(release)))});
    fixture.check();
    EXPECT_EQ(fixture.controller->checkOutcome().kind, Outcome::Kind::available);
    EXPECT_TRUE(fixture.controller->updateAvailable());
    EXPECT_EQ(fixture.controller->availableVersion(), "2.0");
    EXPECT_TRUE(fixture.controller->lastCheckedAt());
    EXPECT_TRUE(fixture.preferences->read(FeedUpdater::kLastCheckKey));
    auto events = fixture.driver->track_events();

    // A check while the update waits shows it again without asking the server.
    const int requests = fixture.server.requests();
    fixture.check();
    EXPECT_EQ(fixture.server.requests(), requests);
    ASSERT_FALSE(events.data().empty());
    EXPECT_EQ(events.data().back().kind, UpdateUserDriver::Event::Kind::show);

    fixture.driver->simulate_download();
    fixture.settle();
    ASSERT_EQ(fixture.revealed.size(), 1u);
    EXPECT_EQ(fixture.revealed[0].parent_path(), fixture.downloads);
    EXPECT_FALSE(fixture.controller->updateAvailable());
    EXPECT_EQ(fixture.filesInDownloads(), 1u);
}

TEST(FeedUpdater, NoNewerReleaseIsUpToDate) {
    Fixture fixture;
    fixture.server.route("/feed.xml", {200, feedWith(itemFor("1.2", fixture.server.url("/x"), 3, "c2ln"))});
    fixture.check();
    EXPECT_EQ(fixture.controller->checkOutcome().kind, Outcome::Kind::upToDate);
    EXPECT_FALSE(fixture.controller->updateAvailable());
    EXPECT_TRUE(fixture.controller->canCheckForUpdates());
}

TEST(FeedUpdater, AWrongSignatureOrLengthRemovesTheDownload) {
    for (const bool wrongLength : {false, true}) {
        Fixture fixture;
        const QByteArray release("release archive bytes");
        const QByteArray served = wrongLength ? release + "tail" : release;
        const std::string signature = wrongLength ? fixture.keys.sign(release) : fixture.keys.sign("something else");
        fixture.server.route("/yux.tar.gz", {200, served});
        fixture.server.route("/feed.xml",
                             {200, feedWith(itemFor("2.0", fixture.server.url("/yux.tar.gz"), release.size(), signature))});
        fixture.check();
        fixture.driver->simulate_download();
        fixture.settle();
        fixture.expectDownloadFailed("The downloaded update is not signed by Yux.");
        EXPECT_FALSE(fixture.controller->updateAvailable());
    }
}

TEST(FeedUpdater, AStalledServerFailsWithinTheTimeLimitAndAllowsANewCheck) {
    Fixture fixture(std::chrono::milliseconds(300));
    fixture.server.route("/feed.xml", {.stall = true});
    fixture.controller->checkForUpdates();
    EXPECT_FALSE(fixture.controller->canCheckForUpdates());
    fixture.settle();
    EXPECT_EQ(fixture.controller->checkOutcome().kind, Outcome::Kind::failed);
    EXPECT_NE(fixture.controller->checkOutcome().failure.find("did not answer"), std::string::npos);
    EXPECT_TRUE(fixture.controller->canCheckForUpdates());
}

TEST(FeedUpdater, UnreadableFeedsAndInsecureRedirectsFail) {
    const auto failsWith = [](std::function<void(LocalServer&)> serve) {
        Fixture fixture;
        serve(fixture.server);
        fixture.check();
        EXPECT_EQ(fixture.controller->checkOutcome().kind, Outcome::Kind::failed);
        EXPECT_TRUE(fixture.controller->canCheckForUpdates());
        return fixture.controller->checkOutcome().failure;
    };
    failsWith([](LocalServer& server) { server.route("/feed.xml", {200, "<rss><channel><item>"}); });
    failsWith([](LocalServer& server) {
        server.route("/feed.xml", {200, feedWith(itemFor("2.0", server.url("/x"), 3, ""))});
    });
    failsWith([](LocalServer& server) { server.route("/feed.xml", {200, QByteArray(kMaxUpdateFeedBytes + 10, ' ')}); });
    failsWith([](LocalServer& server) { server.route("/feed.xml", {404}); });
    const auto refused = failsWith([](LocalServer& server) {
        server.route("/feed.xml", {302, {}, "http://updates.example.invalid/feed.xml"});
    });
    EXPECT_NE(refused.find("not secure"), std::string::npos);
}

TEST(FeedUpdater, AutomaticChecksPersistAndAScheduledFindOnlyRaisesTheBadge) {
    Fixture fixture;
    const QByteArray release("bytes");
    fixture.server.route("/feed.xml", {200, feedWith(itemFor("2.0", fixture.server.url("/r"), release.size(),
                                                               fixture.keys.sign(release)))});
    auto events = fixture.driver->track_events();
    fixture.controller->setNotificationsEnabled(true);
    EXPECT_TRUE(fixture.controller->notificationsEnabled());
    EXPECT_EQ(fixture.preferences->read(FeedUpdater::kAutomaticChecksKey), "true");
    fixture.settle();
    EXPECT_TRUE(fixture.controller->updateAvailable());
    EXPECT_TRUE(events.data().empty());  // no window until the user asks
}

TEST(FeedUpdater, TheDownloadGoesToItsFileAsItArrives) {
    // The silence limit also covers the feed and the first pieces, which a loaded sanitizer
    // build can take seconds to bring.
    Fixture fixture(std::chrono::seconds(10));
    const QByteArray release(256 * 1024, 'r');
    fixture.offer(release, {.pieceBytes = 64 * 1024, .piecesBeforeStall = 2});
    // Half the release is on disk while the server holds back the rest.
    while (fixture.downloadedBytes() < 128u * 1024 && !fixture.controller->canCheckForUpdates())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_EQ(fixture.downloadedBytes(), 128u * 1024);
    EXPECT_FALSE(fixture.controller->canCheckForUpdates());
    fixture.settle();
    EXPECT_NE(fixture.controller->checkOutcome().failure.find("did not answer"), std::string::npos);
    EXPECT_EQ(fixture.filesInDownloads(), 0u);
}

TEST(FeedUpdater, ATrickleFailsWithinAMinuteOfItsClock) {
    Fixture fixture;
    // Every piece is 1 KiB and the clock moves five seconds between two readings.
    fixture.clockStep = std::chrono::seconds(5);
    fixture.offer(QByteArray(200 * 1024, 't'), {.pieceBytes = 1024, .pieceInterval = std::chrono::milliseconds(5)});
    fixture.settle();
    fixture.expectDownloadFailed("The update download was too slow: under 16 KiB per second for a minute.");
    EXPECT_TRUE(fixture.controller->canCheckForUpdates());
}

TEST(FeedUpdater, AFastDownloadOnTheSameClockCompletes) {
    Fixture fixture;
    fixture.clockStep = std::chrono::seconds(5);
    // 256 KiB a piece: fifty times the minimum rate on that clock.
    const QByteArray release(1024 * 1024, 'f');
    fixture.offer(release, {.pieceBytes = 256 * 1024, .pieceInterval = std::chrono::milliseconds(5)});
    fixture.settle();
    ASSERT_EQ(fixture.revealed.size(), 1u) << fixture.controller->checkOutcome().failure;
    EXPECT_EQ(std::filesystem::file_size(fixture.revealed[0]), release.size());
}

TEST(FeedUpdater, RedirectsAreFollowedAndALoopFailsTheDownloadSayingWhy) {
    const QByteArray release("release archive bytes");
    {
        // Feed and release each behind a chain of redirects, as mirrors and storage hosts do.
        Fixture fixture;
        auto& server = fixture.server;
        server.route("/feed.xml", {302, {}, QByteArray::fromStdString(server.url("/feed-2.xml"))});
        server.route("/feed-2.xml", {301, {}, "/feed-3.xml"});
        server.route("/feed-3.xml", {200, feedWith(itemFor("2.0", server.url("/release"), release.size(),
                                                           fixture.keys.sign(release)))});
        server.route("/release", {302, {}, QByteArray::fromStdString(server.url("/mirror"))});
        server.route("/mirror", {307, {}, QByteArray::fromStdString(server.url("/yux.tar.gz"))});
        server.route("/yux.tar.gz", {200, release});
        fixture.check();
        EXPECT_EQ(fixture.controller->availableVersion(), "2.0");
        fixture.driver->simulate_download();
        fixture.settle();
        ASSERT_EQ(fixture.revealed.size(), 1u) << fixture.controller->checkOutcome().failure;
        EXPECT_EQ(std::filesystem::file_size(fixture.revealed[0]), static_cast<std::uintmax_t>(release.size()));
    }
    {
        Fixture fixture;
        fixture.server.route("/loop", {302, {}, QByteArray::fromStdString(fixture.server.url("/loop"))});
        fixture.server.route("/feed.xml", {200, feedWith(itemFor("2.0", fixture.server.url("/loop"), release.size(),
                                                                   fixture.keys.sign(release)))});
        fixture.check();
        fixture.driver->simulate_download();
        fixture.settle();
        fixture.expectDownloadFailed("The update download failed: too many redirects.");
        EXPECT_TRUE(fixture.controller->canCheckForUpdates());
    }
}

TEST(FeedUpdater, AFileWhereTheDownloadFolderShouldBeSaysTheUpdateCannotBeSaved) {
    Fixture fixture;
    writeFileAtomically(fixture.downloads, "mine");
    fixture.offer("release", {});
    fixture.settle();
    EXPECT_EQ(fixture.controller->checkOutcome(),
              (Outcome{Outcome::Kind::failed, "Could not save the update in " + fixture.downloads.string() +
                                                  ": a file of that name is in the way."}));
    EXPECT_EQ(readFileContents(fixture.downloads), "mine");
    EXPECT_TRUE(fixture.controller->canCheckForUpdates());
}

TEST(FeedUpdater, WhatIsAlreadyAtTheDownloadsNameStaysAndTheDownloadTakesTheNextName) {
    const QByteArray release("release archive bytes");
    enum class Entry { file, link, danglingLink };
    for (const Entry entry : {Entry::file, Entry::link, Entry::danglingLink}) {
        SCOPED_TRACE(static_cast<int>(entry));
        Fixture fixture;
        std::filesystem::create_directories(fixture.downloads);
        const auto taken = fixture.downloads / "yux.tar.gz";
        const auto target = fixture.folder.path() / "elsewhere";
        if (entry == Entry::file) writeFileAtomically(taken, "mine");
        if (entry == Entry::link) writeFileAtomically(target, "mine");
        if (entry != Entry::file) std::filesystem::create_symlink(target, taken);

        fixture.offer(release, {});
        fixture.settle();
        ASSERT_EQ(fixture.revealed.size(), 1u) << fixture.controller->checkOutcome().failure;
        EXPECT_EQ(fixture.revealed[0], fixture.downloads / "yux.tar.gz-2");
        EXPECT_EQ(readFileContents(fixture.revealed[0]), release.toStdString());
        if (entry == Entry::file) EXPECT_EQ(readFileContents(taken), "mine");
        if (entry != Entry::file) EXPECT_EQ(std::filesystem::read_symlink(taken), target);
        if (entry == Entry::link) EXPECT_EQ(readFileContents(target), "mine");
        if (entry == Entry::danglingLink) EXPECT_FALSE(std::filesystem::exists(target));
    }
}
