#include "platform/updates/app_update_controller.hpp"

#include <gtest/gtest.h>

#include "platform/updates/download_rate_guard.hpp"
#include "platform/updates/update_feed.hpp"
#include "platform/updates/update_version.hpp"

using namespace yux::platform;
using Outcome = AppUpdateController::CheckOutcome;

namespace {

// 32 bytes in strict Base64.
constexpr const char* kKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

BundleInfo bundleWith(QVariant feed, QVariant key = QString::fromLatin1(kKey)) {
    return BundleInfo::create_null({{BundleInfo::kVersionKey, QStringLiteral("1.2.0")},
                                    {BundleInfo::kFeedURLKey, std::move(feed)},
                                    {BundleInfo::kPublicEDKeyKey, std::move(key)}});
}

BundleInfo configured() { return bundleWith(QStringLiteral("https://updates.example.org/yux.xml")); }

QDateTime at(int hour) { return QDateTime(QDate(2026, 3, 4), QTime(hour, 0), Qt::UTC); }

// A stand-in updater whose start fails, to follow the controller out of a failed start.
class FailingUpdater : public Updater {
public:
    void startUpdater() override {
        setAutomaticChecks(true);
        setLastCheck(at(7));
        throw UpdaterStartError("the cache folder cannot be created.");
    }
    void checkForUpdates() override {}
};

}  // namespace

TEST(AppUpdateController, ConfigurationMatrix) {
    const auto accepted = [](QVariant feed, QVariant key = QString::fromLatin1(kKey)) {
        return AppUpdateController::isConfigured(bundleWith(std::move(feed), std::move(key)));
    };
    EXPECT_TRUE(accepted(QStringLiteral("https://updates.example.org/yux.xml")));
    EXPECT_TRUE(accepted(QStringLiteral("http://localhost:8080/feed.xml")));
    EXPECT_TRUE(accepted(QStringLiteral("http://127.0.0.1/feed.xml")));
    EXPECT_TRUE(accepted(QStringLiteral("http://[::1]:9000/feed.xml")));

    EXPECT_FALSE(accepted(QStringLiteral("http://LOCALHOST/feed.xml")));
    EXPECT_FALSE(accepted(QStringLiteral("http://updates.example.org/feed.xml")));
    EXPECT_FALSE(accepted(QStringLiteral("http://127.0.0.1.example.org/feed.xml")));
    EXPECT_FALSE(accepted(QStringLiteral("ftp://updates.example.org/feed.xml")));
    EXPECT_FALSE(accepted(QStringLiteral("HTTPS://updates.example.org/feed.xml")));
    EXPECT_FALSE(accepted(QStringLiteral("https:///feed.xml")));
    EXPECT_FALSE(accepted(QStringLiteral("not a url")));
    EXPECT_FALSE(accepted(QVariant(42)));
    EXPECT_FALSE(accepted(QVariant()));

    const auto https = QStringLiteral("https://updates.example.org/yux.xml");
    EXPECT_FALSE(accepted(https, QStringLiteral("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHg==")));      // 31 bytes
    EXPECT_FALSE(accepted(https, QStringLiteral("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8g")));      // 33 bytes
    EXPECT_FALSE(accepted(https, QStringLiteral("AAECAwQFBgcICQoLDA0ODxAREhMU FRYXGBkaGxwdHh8=")));     // blank
    EXPECT_FALSE(accepted(https, QStringLiteral("AAECAwQFBgcICQoLDA0ODxAREhMU\nFRYXGBkaGxwdHh8=")));    // line break
    EXPECT_FALSE(accepted(https, QStringLiteral("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=\n")));
    EXPECT_FALSE(accepted(https, QStringLiteral("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8")));       // unpadded
    EXPECT_FALSE(accepted(https, QVariant(QByteArray(32, 'a'))));

    auto controller = AppUpdateController::create_null(bundleWith(QStringLiteral("ftp://x/y")), {});
    controller->start();
    EXPECT_EQ(controller->unavailableMessage(),
              "Automatic updates are not configured for this build. Download releases from the Product Page.");
    EXPECT_FALSE(controller->canCheckForUpdates());
}

TEST(AppUpdateController, ObservesTheUpdaterFromTheStartAndASecondStartChangesNothing) {
    auto controller = AppUpdateController::create_null(configured(), {UpdateCheckReply::upToDate(at(9))});
    EXPECT_FALSE(controller->canCheckForUpdates());
    controller->checkForUpdates();  // no updater yet
    EXPECT_EQ(controller->checkOutcome().kind, Outcome::Kind::notChecked);

    controller->start();
    EXPECT_TRUE(controller->canCheckForUpdates());
    EXPECT_FALSE(controller->notificationsEnabled());
    EXPECT_FALSE(controller->lastCheckedAt());
    EXPECT_EQ(controller->checkOutcome().kind, Outcome::Kind::notChecked);
    EXPECT_FALSE(controller->unavailableMessage());

    controller->setNotificationsEnabled(true);
    EXPECT_TRUE(controller->notificationsEnabled());
    int announced = 0;
    QObject::connect(controller.get(), &AppUpdateController::canCheckForUpdatesChanged, [&] { ++announced; });
    controller->start();
    EXPECT_TRUE(controller->notificationsEnabled());
    EXPECT_EQ(announced, 0);
}

