#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

#include "platform/desktop/launch_at_startup.hpp"

class QVBoxLayout;

namespace yux {

class CardRow;
class StatusMessage;

// The Settings row that switches starting at login: one card to click, an approval button
// (never needed on this desktop, kept for a platform that asks) and an error line. It reads
// the entry again when it comes on screen and whenever the application becomes active.
class LaunchAtStartupRow : public QWidget {
    Q_OBJECT

public:
    explicit LaunchAtStartupRow(platform::LaunchAtStartup& login, QWidget* parent = nullptr);

    QAbstractButton* card() const { return card_; }
    CardRow* cardRow() const { return cardRow_; }
    QAbstractButton* approvalButton() const { return approval_; }  // null while not shown
    StatusMessage* errorLine() const { return error_; }            // null while not shown

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void rebuild();

    platform::LaunchAtStartup& login_;
    QVBoxLayout* layout_;
    QAbstractButton* card_ = nullptr;
    CardRow* cardRow_ = nullptr;
    QAbstractButton* approval_ = nullptr;
    StatusMessage* error_ = nullptr;
    QMetaObject::Connection activation_;
};

}  // namespace yux
