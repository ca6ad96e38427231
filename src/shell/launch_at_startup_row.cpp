#include "shell/launch_at_startup_row.hpp"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/card_button.hpp"
#include "shell/app_inspector_kit.hpp"
#include "shell/panel_style.hpp"

namespace yux {

LaunchAtStartupRow::LaunchAtStartupRow(platform::LaunchAtStartup& login, QWidget* parent)
    : QWidget(parent), login_(login), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(InspectorStyle::spacing);
    for (auto signal : {&platform::LaunchAtStartup::enabledChanged, &platform::LaunchAtStartup::requiresApprovalChanged,
                        &platform::LaunchAtStartup::errorMessageChanged, &platform::LaunchAtStartup::isChangingChanged})
        connect(&login_, signal, this, &LaunchAtStartupRow::rebuild);
    rebuild();
}

void LaunchAtStartupRow::rebuild() {
    clearRebuiltLayout(*layout_);
    approval_ = nullptr;
    error_ = nullptr;

    const bool on = login_.enabled();
    const std::optional<QColor> tint = on ? std::optional(platform::systemGreen()) : std::nullopt;
    auto* symbol = new SymbolLabel(on ? platform::Symbol::checkmarkCircleFill : platform::Symbol::circle, 14,
                                   on ? platform::systemGreen() : platform::secondaryColour(palette()));
    auto* title = new QLabel(tr("Launch at Startup"));
    cardRow_ = new CardRow(tint, {symbol, title});
    card_ = new CardButton(cardRow_, this);
    card_->setAccessibleName(tr("Launch at Startup"));
    card_->setEnabled(!login_.isChanging());
    connect(card_, &QAbstractButton::clicked, &login_, [login = QPointer(&login_)] {
        if (login) login->toggle();
    });
    layout_->addWidget(card_);

    if (login_.requiresApproval()) {
        approval_ = new QPushButton(tr("Allow in Login Items…"), this);
        connect(approval_, &QAbstractButton::clicked, &login_, [login = QPointer(&login_)] {
            if (login) login->openLoginItems();
        });
        layout_->addWidget(approval_, 0, Qt::AlignLeft);
    }
    if (const auto& message = login_.errorMessage()) {
        error_ = new StatusMessage(QString::fromStdString(*message), true, this);
        layout_->addWidget(error_);
    }
}

void LaunchAtStartupRow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    login_.refresh();
    if (!activation_)
        activation_ = connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive) login_.refresh();
        });
}

void LaunchAtStartupRow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    disconnect(activation_);
    activation_ = {};
}

}  // namespace yux
