#include "platform/updates/feed_updater.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <string_view>

#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>
#include <nlohmann/json.hpp>
#include <qcoro/qcoronetworkreply.h>
#include <sodium.h>

#include "platform/desktop/file_contents.hpp"
#include "platform/updates/download_rate_guard.hpp"
#include "platform/updates/update_feed.hpp"
#include "platform/updates/update_version.hpp"

namespace yux::platform {

namespace {

// The scheme and host exactly as written: QUrl lower-cases hosts and drops IPv6 brackets,
// and plain http is accepted only for the loopback texts as they stand.
std::optional<std::pair<std::string, std::string>> schemeAndHost(const std::string& text) {
    const auto separator = text.find("://");
    if (separator == std::string::npos || separator == 0) return std::nullopt;
    std::string authority = text.substr(separator + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    const auto at = authority.rfind('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);
    std::string host;
    if (!authority.empty() && authority[0] == '[') {
        const auto close = authority.find(']');
        if (close == std::string::npos) return std::nullopt;
        host = authority.substr(0, close + 1);
    } else {
        host = authority.substr(0, authority.find(':'));
    }
    return std::pair{text.substr(0, separator), host};
}

// A redirect's target, which Qt hands over already parsed.
bool isAcceptedRedirect(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty()) return false;
    if (url.scheme() == u"https") return true;
    const QString host = url.host();
    return url.scheme() == u"http" && (host == u"localhost" || host == u"127.0.0.1" || host == u"::1");
}

std::string fileNameFor(const QUrl& url) {
    std::string name = url.fileName().toStdString();
    std::string safe;
    for (const char c : name)
        safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_') ? c : '_';
    if (safe.empty() || safe[0] == '.') safe = "Yux-update" + safe;
    return safe;
}

std::runtime_error cannotSaveIn(const std::filesystem::path& folder, int error) {
    return std::runtime_error("Could not save the update in " + folder.string() + ": " + fileFailureCause(error) + ".");
}

// Creates a new file in the folder, never replacing one: "name", then "name-2", "name-3", ….
std::pair<int, std::filesystem::path> createExclusively(const std::filesystem::path& folder, const std::string& name) {
    std::error_code failed;
    std::filesystem::create_directories(folder, failed);
    if (failed) throw cannotSaveIn(folder, failed.value());
    for (int attempt = 1;; ++attempt) {
        const auto path = folder / (attempt == 1 ? name : name + "-" + std::to_string(attempt));
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) return {fd, path};
        if (errno != EEXIST || attempt >= 1000) throw cannotSaveIn(folder, errno);
    }
}

bool signatureMatches(const std::filesystem::path& file, const std::string& signatureBase64, const std::string& keyBase64) {
    unsigned char signature[crypto_sign_BYTES + 1];
    unsigned char key[crypto_sign_PUBLICKEYBYTES + 1];
    std::size_t signatureLength = 0;
    std::size_t keyLength = 0;
    const char* end = nullptr;
    if (sodium_base642bin(signature, sizeof signature, signatureBase64.data(), signatureBase64.size(), nullptr,
                          &signatureLength, &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != signatureBase64.data() + signatureBase64.size() || signatureLength != crypto_sign_BYTES)
        return false;
    if (sodium_base642bin(key, sizeof key, keyBase64.data(), keyBase64.size(), nullptr, &keyLength, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != keyBase64.data() + keyBase64.size() || keyLength != crypto_sign_PUBLICKEYBYTES)
        return false;
    // Mapped, not read: a release of up to 1 GiB stays in the page cache instead of the heap.
    QFile input(QString::fromStdString(file.string()));
    if (!input.open(QIODevice::ReadOnly) || input.size() <= 0) return false;
    const uchar* contents = input.map(0, input.size());
    if (contents == nullptr) return false;
    const bool matches = crypto_sign_verify_detached(signature, contents, static_cast<unsigned long long>(input.size()),
                                                     key) == 0;
    input.unmap(const_cast<uchar*>(contents));
    return matches;
}

// The server sent past the declared length (or past the feed's limit).
constexpr const char* kMoreThanExpected = "The update server sent more than was expected.";
constexpr const char* kTooSlowMessage = "The update download was too slow: under 16 KiB per second for a minute.";

// Redirects a release host may chain (mirrors, a storage host); a loop ends here, as in browsers.
constexpr int kMaxRedirects = 20;

class FetchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string lowerFirst(std::string text) {
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

// The transfer itself failed. A check says the reason as a sentence of its own; a download says
// the download failed, with the reason, lower-case, as its cause.
class NetworkError : public FetchError {
public:
    explicit NetworkError(const std::string& reason) : FetchError(reason + "."), cause_(lowerFirst(reason)) {}
    const std::string& cause() const { return cause_; }

private:
    std::string cause_;
};

std::string downloadFailure(const std::exception& error) {
    if (const auto* network = dynamic_cast<const NetworkError*>(&error))
        return "The update download failed: " + network->cause() + ".";
    // Cut short by a size beyond the declared length: a wrong file.
    if (std::string_view(error.what()) == kMoreThanExpected) return FeedUpdater::kNotSignedMessage;
    return error.what();
}

}  // namespace

bool isAcceptedUpdateAddress(const std::string& text) {
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return false;
    const auto parts = schemeAndHost(text);
    if (!parts || parts->second.empty()) return false;
    const auto& [scheme, host] = *parts;
    if (scheme == "https") return true;
    return scheme == "http" && (host == "localhost" || host == "127.0.0.1" || host == "[::1]");
}

FeedUpdater::FeedUpdater(BundleInfo bundle, UpdaterDelegate& delegate, Options options)
    : bundle_(std::move(bundle)), delegate_(delegate), options_(std::move(options)),
      network_(std::make_unique<QNetworkAccessManager>()) {
    schedule_.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(kScheduleTick));
    connect(&schedule_, &QTimer::timeout, this, &FeedUpdater::checkIfDue);
}

FeedUpdater::~FeedUpdater() = default;

void FeedUpdater::startUpdater() {
    if (started_) return;
    if (sodium_init() < 0) throw UpdaterStartError("the signature library could not be started.");
    try {
        if (const auto automatic = options_.preferences->read(kAutomaticChecksKey)) {
            const auto value = nlohmann::json::parse(*automatic, nullptr, false);
            setAutomaticChecks(value.is_boolean() && value.get<bool>());
        }
        if (const auto last = options_.preferences->read(kLastCheckKey)) {
            const auto value = nlohmann::json::parse(*last, nullptr, false);
            if (value.is_string()) {
                const auto date = QDateTime::fromString(QString::fromStdString(value.get<std::string>()), Qt::ISODate);
                if (date.isValid()) setLastCheck(date);
            }
        }
    } catch (const std::exception& error) {
        // Unreadable preferences leave the defaults; the preferences file reports its damage itself.
        options_.log.error("Updates", std::string("preferences_unreadable reason=") + error.what());
    }
    started_ = true;
    setCanCheck(true);
    schedule_.start();
    checkIfDue();
}

void FeedUpdater::checkForUpdates() {
    if (!started_ || !canCheckForUpdates()) return;
    if (waiting_) {
        auto item = *waiting_;
        delegate_.didFindValidUpdate(item);
        delegate_.willHandleShowingUpdate(true, item);
        QPointer<FeedUpdater> self(this);
        options_.userDriver->show(
            item, [self, item] { if (self) self->runDownload(item); },
            [] {});
        return;
    }
    runCheck(true);
}

void FeedUpdater::setAutomaticallyChecksForUpdates(bool value) {
    try {
        persist(kAutomaticChecksKey, value ? "true" : "false");
    } catch (const std::exception& error) {
        options_.log.error("Updates", std::string("preference_write_failed reason=") + error.what());
        return;
    }
    setAutomaticChecks(value);
    checkIfDue();
}

void FeedUpdater::persist(const char* key, const std::string& json) {
    options_.preferences->write(key, json);
}

void FeedUpdater::checkIfDue() {
    if (!started_ || !automaticallyChecksForUpdates() || !canCheckForUpdates() || waiting_) return;
    const auto& last = lastUpdateCheckDate();
    const auto now = options_.now();
    if (last && last->secsTo(now) < std::chrono::duration_cast<std::chrono::seconds>(kCheckInterval).count() &&
        last->secsTo(now) >= 0)
        return;
    runCheck(false);
}

QCoro::Task<void> FeedUpdater::fetch(const QString& address, TakePiece take, bool download) {
    // Redirects are followed here rather than by Qt, whose user-verified redirects end a chain
    // of two as a success without a body: each target is checked before it is asked, and a loop
    // ends after kMaxRedirects.
    QUrl target(address);
    // An abort from inside one of the reply's own signals finishes it, and this coroutine resumes
    // there: the reply must outlive that signal, so it goes on a later turn.
    const auto later = [](QNetworkReply* finished) { finished->deleteLater(); };
    QObject context;
    QNetworkReply* current = nullptr;
    std::string refusal;
    bool timedOut = false;
    qint64 received = 0;
    DownloadRateGuard rate(options_.monotonicNow());
    QTimer timer;
    timer.setSingleShot(true);
    timer.setInterval(options_.timeout);
    QObject::connect(&timer, &QTimer::timeout, &context, [&] {
        timedOut = true;
        if (current) current->abort();
    });
    timer.start();
    for (int redirects = 0;; ++redirects) {
        QNetworkRequest request{target};
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        std::unique_ptr<QNetworkReply, decltype(later)> reply(network_->get(request), later);
        current = reply.get();
        const auto redirect = [&reply] { return reply->attribute(QNetworkRequest::RedirectionTargetAttribute); };
        QObject::connect(reply.get(), &QNetworkReply::readyRead, &context, [&] {
            if (!refusal.empty()) return;
            const QByteArray piece = reply->readAll();
            // A redirect's own page is no part of what was asked for.
            if (redirect().isValid()) return;
            received += piece.size();
            if (auto refused = take(piece)) {
                refusal = *refused;
            } else if (download && rate.tooSlow(options_.monotonicNow(), received)) {
                refusal = kTooSlowMessage;
            }
            if (!refusal.empty()) {
                reply->abort();
                return;
            }
            // A download may take long; only silence counts against it.
            if (download) timer.start();
        });
        co_await qCoro(reply.get()).waitForFinished();
        QObject::disconnect(reply.get(), nullptr, &context, nullptr);
        current = nullptr;
        if (!refusal.empty()) throw FetchError(refusal);
        if (timedOut)
            throw FetchError("The update server did not answer within " +
                             std::to_string(std::chrono::duration_cast<std::chrono::seconds>(options_.timeout).count()) +
                             " seconds.");
        if (reply->error() != QNetworkReply::NoError) throw NetworkError(reply->errorString().toStdString());
        if (const QVariant location = redirect(); location.isValid()) {
            const QUrl next = target.resolved(location.toUrl());
            if (!isAcceptedRedirect(next))
                throw FetchError("The update server redirected to an address that is not secure: " +
                                 next.toString().toStdString() + ".");
            if (redirects >= kMaxRedirects) throw NetworkError("Too many redirects");
            target = next;
            continue;
        }
        if (auto refused = take(reply->readAll())) throw FetchError(*refused);
        co_return;
    }
}

QCoro::Task<void> FeedUpdater::runCheck(bool userInitiated) {
    QPointer<FeedUpdater> self(this);
    setCanCheck(false);
    std::vector<UpdateItem> items;
    try {
        const auto feed = bundle_.text(BundleInfo::kFeedURLKey).value_or("");
        if (!isAcceptedUpdateAddress(feed)) throw FetchError("The update feed's address is not accepted.");
        const QString address = QString::fromStdString(feed);
        QByteArray body;
        // Named, not temporaries in the awaited call: the compiler destroys such temporaries twice.
        const TakePiece take = [&body](const QByteArray& piece) -> std::optional<std::string> {
            body += piece;
            if (body.size() > kMaxUpdateFeedBytes) return std::string(kMoreThanExpected);
            return std::nullopt;
        };
        co_await fetch(address, take, false);
        if (!self) co_return;
        items = parseUpdateFeed(body);
    } catch (const std::exception& error) {
        if (!self) co_return;
        options_.log.error("Updates", std::string("check_failed reason=") + error.what());
        abort(error.what());
        co_return;
    }
    const auto now = options_.now();
    setLastCheck(now);
    try {
        persist(kLastCheckKey, nlohmann::json(now.toString(Qt::ISODate).toStdString()).dump());
    } catch (const std::exception& error) {
        options_.log.error("Updates", std::string("preference_write_failed reason=") + error.what());
    }
    const UpdateItem* newest = newestUpdate(items, bundle_.version());
    if (!newest) {
        setCanCheck(true);
        delegate_.didNotFindUpdate();
        delegate_.didAbortWithError({kYuxUpdaterErrorDomain, kNoUpdateErrorCode, "Yux is up to date."});
        delegate_.willFinishUpdateSession();
        co_return;
    }
    if (!isAcceptedUpdateAddress(newest->url)) {
        abort("The update feed names a download address that is not secure.");
        co_return;
    }
    waiting_ = *newest;
    setCanCheck(true);
    const UpdateItem item = *newest;
    delegate_.didFindValidUpdate(item);
    delegate_.willHandleShowingUpdate(userInitiated, item);
    // A scheduled find only raises the badge; the window shows when the user asks.
    if (userInitiated)
        options_.userDriver->show(
            item, [self, item] { if (self) self->runDownload(item); }, [] {});
}

QCoro::Task<void> FeedUpdater::runDownload(UpdateItem item) {
    QPointer<FeedUpdater> self(this);
    if (!canCheckForUpdates()) co_return;
    setCanCheck(false);
    std::filesystem::path file;
    int fd = -1;
    try {
        // The feed refuses larger releases; this keeps the arithmetic below safe on its own.
        if (item.length <= 0 || item.length > kMaxUpdateDownloadBytes) throw std::runtime_error(kNotSignedMessage);
        const QUrl url(QString::fromStdString(item.url));
        std::tie(fd, file) = createExclusively(options_.downloadFolder, fileNameFor(url));
        // Each piece goes straight to the file: the declared length bounds what is accepted, and
        // one byte more proves it wrong.
        auto driver = options_.userDriver;
        qint64 written = 0;
        const TakePiece take = [&written, &fd, driver, total = item.length](const QByteArray& piece)
            -> std::optional<std::string> {
            if (written + piece.size() > total) return std::string(kMoreThanExpected);
            qint64 done = 0;
            while (done < piece.size()) {
                const auto n = ::write(fd, piece.constData() + done, static_cast<size_t>(piece.size() - done));
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) return std::string("Could not save the update: ") + fileFailureCause(errno) + ".";
                done += n;
            }
            written += done;
            if (done > 0) driver->progress(written, total);
            return std::nullopt;
        };
        // Named, not temporaries in the awaited call: the compiler destroys such temporaries twice.
        const QString address = url.toString();
        co_await fetch(address, take, true);
        if (!self) {
            ::close(fd);
            std::error_code ignored;
            std::filesystem::remove(file, ignored);
            co_return;
        }
        if (::fsync(fd) != 0 || ::close(fd) != 0) {
            fd = -1;
            throw std::runtime_error(std::string("Could not save the update: ") + fileFailureCause(errno) + ".");
        }
        fd = -1;
        const auto key = bundle_.text(BundleInfo::kPublicEDKeyKey).value_or("");
        if (written != item.length || !signatureMatches(file, item.edSignature, key)) {
            std::error_code ignored;
            std::filesystem::remove(file, ignored);
            file.clear();
            throw std::runtime_error(kNotSignedMessage);
        }
    } catch (const std::exception& error) {
        if (fd >= 0) ::close(fd);
        std::error_code ignored;
        if (!file.empty()) std::filesystem::remove(file, ignored);
        if (!self) co_return;
        abort(downloadFailure(error));
        co_return;
    }
    options_.log.info("Updates", "update_downloaded path=" + file.string());
    waiting_.reset();
    options_.reveal(file);
    finishSession();
}

void FeedUpdater::abort(const std::string& description) {
    waiting_.reset();
    setCanCheck(true);
    delegate_.didAbortWithError({kYuxUpdaterErrorDomain, kUpdaterFailureCode, description});
    finishSession();
}

void FeedUpdater::finishSession() {
    setCanCheck(true);
    options_.userDriver->close();
    delegate_.willFinishUpdateSession();
}

}  // namespace yux::platform
