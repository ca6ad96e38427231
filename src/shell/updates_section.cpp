#include "shell/updates_section.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/card_button.hpp"
#include "shell/panel_style.hpp"

namespace yux {

namespace {

using Controller = platform::AppUpdateController;
using Kind = Controller::CheckOutcome::Kind;

// A small on/off switch: a pill with a knob, in the accent colour while on.
class Switch : public QAbstractButton {
public:
    explicit Switch(const QString& title, QWidget* parent) : QAbstractButton(parent) {
        setText(title);
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
        setAccessibleName(title);
    }
    QSize sizeHint() const override { return {26, 15}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QColor fill = isChecked() ? palette().color(QPalette::Highlight) : platform::secondaryColour(palette(), 0.35);
        if (!isEnabled()) fill.setAlphaF(fill.alphaF() * 0.45);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
        const qreal knob = track.height() - 3;
        const qreal x = isChecked() ? track.right() - knob - 1.5 : track.left() + 1.5;
        painter.setBrush(Qt::white);
        painter.drawEllipse(QRectF(x, track.top() + 1.5, knob, knob));
    }
};


// Pushes what follows it in a card to the trailing edge: it outweighs the card's own end stretch.
constexpr int kSpacerStretch = 100;

QWidget* spacer() {
    auto* widget = new QWidget;
    widget->setObjectName(QStringLiteral("spacer"));
    widget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return widget;
}

CardRow* card(std::optional<QColor> tint, const QList<QWidget*>& content, QWidget* parent = nullptr) {
    auto* row = new CardRow(tint, content, parent);
    auto* layout = static_cast<QBoxLayout*>(row->layout());
    for (QWidget* item : content)
        if (item->objectName() == QStringLiteral("spacer")) layout->setStretchFactor(item, kSpacerStretch);
    return row;
}

QLabel* text(const QString& value) { return new QLabel(value); }

}  // namespace

UpdatesSection::UpdatesSection(Controller& updates, QWidget* parent)
    : QWidget(parent), updates_(updates), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(InspectorStyle::spacing);
    for (auto signal : {&Controller::checkOutcomeChanged, &Controller::unavailableMessageChanged,
                        &Controller::updateAvailableChanged, &Controller::availableVersionChanged,
                        &Controller::canCheckForUpdatesChanged, &Controller::notificationsEnabledChanged,
                        &Controller::lastCheckedAtChanged})
        connect(&updates_, signal, this, &UpdatesSection::rebuild);
    rebuild();
}

UpdatesSection::StatusRow UpdatesSection::statusRowFor(const Controller& updates) {
    if (updates.unavailableMessage()) return StatusRow::unavailable;
    if (updates.updateAvailable()) return StatusRow::updateWaiting;
    switch (updates.checkOutcome().kind) {
        case Kind::upToDate: return StatusRow::upToDate;
        case Kind::failed: return StatusRow::failed;
        case Kind::checking: return StatusRow::checking;
        case Kind::notChecked:
        case Kind::available: break;
    }
    return updates.lastCheckedAt() ? StatusRow::lastCheck : StatusRow::noCheckYet;
}

QString UpdatesSection::lastCheckedText(const QDateTime& date, const QLocale& locale) {
    const QDateTime local = date.toLocalTime();
    // The locale's long date, with its month name shortened and without the weekday.
    QString format = locale.dateFormat(QLocale::LongFormat);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    format.remove(QStringLiteral("dddd, ")).remove(QStringLiteral("dddd "));
    return tr("Last checked ") + locale.toString(local.date(), format) + QStringLiteral(", ") +
           locale.toString(local.time(), QLocale::ShortFormat);
}

