#pragma once

#include <optional>
#include <string>

#include <QDateTime>
#include <QObject>
#include <QString>

namespace yux::platform {

// Errors of the updater carry a domain and a code besides their English sentence, so a caller
// can tell the "no update found" ending from a real failure.
inline constexpr const char* kYuxUpdaterErrorDomain = "YuxUpdaterErrorDomain";
// The check ended without finding a newer version (reported after didNotFindUpdate).
inline constexpr int kNoUpdateErrorCode = 1001;
// The feed could not be fetched or read, or the download failed.
inline constexpr int kUpdaterFailureCode = 1002;

struct UpdaterError {
    std::string domain;
    int code = 0;
    std::string description;
    bool operator==(const UpdaterError&) const = default;
};

// One release in the feed.
struct UpdateItem {
    std::string title;
    std::string version;               // compared
    std::string displayVersionString;  // shown; the version when the feed names none
    std::string pubDate;
    std::string url;
    qint64 length = 0;
    std::string edSignature;  // Base64 of the Ed25519 signature over the whole file
    bool operator==(const UpdateItem&) const = default;
};

// What the updater tells its owner, on the main thread, in this order: a found update →
// didFindValidUpdate, willHandleShowingUpdate; none → didNotFindUpdate, didAbort (1001),
// willFinishUpdateSession; an error → didAbort, willFinishUpdateSession.
class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;
    virtual void didFindValidUpdate(const UpdateItem& item) = 0;
    virtual void didNotFindUpdate() = 0;
    virtual void didAbortWithError(const UpdaterError& error) = 0;
    virtual void willHandleShowingUpdate(bool handleShowingUpdate, const UpdateItem& item) = 0;
    virtual void willFinishUpdateSession() = 0;
};

// The update checker the controller drives. Its three observable properties announce each
// change through their own signal. Main thread.
class Updater : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Throws UpdaterStartError when the updater cannot run.
    virtual void startUpdater() = 0;
    virtual void checkForUpdates() = 0;

    bool canCheckForUpdates() const { return canCheckForUpdates_; }
    bool automaticallyChecksForUpdates() const { return automaticallyChecksForUpdates_; }
    const std::optional<QDateTime>& lastUpdateCheckDate() const { return lastUpdateCheckDate_; }
    virtual void setAutomaticallyChecksForUpdates(bool value) { setAutomaticChecks(value); }

signals:
    void canCheckForUpdatesChanged();
    void automaticallyChecksForUpdatesChanged();
    void lastUpdateCheckDateChanged();

protected:
    void setCanCheck(bool value) {
        if (canCheckForUpdates_ == value) return;
        canCheckForUpdates_ = value;
        emit canCheckForUpdatesChanged();
    }
    void setAutomaticChecks(bool value) {
        if (automaticallyChecksForUpdates_ == value) return;
        automaticallyChecksForUpdates_ = value;
        emit automaticallyChecksForUpdatesChanged();
    }
    void setLastCheck(std::optional<QDateTime> value) {
        if (lastUpdateCheckDate_ == value) return;
        lastUpdateCheckDate_ = std::move(value);
        emit lastUpdateCheckDateChanged();
    }

private:
    bool canCheckForUpdates_ = false;
    bool automaticallyChecksForUpdates_ = false;
    std::optional<QDateTime> lastUpdateCheckDate_;
};

class UpdaterStartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace yux::platform
