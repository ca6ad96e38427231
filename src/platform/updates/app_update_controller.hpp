#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include "platform/desktop/bundle_info.hpp"
#include "platform/desktop/system_log.hpp"
#include "platform/updates/feed_updater.hpp"
#include "platform/updates/updater.hpp"

namespace yux::platform {

// Scripted replies of the stub updater, one per check.
struct UpdateCheckReply {
    enum class Kind { available, unsuccessful, upToDate };
    Kind kind;
    std::string version;  // for available
    QDateTime checkedAt;

    static UpdateCheckReply available(std::string version, QDateTime checkedAt) {
        return {Kind::available, std::move(version), std::move(checkedAt)};
    }
    static UpdateCheckReply unsuccessful(QDateTime checkedAt) { return {Kind::unsuccessful, {}, std::move(checkedAt)}; }
    static UpdateCheckReply upToDate(QDateTime checkedAt) { return {Kind::upToDate, {}, std::move(checkedAt)}; }
};

// The one owner of update checks: validates the build's update configuration, runs the updater
// and mirrors its state and the last check's outcome for the views. Main thread.
class AppUpdateController : public QObject, private UpdaterDelegate {
    Q_OBJECT
public:
    struct CheckOutcome {
        enum class Kind { notChecked, checking, upToDate, available, failed };
        Kind kind = Kind::notChecked;
        std::string failure;  // the error's sentence, for failed
        bool operator==(const CheckOutcome&) const = default;
    };

    using UpdaterFactory = std::function<std::unique_ptr<Updater>(const BundleInfo&, UpdaterDelegate&)>;

    static constexpr const char* kNotConfiguredMessage =
        "Automatic updates are not configured for this build. Download releases from the Product Page.";

    AppUpdateController(BundleInfo bundle, UpdaterFactory makeUpdater, SystemLog log = SystemLog::create(),
                        QObject* parent = nullptr);
    // Over the feed updater.
    static std::unique_ptr<AppUpdateController> create(BundleInfo bundle, FeedUpdater::Options options);
    // The program's own: its preferences file, cache folder, update window and file manager.
    static std::unique_ptr<AppUpdateController> create(BundleInfo bundle);
    // Over a stub updater that answers each check with the next reply.
    static std::unique_ptr<AppUpdateController> create_null(BundleInfo bundle, std::vector<UpdateCheckReply> checks,
                                                            SystemLog log = SystemLog::create_null());

    const CheckOutcome& checkOutcome() const { return checkOutcome_; }
    const std::optional<std::string>& unavailableMessage() const { return unavailableMessage_; }
    bool updateAvailable() const { return updateAvailable_; }
    const std::optional<std::string>& availableVersion() const { return availableVersion_; }
    bool canCheckForUpdates() const { return canCheckForUpdates_; }
    bool notificationsEnabled() const { return notificationsEnabled_; }
    const std::optional<QDateTime>& lastCheckedAt() const { return lastCheckedAt_; }

    void start();
    void checkForUpdates();
    void setNotificationsEnabled(bool enabled);

    // Whether the feed address and key are usable: https, or http on a loopback host text;
    // a key of exactly 32 bytes in strict Base64.
    static bool isConfigured(const BundleInfo& bundle);

signals:
    void checkOutcomeChanged();
    void unavailableMessageChanged();
    void updateAvailableChanged();
    void availableVersionChanged();
    void canCheckForUpdatesChanged();
    void notificationsEnabledChanged();
    void lastCheckedAtChanged();

private:
    void didFindValidUpdate(const UpdateItem& item) override;
    void didNotFindUpdate() override;
    void didAbortWithError(const UpdaterError& error) override;
    void willHandleShowingUpdate(bool handleShowingUpdate, const UpdateItem& item) override;
    void willFinishUpdateSession() override;

    void observeUpdater();
    void endObservations();
    void setCheckOutcome(CheckOutcome value);
    void setUnavailableMessage(std::optional<std::string> value);
    void setUpdateAvailable(bool value);
    void setAvailableVersion(std::optional<std::string> value);
    void setCanCheck(bool value);
    void setNotifications(bool value);
    void setLastCheckedAt(std::optional<QDateTime> value);

    CheckOutcome checkOutcome_;
    std::optional<std::string> unavailableMessage_;
    bool updateAvailable_ = false;
    std::optional<std::string> availableVersion_;
    bool canCheckForUpdates_ = false;
    bool notificationsEnabled_ = false;
    std::optional<QDateTime> lastCheckedAt_;

    const BundleInfo bundle_;
    std::unique_ptr<Updater> updater_;
    std::vector<QMetaObject::Connection> observations_;
    const UpdaterFactory makeUpdater_;
    SystemLog log_;
};

}  // namespace yux::platform