TEST(AppUpdateController, OutcomesOfChecks) {
    auto controller = AppUpdateController::create_null(
        configured(), {UpdateCheckReply::upToDate(at(9)), UpdateCheckReply::available("2.0", at(10)),
                       UpdateCheckReply::unsuccessful(at(11))});
    controller->start();

    controller->checkForUpdates();
    EXPECT_EQ(controller->checkOutcome().kind, Outcome::Kind::upToDate);  // survives the 1001 abort
    EXPECT_EQ(controller->lastCheckedAt(), at(9));

    controller->checkForUpdates();
    EXPECT_EQ(controller->checkOutcome().kind, Outcome::Kind::available);
    EXPECT_TRUE(controller->updateAvailable());
    EXPECT_EQ(controller->availableVersion(), "2.0");

    controller->checkForUpdates();
    EXPECT_EQ(controller->checkOutcome(),
              (Outcome{Outcome::Kind::failed, "The Internet connection appears to be offline."}));
    EXPECT_FALSE(controller->updateAvailable());
    EXPECT_FALSE(controller->availableVersion());

    controller->checkForUpdates();  // no reply left: the check stays under way
    EXPECT_EQ(controller->checkOutcome().kind, Outcome::Kind::checking);
}

TEST(AppUpdateController, AFailedStartKeepsTheFirstObservationsAndCannotCheck) {
    auto log = SystemLog::create_null();
    auto lines = log.track_lines();
    AppUpdateController controller(
        configured(), [](const BundleInfo&, UpdaterDelegate&) { return std::make_unique<FailingUpdater>(); }, log);
    controller.start();
    EXPECT_EQ(controller.unavailableMessage(), "Updates are unavailable: the cache folder cannot be created.");
    EXPECT_FALSE(controller.canCheckForUpdates());
    EXPECT_TRUE(controller.notificationsEnabled());
    EXPECT_EQ(controller.lastCheckedAt(), at(7));
    ASSERT_EQ(lines.data().size(), 1u);
    EXPECT_EQ(lines.data()[0].message, "AppUpdateController: the cache folder cannot be created.");
    controller.setNotificationsEnabled(false);  // no updater: ignored
    EXPECT_TRUE(controller.notificationsEnabled());
}

TEST(UpdateVersions, CompareNumericallyWithPreReleasesFirst) {
    struct Row {
        const char* left;
        const char* right;
        int order;
    };
    const Row rows[] = {
        {"1.2", "1.2.0", 0},      {"1.10", "1.9", 1},         {"2", "10", -1},
        {"1.2.1", "1.2", 1},      {"1.2-beta", "1.2", -1},    {"1.2-beta", "1.1", 1},
        {"1.2-alpha", "1.2-beta", -1}, {"0.0.1", "0", 1},     {"99999999999999999999999", "1", 1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(compareVersions(row.left, row.right), row.order) << row.left << " vs " << row.right;
        EXPECT_EQ(compareVersions(row.right, row.left), -row.order) << row.right << " vs " << row.left;
    }
    std::vector<UpdateItem> items(3);
    items[0].version = "1.3";
    items[1].version = "1.10";
    items[2].version = "1.2";
    ASSERT_NE(newestUpdate(items, "1.2"), nullptr);
    EXPECT_EQ(newestUpdate(items, "1.2")->version, "1.10");
    EXPECT_EQ(newestUpdate(items, "1.10"), nullptr);
}

TEST(UpdateFeed, ReadsItemsSkipsUnknownElementsAndRefusesIncompleteOnes) {
    const QByteArray feed = R"(<?xml version="1.0"?>
<rss version="2.0" xmlns:yux="urn:yux:updates:1"><channel><title>Yux</title><other><deep/></other>
<item><title>Yux 2.0</title><yux:version>2.0.1</yux:version><yux:shortVersionString>2.0</yux:shortVersionString>
<pubDate>Tue, 03 Mar 2026 10:00:00 +0000</pubDate><description>x</description>
<enclosure url="https://h/yux-2.0.tar.gz" length="1234" yux:edSignature="c2ln" type="application/octet-stream"/></item>
</channel></rss>)";
    const auto items = parseUpdateFeed(feed);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].version, "2.0.1");
    EXPECT_EQ(items[0].displayVersionString, "2.0");
    EXPECT_EQ(items[0].url, "https://h/yux-2.0.tar.gz");
    EXPECT_EQ(items[0].length, 1234);
    EXPECT_EQ(items[0].edSignature, "c2ln");

    QByteArray unsigned_ = feed;
    unsigned_.replace(R"( yux:edSignature="c2ln")", "");
    EXPECT_THROW(parseUpdateFeed(unsigned_), MalformedFeedError);
    QByteArray foreignSignature = feed;
    foreignSignature.replace("yux:edSignature", "edSignature");
    EXPECT_THROW(parseUpdateFeed(foreignSignature), MalformedFeedError);
    QByteArray noLength = feed;
    noLength.replace(R"(length="1234")", R"(length="many")");
    EXPECT_THROW(parseUpdateFeed(noLength), MalformedFeedError);
    EXPECT_THROW(parseUpdateFeed(feed.left(feed.size() - 20)), MalformedFeedError);
    EXPECT_THROW(parseUpdateFeed(""), MalformedFeedError);
    EXPECT_THROW(parseUpdateFeed(QByteArray(kMaxUpdateFeedBytes + 1, ' ')), MalformedFeedError);
}

