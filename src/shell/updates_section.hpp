#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

#include "platform/updates/app_update_controller.hpp"
#include "shell/app_inspector_kit.hpp"

class QLabel;
class QVBoxLayout;

namespace yux {

// The update checks' section of the About page: one status row, the notifications switch, the
// check button and a caption. It holds no state: it is rebuilt whenever the controller changes.
class UpdatesSection : public QWidget {
    Q_OBJECT

public:
    enum class StatusRow { unavailable, updateWaiting, upToDate, failed, checking, lastCheck, noCheckYet };

    explicit UpdatesSection(platform::AppUpdateController& updates, QWidget* parent = nullptr);

    // First match wins: a waiting update outranks every check outcome.
    static StatusRow statusRowFor(const platform::AppUpdateController& updates);
    // "Last checked " with the date's short month and the time, in the user's locale.
    static QString lastCheckedText(const QDateTime& date, const QLocale& locale = QLocale());

    StatusRow statusRow() const { return statusRow_; }
    QString statusText() const { return statusText_; }
    QAbstractButton* notificationsSwitch() const { return switch_; }
    QAbstractButton* checkButton() const { return check_; }      // null while an update waits
    QAbstractButton* installButton() const { return install_; }  // null unless an update waits

private:
    void rebuild();

    platform::AppUpdateController& updates_;
    QVBoxLayout* layout_;
    StatusRow statusRow_ = StatusRow::noCheckYet;
    QString statusText_;
    QAbstractButton* switch_ = nullptr;
    QAbstractButton* check_ = nullptr;
    QAbstractButton* install_ = nullptr;
};

// The orange dot that tells of a waiting update; while none waits it shows nothing and takes
// no space.
class UpdateBadge : public QWidget {
    Q_OBJECT

public:
    static constexpr int kDiameter = 7;
    explicit UpdateBadge(platform::AppUpdateController& updates, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {kDiameter, kDiameter}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The About page; with a controller it ends with the "UPDATES" heading and the section.
AboutInspectorView* makeAboutInspectorView(const InspectorProduct& product, const InspectorPresentation& presentation,
                                           platform::AppUpdateController* updates,
                                           AboutInspectorView::OpenUrl openUrl = {}, QWidget* parent = nullptr);

}  // namespace yux
