#pragma once

#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <qcoro/qcorotask.h>

#include "platform/desktop/autostart_entry.hpp"
#include "platform/desktop/system_log.hpp"

namespace yux::platform {

// Mirrors whether Yux starts at login and switches it. The autostart entry is the only record;
// this object reads it back on refresh() and never remembers a choice of its own. Main thread.
class LaunchAtStartup : public QObject {
    Q_OBJECT
public:
    LaunchAtStartup(std::shared_ptr<AutostartEntry> entry, SystemLog log, QObject* parent = nullptr);

    bool enabled() const { return enabled_; }
    bool requiresApproval() const { return requiresApproval_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    bool isChanging() const { return isChanging_; }

    void refresh();
    // A call while a switch runs returns at once.
    QCoro::Task<void> toggle();
    void openLoginItems();
    // At start: an entry that is on but names another program (the clone moved, or another
    // build wrote it) is pointed at this one; the change or its failure is logged.
    void repointEntry();

signals:
    void enabledChanged();
    void requiresApprovalChanged();
    void errorMessageChanged();
    void isChangingChanged();

private:
    void setEnabled(bool value);
    void setRequiresApproval(bool value);
    void setErrorMessage(std::optional<std::string> value);
    void setChanging(bool value);

    std::shared_ptr<AutostartEntry> entry_;
    SystemLog log_;
    bool enabled_ = false;
    bool requiresApproval_ = false;
    std::optional<std::string> errorMessage_;
    bool isChanging_ = false;
};

}  // namespace yux::platform