TEST(UpdateFeed, DeclaredLengthsAboveOneGiBAreRefused) {
    const auto feedDeclaring = [](const std::string& length) {
        return QByteArray::fromStdString(
            R"(<rss xmlns:yux="urn:yux:updates:1"><channel><item><yux:version>2.0</yux:version>)"
            R"(<enclosure url="https://h/y.tar.gz" length=")" + length + R"(" yux:edSignature="c2ln"/></item></channel></rss>)");
    };
    struct Case {
        std::string length;
        bool accepted;
    };
    for (const auto& [length, accepted] : std::vector<Case>{{"1073741824", true},
                                                             {"1073741825", false},
                                                             {"9223372036854775807", false},
                                                             {"9223372036854775808", false}}) {
        if (accepted) {
            EXPECT_EQ(parseUpdateFeed(feedDeclaring(length)).at(0).length, std::stoll(length));
        } else {
            EXPECT_THROW(parseUpdateFeed(feedDeclaring(length)), MalformedFeedError) << length;
        }
    }
}

TEST(UpdateFeed, DeepNestingIsWalkedWithoutRecursion) {
    // Fifteen thousand levels once overflowed the stack; the whole feed limit allows ten times more.
    for (const int depth : {15000, 140000}) {
        const QByteArray open = QByteArray("<x>").repeated(depth);
        const QByteArray close = QByteArray("</x>").repeated(depth);
        const QByteArray item = R"(<item xmlns:yux="urn:yux:updates:1"><yux:version>2.0</yux:version>)"
                                R"(<enclosure url="https://h/y" length="3" yux:edSignature="c2ln"/></item>)";
        EXPECT_EQ(parseUpdateFeed("<rss>" + open + item + close + "</rss>").size(), 1u) << depth;
        EXPECT_THROW(parseUpdateFeed("<rss>" + open + "</rss>"), MalformedFeedError) << depth;
    }
}

TEST(DownloadRateGuard, FailsOnlyAMinuteThatAveragesUnderTheMinimum) {
    using namespace std::chrono;
    constexpr std::int64_t kMinimum = DownloadRateGuard::kMinimumBytesPerSecond;
    struct Case {
        const char* what;
        // Bytes that arrive in each second, repeated for `seconds`.
        std::function<std::int64_t(int second)> bytesIn;
        int seconds;
        // The second at which the guard first fails, or -1.
        int failsAt;
    };
    const std::vector<Case> cases = {
        {"exactly the minimum", [&](int) { return kMinimum; }, 600, -1},
        {"one byte a second short", [&](int) { return kMinimum - 1; }, 600, 60},
        {"nothing at all, which the silence timeout covers sooner", [](int) { return 0; }, 120, 60},
        {"a fast start then a trickle", [&](int second) { return second < 10 ? 100 * kMinimum : 1024; }, 200, 70},
        {"stalls of twenty seconds inside a fast download",
         [&](int second) { return second % 90 < 20 ? 0 : 2 * kMinimum; }, 600, -1},
    };
    for (const auto& test : cases) {
        const auto start = steady_clock::time_point{} + hours(1);
        DownloadRateGuard guard(start);
        std::int64_t received = 0;
        int failedAt = -1;
        for (int second = 1; second <= test.seconds && failedAt < 0; ++second) {
            received += test.bytesIn(second - 1);
            // Several pieces a second, as a server sends them.
            for (int piece = 1; piece <= 4 && failedAt < 0; ++piece) {
                const auto now = start + seconds(second - 1) + milliseconds(250 * piece);
                if (guard.tooSlow(now, received)) failedAt = second;
            }
        }
        EXPECT_EQ(failedAt, test.failsAt) << test.what;
    }
}
