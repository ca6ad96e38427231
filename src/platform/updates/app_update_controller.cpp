#include "platform/updates/app_update_controller.hpp"

#include <deque>

#include <QCoreApplication>
#include <QThread>
#include <QUrl>
#include <sodium.h>

#include "platform/desktop/app_locations.hpp"
#include "platform/desktop/file_manager_reveal.hpp"
#include "platform/updates/feed_updater.hpp"

namespace yux::platform {

namespace {

void requireMainThread() {
    Q_ASSERT(!QCoreApplication::instance() || QThread::currentThread() == QCoreApplication::instance()->thread());
}

bool keyIsAccepted(const std::optional<std::string>& key) {
    if (!key) return false;
    if (sodium_init() < 0) return false;
    unsigned char decoded[64];
    std::size_t length = 0;
    const char* end = nullptr;
    // Strict: the original alphabet with padding, nothing ignored, every character consumed.
    if (sodium_base642bin(decoded, sizeof decoded, key->data(), key->size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    return end == key->data() + key->size() && length == crypto_sign_PUBLICKEYBYTES;
}

// Answers checks from a script, in the order and with the errors the real updater uses.
class StubbedUpdater : public Updater {
public:
    StubbedUpdater(UpdaterDelegate& delegate, std::vector<UpdateCheckReply> replies)
        : delegate_(delegate), replies_(replies.begin(), replies.end()) {}

    void startUpdater() override { setCanCheck(true); }

    void checkForUpdates() override {
        if (replies_.empty()) return;
        const auto reply = replies_.front();
        replies_.pop_front();
        setLastCheck(reply.checkedAt);
        switch (reply.kind) {
        case UpdateCheckReply::Kind::available: {
            UpdateItem item;
            item.version = item.displayVersionString = reply.version;
            delegate_.didFindValidUpdate(item);
            delegate_.willHandleShowingUpdate(true, item);
            break;
        }
        case UpdateCheckReply::Kind::upToDate:
            delegate_.didNotFindUpdate();
            delegate_.didAbortWithError({kYuxUpdaterErrorDomain, kNoUpdateErrorCode, "You're up to date!"});
            delegate_.willFinishUpdateSession();
            break;
        case UpdateCheckReply::Kind::unsuccessful:
            delegate_.didAbortWithError({"QNetworkReply", 99, "The Internet connection appears to be offline."});
            delegate_.willFinishUpdateSession();
            break;
        }
    }

private:
    UpdaterDelegate& delegate_;
    std::deque<UpdateCheckReply> replies_;
};

}  // namespace

AppUpdateController::AppUpdateController(BundleInfo bundle, UpdaterFactory makeUpdater, SystemLog log, QObject* parent)
    : QObject(parent), bundle_(std::move(bundle)), makeUpdater_(std::move(makeUpdater)), log_(std::move(log)) {}

std::unique_ptr<AppUpdateController> AppUpdateController::create_null(BundleInfo bundle,
                                                                       std::vector<UpdateCheckReply> checks,
                                                                       SystemLog log) {
    auto factory = [checks = std::move(checks)](const BundleInfo&, UpdaterDelegate& delegate) {
        return std::make_unique<StubbedUpdater>(delegate, checks);
    };
    return std::make_unique<AppUpdateController>(std::move(bundle), std::move(factory), std::move(log));
}

std::unique_ptr<AppUpdateController> AppUpdateController::create(BundleInfo bundle, FeedUpdater::Options options) {
    auto log = options.log;
    auto factory = [options = std::move(options)](const BundleInfo& bundle, UpdaterDelegate& delegate) {
        return std::make_unique<FeedUpdater>(bundle, delegate, options);
    };
    return std::make_unique<AppUpdateController>(std::move(bundle), std::move(factory), std::move(log));
}

std::unique_ptr<AppUpdateController> AppUpdateController::create(BundleInfo bundle) {
    const auto locations = AppLocations::forCurrentUser();
    FeedUpdater::Options options;
    options.preferences = std::make_shared<PreferencesFile>(locations.preferencesFile());
    options.downloadFolder = locations.cacheDirectory / "Updates";
    options.userDriver = UpdateUserDriver::create();
    options.reveal = [reveal = FileManagerReveal::create()](const std::filesystem::path& path) {
        reveal->reveal(path.string());
    };
    return create(std::move(bundle), std::move(options));
}

bool AppUpdateController::isConfigured(const BundleInfo& bundle) {
    const auto feed = bundle.text(BundleInfo::kFeedURLKey);
    return feed && isAcceptedUpdateAddress(*feed) &&
           keyIsAccepted(bundle.text(BundleInfo::kPublicEDKeyKey));
}

void AppUpdateController::start() {
    requireMainThread();
    if (updater_) return;
    if (!isConfigured(bundle_)) {
        setUnavailableMessage(std::string(kNotConfiguredMessage));
        return;
    }
    updater_ = makeUpdater_(bundle_, *this);
    observeUpdater();
    try {
        updater_->startUpdater();
        setUnavailableMessage(std::nullopt);
    } catch (const std::exception& error) {
        setUnavailableMessage(std::string("Updates are unavailable: ") + error.what());
        endObservations();
        updater_.reset();
        setCanCheck(false);
        log_.error("AppUpdateController", std::string("AppUpdateController: ") + error.what());
    }
}

void AppUpdateController::observeUpdater() {
    Updater* updater = updater_.get();
    QPointer<AppUpdateController> self(this);
    auto canCheck = [self, updater] { if (self) self->setCanCheck(updater->canCheckForUpdates()); };
    auto automatic = [self, updater] { if (self) self->setNotifications(updater->automaticallyChecksForUpdates()); };
    auto lastCheck = [self, updater] { if (self) self->setLastCheckedAt(updater->lastUpdateCheckDate()); };
    // Each observation first copies the current value, as it is registered.
    canCheck();
    observations_.push_back(connect(updater, &Updater::canCheckForUpdatesChanged, this, canCheck));
    automatic();
    observations_.push_back(connect(updater, &Updater::automaticallyChecksForUpdatesChanged, this, automatic));
    lastCheck();
    observations_.push_back(connect(updater, &Updater::lastUpdateCheckDateChanged, this, lastCheck));
}

void AppUpdateController::endObservations() {
    for (const auto& connection : observations_) disconnect(connection);
    observations_.clear();
}

void AppUpdateController::checkForUpdates() {
    requireMainThread();
    if (!updater_ || !canCheckForUpdates_) return;
    setCheckOutcome({CheckOutcome::Kind::checking, {}});
    updater_->checkForUpdates();
}

void AppUpdateController::setNotificationsEnabled(bool enabled) {
    requireMainThread();
    if (updater_) updater_->setAutomaticallyChecksForUpdates(enabled);
}

void AppUpdateController::didFindValidUpdate(const UpdateItem&) {
    requireMainThread();
    setCheckOutcome({CheckOutcome::Kind::available, {}});
}

void AppUpdateController::didNotFindUpdate() {
    requireMainThread();
    setCheckOutcome({CheckOutcome::Kind::upToDate, {}});
    setUpdateAvailable(false);
    setAvailableVersion(std::nullopt);
}

void AppUpdateController::didAbortWithError(const UpdaterError& error) {
    requireMainThread();
    if (!(error.domain == kYuxUpdaterErrorDomain && error.code == kNoUpdateErrorCode))
        setCheckOutcome({CheckOutcome::Kind::failed, error.description});
    setUpdateAvailable(false);
    setAvailableVersion(std::nullopt);
}

void AppUpdateController::willHandleShowingUpdate(bool, const UpdateItem& item) {
    requireMainThread();
    setUpdateAvailable(true);
    setAvailableVersion(item.displayVersionString);
}

void AppUpdateController::willFinishUpdateSession() {
    requireMainThread();
    setUpdateAvailable(false);
    setAvailableVersion(std::nullopt);
}

#define YUX_SETTER(name, field, signal)      \
    void AppUpdateController::name(decltype(field) value) { \
        if (field == value) return;           \
        field = std::move(value);             \
        emit signal();                        \
    }
YUX_SETTER(setCheckOutcome, checkOutcome_, checkOutcomeChanged)
YUX_SETTER(setUnavailableMessage, unavailableMessage_, unavailableMessageChanged)
YUX_SETTER(setUpdateAvailable, updateAvailable_, updateAvailableChanged)
YUX_SETTER(setAvailableVersion, availableVersion_, availableVersionChanged)
YUX_SETTER(setCanCheck, canCheckForUpdates_, canCheckForUpdatesChanged)
YUX_SETTER(setNotifications, notificationsEnabled_, notificationsEnabledChanged)
YUX_SETTER(setLastCheckedAt, lastCheckedAt_, lastCheckedAtChanged)
#undef YUX_SETTER

}  // namespace yux::platform
