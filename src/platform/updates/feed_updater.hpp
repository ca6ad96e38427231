#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QDateTime>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include "platform/desktop/bundle_info.hpp"
#include "platform/desktop/preferences_file.hpp"
#include "platform/updates/update_user_driver.hpp"
#include "platform/updates/updater.hpp"

class QNetworkAccessManager;
class QNetworkReply;

namespace yux::platform {

// Whether an address may be fetched for updates: https, or plain http on the loopback host
// texts "localhost", "127.0.0.1" and "[::1]" exactly as written.
bool isAcceptedUpdateAddress(const std::string& text);

// The updater: reads the release feed named by the build, offers a newer release in its
// window, and on "Download" fetches it into the cache folder, checks its length and Ed25519
// signature and shows it in the file manager. It never installs or replaces anything.
class FeedUpdater : public Updater {
    Q_OBJECT
public:
    // A stalled server must not keep a check running for ever.
    static constexpr std::chrono::milliseconds kDefaultTimeout{30000};
    // Scheduled checks run at most once a day; the timer looks every hour whether one is due.
    static constexpr std::chrono::hours kCheckInterval{24};
    static constexpr std::chrono::minutes kScheduleTick{60};

    static constexpr const char* kAutomaticChecksKey = "yux.updates.automaticChecks";
    static constexpr const char* kLastCheckKey = "yux.updates.lastCheck";
    static constexpr const char* kNotSignedMessage = "The downloaded update is not signed by Yux.";

    struct Options {
        std::shared_ptr<PreferencesFile> preferences;
        std::filesystem::path downloadFolder;  // $XDG_CACHE_HOME/Yux/Updates
        std::shared_ptr<UpdateUserDriver> userDriver;
        std::function<void(const std::filesystem::path&)> reveal;
        std::chrono::milliseconds timeout = kDefaultTimeout;
        std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
        // Measures a download's rate.
        std::function<std::chrono::steady_clock::time_point()> monotonicNow = [] {
            return std::chrono::steady_clock::now();
        };
        SystemLog log = SystemLog::create();
    };

    FeedUpdater(BundleInfo bundle, UpdaterDelegate& delegate, Options options);
    ~FeedUpdater() override;

    void startUpdater() override;
    void checkForUpdates() override;
    void setAutomaticallyChecksForUpdates(bool value) override;

private:
    QCoro::Task<void> runCheck(bool userInitiated);
    QCoro::Task<void> runDownload(UpdateItem item);
    // Hands each piece of the body to `take` as it arrives; a text from `take` refuses the rest
    // and is thrown. A download's timeout counts only silence, and a trickle fails it too.
    using TakePiece = std::function<std::optional<std::string>(const QByteArray& piece)>;
    QCoro::Task<void> fetch(const QString& address, TakePiece take, bool download);
    void abort(const std::string& description);
    void finishSession();
    void checkIfDue();
    void persist(const char* key, const std::string& json);

    BundleInfo bundle_;
    UpdaterDelegate& delegate_;
    Options options_;
    std::unique_ptr<QNetworkAccessManager> network_;
    QTimer schedule_;
    std::optional<UpdateItem> waiting_;
    bool started_ = false;
};

}  // namespace yux::platform