void UpdatesSection::rebuild() {
    clearRebuiltLayout(*layout_);
    check_ = nullptr;
    install_ = nullptr;
    const QColor secondary = platform::secondaryColour(palette());

    statusRow_ = statusRowFor(updates_);
    QWidget* status = nullptr;
    switch (statusRow_) {
        case StatusRow::unavailable:
            statusText_ = QString::fromStdString(*updates_.unavailableMessage());
            status = new StatusMessage(statusText_, false, this);
            break;
        case StatusRow::updateWaiting: {
            const auto& version = updates_.availableVersion();
            statusText_ = version && !version->empty() ? tr("Version ") + QString::fromStdString(*version) + tr(" available")
                                  : tr("New version available");
            auto* install = new QPushButton(tr("Install…"));
            install->setDefault(true);
            install->setEnabled(updates_.canCheckForUpdates());
            install->setFont(panel_style::font(11));
            install->setCursor(Qt::PointingHandCursor);
            // The prominent look: filled with the accent, white text; paler while it cannot act.
            const QColor accent = palette().color(QPalette::Active, QPalette::Highlight);
            QColor pale = accent;
            pale.setAlphaF(0.45);
            install->setStyleSheet(
                QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 5px;"
                               " padding: 2px 9px; } QPushButton:pressed { background: %2; }"
                               " QPushButton:disabled { background: %3; color: rgba(255, 255, 255, 210); }")
                    .arg(accent.name(), accent.darker(115).name(), pale.name(QColor::HexArgb)));
            connect(install, &QAbstractButton::clicked, &updates_,
                    [updates = QPointer(&updates_)] { if (updates) updates->checkForUpdates(); });
            install_ = install;
            status = card(platform::systemOrange(),
                                 {new SymbolLabel(platform::Symbol::arrowUpCircle, 14, platform::systemOrange()),
                                  text(statusText_), spacer(), install},
                                 this);
            break;
        }
        case StatusRow::upToDate:
            statusText_ = tr("Up to date");
            status = card(std::nullopt,
                                 {new SymbolLabel(platform::Symbol::checkmarkCircle, 14, platform::systemGreen()),
                                  text(statusText_)},
                                 this);
            break;
        case StatusRow::failed:
            statusText_ = QStringLiteral("Could not check for updates. Try again.");
            status = new StatusMessage(statusText_, true, this);
            break;
        case StatusRow::checking:
            statusText_ = QStringLiteral("Checking for updates…");
            status = new ProgressRow(statusText_, this);
            break;
        case StatusRow::lastCheck:
            statusText_ = lastCheckedText(*updates_.lastCheckedAt());
            status = card(std::nullopt, {new SymbolLabel(platform::Symbol::clock, 14), text(statusText_)}, this);
            break;
        case StatusRow::noCheckYet:
            statusText_ = tr("Not checked yet");
            status = card(std::nullopt, {new SymbolLabel(platform::Symbol::clock, 14), text(statusText_)}, this);
            break;
    }
    status->setObjectName(QStringLiteral("updatesStatus"));
    layout_->addWidget(status);

    auto* toggle = new Switch(tr("Update Notifications"), nullptr);
    toggle->setChecked(updates_.notificationsEnabled());
    toggle->setEnabled(!updates_.unavailableMessage());
    // The switch shows the controller's value: without an updater the click changes nothing,
    // so it goes back.
    connect(toggle, &QAbstractButton::clicked, this, [this, toggle](bool on) {
        updates_.setNotificationsEnabled(on);
        toggle->setChecked(updates_.notificationsEnabled());
    });
    switch_ = toggle;
    layout_->addWidget(card(std::nullopt,
                                   {new SymbolLabel(platform::Symbol::bell, 14, secondary),
                                    text(tr("Update Notifications")), spacer(), toggle},
                                   this));

    if (!updates_.updateAvailable()) {
        auto* face = card(std::nullopt,
                                 {new SymbolLabel(platform::Symbol::arrowClockwise, 14, secondary),
                                  text(tr("Check for Updates")), spacer(),
                                  new SymbolLabel(platform::Symbol::chevronRight, 10, secondary)});
        auto* button = new CardButton(face, this);
        button->setAccessibleName(tr("Check for Updates"));
        button->setEnabled(updates_.canCheckForUpdates());
        connect(button, &QAbstractButton::clicked, &updates_,
                [updates = QPointer(&updates_)] { if (updates) updates->checkForUpdates(); });
        check_ = button;
        layout_->addWidget(button);
    }

    auto* caption = new QLabel(tr("Checked daily. You choose when to install."), this);
    caption->setFont(InspectorStyle::secondary());
    panel_style::setTextColour(*caption, secondary);
    caption->setWordWrap(true);
    layout_->addWidget(caption);
}

UpdateBadge::UpdateBadge(Controller& updates, QWidget* parent) : QWidget(parent) {
    setFixedSize(kDiameter, kDiameter);
    setAccessibleName(tr("New version available"));
    const auto follow = [this, &updates] { setVisible(updates.updateAvailable()); };
    connect(&updates, &Controller::updateAvailableChanged, this, follow);
    setVisible(updates.updateAvailable());
}

void UpdateBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(platform::systemOrange());
    painter.drawEllipse(QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25));
}

AboutInspectorView* makeAboutInspectorView(const InspectorProduct& product, const InspectorPresentation& presentation,
                                           Controller* updates, AboutInspectorView::OpenUrl openUrl, QWidget* parent) {
    QWidget* content = nullptr;
    if (updates) {
        content = new QWidget;
        auto* layout = new QVBoxLayout(content);
        // Two more rows of the page: 4 more above the heading, the page's spacing below it.
        layout->setContentsMargins(0, 4, 0, 0);
        layout->setSpacing(AboutInspectorView::kRowSpacing);
        auto* heading = new QLabel(QObject::tr("UPDATES"), content);
        heading->setObjectName(QStringLiteral("updatesHeading"));
        QFont font = panel_style::font(10.5, QFont::Bold);
        font.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
        heading->setFont(font);
        panel_style::setTextColour(*heading, platform::secondaryColour(heading->palette()));
        layout->addWidget(heading);
        layout->addWidget(new UpdatesSection(*updates, content));
    }
    return new AboutInspectorView(product, presentation, content, std::move(openUrl), parent);
}

}  // namespace yux
