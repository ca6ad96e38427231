#include "platform/desktop/launch_at_startup.hpp"

#include <exception>

#include <QPointer>
#include <qcoro/qcorosignal.h>

namespace yux::platform {

namespace {

// Carries the removal's answer from its callback into the waiting toggle.
class UnregisterAnswer : public QObject {
    Q_OBJECT
signals:
    void answered();
};

}  // namespace

LaunchAtStartup::LaunchAtStartup(std::shared_ptr<AutostartEntry> entry, SystemLog log, QObject* parent)
    : QObject(parent), entry_(std::move(entry)), log_(std::move(log)) {}

void LaunchAtStartup::refresh() {
    const auto status = entry_->status();
    setEnabled(status == AutostartEntry::Status::enabled);
    setRequiresApproval(status == AutostartEntry::Status::requiresApproval);
}

QCoro::Task<void> LaunchAtStartup::toggle() {
    if (isChanging_) co_return;
    setChanging(true);
    setErrorMessage(std::nullopt);
    QPointer<LaunchAtStartup> self(this);

    std::optional<std::string> failure;
    const auto status = entry_->status();
    if (status == AutostartEntry::Status::enabled || entry_->status() == AutostartEntry::Status::requiresApproval) {
        auto answer = std::make_shared<UnregisterAnswer>();
        auto result = std::make_shared<std::optional<std::optional<std::string>>>();
        entry_->unregisterEntry([result, weak = std::weak_ptr<UnregisterAnswer>(answer)](std::optional<std::string> error) {
            *result = std::move(error);
            if (auto alive = weak.lock()) emit alive->answered();
        });
        // An answer given at once must not leave the toggle waiting for a signal already sent.
        if (!result->has_value()) co_await qCoro(answer.get(), &UnregisterAnswer::answered);
        if (!self) co_return;
        failure = **result;
    } else {
        try {
            entry_->registerEntry();
        } catch (const std::exception& error) {
            failure = error.what();
        }
    }

    if (failure) {
        setErrorMessage(failure);
        log_.error("LaunchAtStartup", "LaunchAtStartup: " + *failure);
    }
    setChanging(false);
    refresh();
}

void LaunchAtStartup::openLoginItems() { entry_->openLoginItems(); }

void LaunchAtStartup::repointEntry() {
    try {
        if (auto before = entry_->repointToThisProgram())
            log_.info("LaunchAtStartup", "launch_at_startup_repointed from=" + *before);
    } catch (const std::exception& error) {
        log_.error("LaunchAtStartup", std::string("LaunchAtStartup: ") + error.what());
    }
}

void LaunchAtStartup::setEnabled(bool value) {
    if (enabled_ == value) return;
    enabled_ = value;
    emit enabledChanged();
}

void LaunchAtStartup::setRequiresApproval(bool value) {
    if (requiresApproval_ == value) return;
    requiresApproval_ = value;
    emit requiresApprovalChanged();
}

void LaunchAtStartup::setErrorMessage(std::optional<std::string> value) {
    if (errorMessage_ == value) return;
    errorMessage_ = std::move(value);
    emit errorMessageChanged();
}

void LaunchAtStartup::setChanging(bool value) {
    if (isChanging_ == value) return;
    isChanging_ = value;
    emit isChangingChanged();
}

}  // namespace yux::platform

#include "launch_at_startup.moc"
