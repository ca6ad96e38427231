#include "shell/menu_bar_panel.hpp"

#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

#include "platform/desktop/file_manager_reveal.hpp"
#include "platform/desktop/view_style.hpp"
#include "shell/app_inspector_kit.hpp"
#include "shell/panel_style.hpp"
#include "shell/menu_bar_panel_view_model.hpp"
#include "shell/record_tab.hpp"
#include "shell/launch_at_startup_row.hpp"
#include "shell/updates_section.hpp"

namespace yux {

namespace {

QLabel* label(const QString& text, const QFont& font, QWidget* parent) {
    auto* result = new QLabel(text, parent);
    result->setFont(font);
    result->setTextFormat(Qt::PlainText);
    result->setAttribute(Qt::WA_TransparentForMouseEvents);
    return result;
}

// A button whose children make its face; the whole rectangle takes the click.
class RowButton : public QAbstractButton {
public:
    explicit RowButton(QWidget* parent) : QAbstractButton(parent) { setCursor(Qt::PointingHandCursor); }
    QSize sizeHint() const override { return layout() ? layout()->sizeHint() : QSize(); }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!isDown() && !hasFocus()) return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(platform::secondaryColour(palette(), 0.12));
        painter.drawRoundedRect(QRectF(rect()), 6, 6);
    }
};

// One of the two tabs: accent with white text when selected, plain otherwise.
class TabItem : public QAbstractButton {
public:
    TabItem(platform::Symbol symbol, const QString& text, QWidget* parent) : QAbstractButton(parent), symbol_(symbol) {
        setText(text);
        setAccessibleName(text);
        setCheckable(true);
        setAutoExclusive(true);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setCursor(Qt::PointingHandCursor);
    }
    QSize sizeHint() const override {
        return {9 + 5 + QFontMetrics(font()).horizontalAdvance(text()) + 10, QFontMetrics(textFont()).height() + 10};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor ink = isChecked() ? QColor(Qt::white) : palette().color(QPalette::WindowText);
        if (isChecked()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(palette().color(QPalette::Active, QPalette::Highlight));
            painter.drawRoundedRect(QRectF(rect()), 6, 6);
        }
        const QFont font = textFont();
        const qreal textWidth = QFontMetricsF(font).horizontalAdvance(text());
        const qreal icon = 9;
        qreal x = width() / 2.0 - (icon + 5 + textWidth) / 2;
        platform::SymbolPainter::paint(painter, symbol_, QRectF(x, height() / 2.0 - icon / 2, icon, icon), ink);
        painter.setPen(ink);
        painter.setFont(font);
        painter.drawText(QRectF(x + icon + 5, 0, textWidth + 2, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }

private:
    static QFont textFont() { return panel_style::font(13, QFont::Medium); }
    platform::Symbol symbol_;
};

// Between the items of a horizontal stack that sets no spacing of its own.
constexpr int kStackSpacing = 8;

// A row of the footer: title, optional subtitle, chevron.
RowButton* navigationRow(const QString& title, const QString& subtitle, QWidget* parent) {
    auto* row = new RowButton(parent);
    row->setAccessibleName(title);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(InspectorStyle::padding, 10, InspectorStyle::padding, 10);
    layout->setSpacing(kStackSpacing);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(label(title, panel_style::font(12, QFont::DemiBold), row));
    if (!subtitle.isEmpty()) {
        QLabel* second = label(subtitle, panel_style::font(11), row);
        panel_style::setTextColour(*second, platform::secondaryColour(parent->palette()));
        texts->addWidget(second);
    }
    layout->addLayout(texts);
    layout->addStretch(1);
    layout->addWidget(new SymbolLabel(platform::Symbol::chevronRight, 10, platform::secondaryColour(parent->palette()), row));
    return row;
}

}  // namespace

std::string relativeTimeText(Date then, Date now) {
    const double difference = now.timeIntervalSinceReferenceDate - then.timeIntervalSinceReferenceDate;
    const double seconds = std::floor(std::abs(difference));
    struct Unit {
        double seconds;
        const char* one;
        const char* many;
    };
    // Largest first; a month and a year are their average lengths.
    static constexpr Unit kUnits[] = {
        {31556952, "yr.", "yr."}, {2629746, "mo.", "mo."}, {604800, "wk.", "wk."},
        {86400, "day", "days"},   {3600, "hr.", "hr."},    {60, "min.", "min."},
    };
    std::string amount;
    for (const Unit& unit : kUnits) {
        if (seconds >= unit.seconds) {
            const auto count = static_cast<long long>(seconds / unit.seconds);
            amount = std::to_string(count) + " " + (count == 1 ? unit.one : unit.many);
            break;
        }
    }
    if (amount.empty()) amount = std::to_string(static_cast<long long>(seconds)) + " sec.";
    return difference < 0 ? "in " + amount : amount + " ago";
}

MenuBarPanel::MenuBarPanel(MenuBarIntentHandling& intentHandler, MenuBarStateProviding& stateProvider,
                           Services services, QWidget* parent)
    : QWidget(parent), services_(std::move(services)) {
    model_ = new MenuBarPanelViewModel(intentHandler, stateProvider, services_.log, this);
    setFixedWidth(InspectorStyle::trayWidth);
    outer_ = new QVBoxLayout(this);
    outer_->setContentsMargins(0, 0, 0, 0);
    outer_->setSpacing(0);

    main_ = new QWidget(this);
    auto* stack = new QVBoxLayout(main_);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(InspectorStyle::padding, InspectorStyle::padding, InspectorStyle::padding, 0);
    header->addWidget(label(QStringLiteral("Yux"), panel_style::font(14, QFont::Bold), main_));
    header->addStretch(1);
    stack->addLayout(header);

    // The tab bar sits in a tinted rounded well.
    auto* well = new QFrame(main_);
    well->setObjectName("tabWell");
    well->setStyleSheet(QStringLiteral("QFrame#tabWell { border-radius: 8px; background: %1; }")
                            .arg(platform::secondaryColour(palette(), 0.12).name(QColor::HexArgb)));
    auto* tabs = new QHBoxLayout(well);
    tabs->setContentsMargins(2, 2, 2, 2);
    tabs->setSpacing(2);
    recordTabButton_ = new TabItem(platform::Symbol::circleFill, tr("Record"), well);
    historyTabButton_ = new TabItem(platform::Symbol::folder, tr("History"), well);
    recordTabButton_->setChecked(true);
    tabs->addWidget(recordTabButton_, 1);
    tabs->addWidget(historyTabButton_, 1);
    connect(recordTabButton_, &QAbstractButton::clicked, this, [this] { selectTab(PanelTab::record); });
    connect(historyTabButton_, &QAbstractButton::clicked, this, [this] { selectTab(PanelTab::history); });
    auto* wellBox = new QHBoxLayout;
    wellBox->setContentsMargins(InspectorStyle::padding, 10, InspectorStyle::padding, 10);
    wellBox->addWidget(well);
    stack->addLayout(wellBox);
    stack->addWidget(panel_style::divider(main_));

    auto* pageBox = new QVBoxLayout;
    pageBox->setContentsMargins(InspectorStyle::padding, 12, InspectorStyle::padding, 12);
    recordTab_ = new RecordTab(*model_, services_.inputs, services_.home, main_);
    pageBox->addWidget(recordTab_);
    history_ = new QWidget(main_);
    history_->setObjectName("history");
    auto* historyLayout = new QVBoxLayout(history_);
    historyLayout->setContentsMargins(0, 0, 0, 0);
    historyLayout->setSpacing(2);
    history_->hide();
    pageBox->addWidget(history_);
    stack->addLayout(pageBox);
    stack->addWidget(panel_style::divider(main_));

    const InspectorProduct product = AppProductConfiguration::product(services_.version);
    RowButton* settings = navigationRow(tr("Settings"), QString(), main_);
    connect(settings, &QAbstractButton::clicked, this, [this] { openInspector(InspectorPage::settings); });
    stack->addWidget(settings);
    stack->addWidget(panel_style::divider(main_));
    RowButton* about = navigationRow(tr("About"), product.version, main_);
    if (services_.updates) {
        // The dot stands beside the row rather than inside it: past the chevron's own padding,
        // then the stack's spacing, with the padding again after it. It takes room only while
        // an update waits.
        auto* slot = new QWidget(about);
        slot->setObjectName("updateBadgeSlot");
        slot->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* slotLayout = new QHBoxLayout(slot);
        slotLayout->setContentsMargins(InspectorStyle::padding, 0, 0, 0);
        slotLayout->addWidget(new UpdateBadge(*services_.updates, slot));
        static_cast<QHBoxLayout*>(about->layout())->addWidget(slot);
        platform::AppUpdateController* updates = services_.updates;
        const auto follow = [slot, updates] { slot->setVisible(updates->updateAvailable()); };
        connect(updates, &platform::AppUpdateController::updateAvailableChanged, slot, follow);
        follow();
    }
    connect(about, &QAbstractButton::clicked, this, [this] { openInspector(InspectorPage::about); });
    stack->addWidget(about);
    stack->addWidget(panel_style::divider(main_));
    auto* quitBox = new QHBoxLayout;
    quitBox->setContentsMargins(InspectorStyle::padding, 10, InspectorStyle::padding, 10);
    auto* quit = new QPushButton(tr("Quit"), main_);
    quit->setFlat(true);
    quit->setFont(panel_style::font(12));
    quit->setCursor(Qt::PointingHandCursor);
    quit->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; }"));
    panel_style::setTextColour(*quit, platform::secondaryColour(palette()));
    connect(quit, &QPushButton::clicked, this, [this] {
        if (services_.quit) services_.quit();
    });
    quitBox->addWidget(quit);
    quitBox->addStretch(1);
    stack->addLayout(quitBox);
    outer_->addWidget(main_);

    connect(model_, &MenuBarPanelViewModel::changed, this, [this] {
        rebuildHistory();
        update();
    });
    rebuildHistory();
}

MenuBarPanel::~MenuBarPanel() {
    // The views go before their model: a shortcut capture they end hands its resumption to it,
    // and what the model reads then must not rebuild views on their way out.
    model_->disconnect();
    delete page_;
    delete main_;
}

void MenuBarPanel::selectTab(PanelTab tab) {
    selectedTab_ = tab;
    setRevealFailure(std::nullopt);
    (tab == PanelTab::record ? recordTabButton_ : historyTabButton_)->setChecked(true);
    showCurrent();
}

void MenuBarPanel::openInspector(std::optional<InspectorPage> page) {
    inspector_ = page;
    if (page_) {
        page_->deleteLater();
        page_->hide();
        page_ = nullptr;
    }
    if (page == InspectorPage::settings) {
        page_ = new QWidget(this);
        auto* layout = new QVBoxLayout(page_);
        layout->setContentsMargins(InspectorStyle::padding, InspectorStyle::padding, InspectorStyle::padding,
                                   InspectorStyle::padding);
        layout->setSpacing(InspectorStyle::spacing);
        layout->addWidget(new InspectorHeader(tr("Settings"), [this] { openInspector(std::nullopt); }, page_));
        layout->addWidget(panel_style::divider(page_));
        if (services_.login) layout->addWidget(new LaunchAtStartupRow(*services_.login, page_));
        layout->addStretch(1);
    } else if (page == InspectorPage::about) {
        page_ = makeAboutInspectorView(AppProductConfiguration::product(services_.version),
                                       InspectorPresentation::trayDrillIn([this] { openInspector(std::nullopt); }),
                                       services_.updates, {}, this);
    }
    if (page_) outer_->addWidget(page_);
    showCurrent();
}

void MenuBarPanel::showCurrent() {
    // The recorder stops listening first, so a capture never outlives its tab.
    recordTab_->setRecorderVisible(!inspector_ && selectedTab_ == PanelTab::record);
    main_->setVisible(!inspector_);
    recordTab_->setVisible(selectedTab_ == PanelTab::record);
    history_->setVisible(selectedTab_ == PanelTab::history);
    if (page_) page_->show();
    if (QWidget* window = this->window(); window != this || isWindow()) window->adjustSize();
}

QColor MenuBarPanel::backgroundTint() const {
    const RecordingSessionState& state = model_->panelState().recordingState;
    if (state.recordingInfo() || state.isStopping()) {
        QColor red = platform::systemRed();
        red.setAlphaF(0.06);
        return red;
    }
    return Qt::transparent;
}

QSize MenuBarPanel::sizeHint() const {
    const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(InspectorStyle::trayWidth)
                                                     : layout()->totalSizeHint().height();
    return {InspectorStyle::trayWidth, height};
}

void MenuBarPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_->refresh();
}

void MenuBarPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), backgroundTint());
}

void MenuBarPanel::rebuildHistory() {
    auto* layout = static_cast<QVBoxLayout*>(history_->layout());
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    if (revealFailure_) {
        auto* failure = new StatusMessage(*revealFailure_, true, history_);
        failure->setObjectName("revealFailure");
        layout->addWidget(failure);
    }
    const std::vector<RecordingFile>& recent = model_->panelState().recent;
    if (recent.empty()) {
        auto* empty = new QWidget(history_);
        empty->setObjectName("emptyHistory");
        auto* column = new QVBoxLayout(empty);
        column->setContentsMargins(0, 24, 0, 24);
        column->setSpacing(6);
        column->addWidget(new SymbolLabel(platform::Symbol::filmStack, 24, platform::secondaryColour(palette(), 0.6), empty),
                          0, Qt::AlignHCenter);
        QLabel* text = label(tr("No recent recordings"), panel_style::font(12), empty);
        panel_style::setTextColour(*text, platform::secondaryColour(palette()));
        column->addWidget(text, 0, Qt::AlignHCenter);
        layout->addWidget(empty);
        return;
    }
    const Date now = services_.now();
    for (const RecordingFile& file : recent) {
        auto* row = new RowButton(history_);
        row->setObjectName("historyRow");
        const QString path = QString::fromStdString(file.path);
        row->setAccessibleName(QFileInfo(path).fileName());
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(4, 5, 4, 5);
        line->setSpacing(8);
        auto* iconBox = new QWidget(row);
        iconBox->setFixedWidth(16);
        iconBox->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* iconLayout = new QHBoxLayout(iconBox);
        iconLayout->setContentsMargins(0, 0, 0, 0);
        iconLayout->addWidget(new SymbolLabel(platform::Symbol::film, 10, platform::secondaryColour(palette()), iconBox),
                              0, Qt::AlignCenter);
        line->addWidget(iconBox);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        // One line, cut in the middle when too long for the panel.
        auto* name = new panel_style::MiddleElidedLabel(QFileInfo(path).fileName(), row);
        name->setFont(panel_style::font(12));
        name->setTextFormat(Qt::PlainText);
        name->setAttribute(Qt::WA_TransparentForMouseEvents);
        name->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        name->setObjectName("fileName");
        texts->addWidget(name);
        QLabel* when = label(QString::fromStdString(relativeTimeText(file.createdAt, now)), panel_style::font(10), row);
        when->setObjectName("relativeTime");
        panel_style::setTextColour(*when, platform::secondaryColour(palette(), 0.6));
        texts->addWidget(when);
        line->addLayout(texts, 1);
        line->addWidget(new SymbolLabel(platform::Symbol::arrowRightCircle, 11, platform::secondaryColour(palette(), 0.6), row));
        connect(row, &QAbstractButton::clicked, this, [this, path = file.path] { reveal(path); });
        layout->addWidget(row);
        if (file.path != recent.back().path) {
            auto* separator = panel_style::divider(history_);
            separator->setObjectName("historyDivider");
            auto* indent = new QWidget(history_);
            auto* indentLayout = new QHBoxLayout(indent);
            indentLayout->setContentsMargins(28, 0, 0, 0);
            indentLayout->addWidget(separator);
            layout->addWidget(indent);
        }
    }
}

void MenuBarPanel::reveal(const std::string& path) {
    if (!services_.reveal) return;
    setRevealFailure(std::nullopt);
    std::string absolute = path;
    if (absolute == "~" || absolute.starts_with("~/")) absolute = services_.home.toStdString() + absolute.substr(1);
    // The answer may come after the panel is gone.
    QPointer<MenuBarPanel> self(this);
    services_.reveal->reveal(absolute, [self](const std::string& folder) {
        if (self)
            self->setRevealFailure(QString::fromStdString(platform::FileManagerReveal::failureMessage(folder)));
    });
}

void MenuBarPanel::setRevealFailure(std::optional<QString> message) {
    if (revealFailure_ == message) return;
    revealFailure_ = std::move(message);
    rebuildHistory();
    showCurrent();
}

}  // namespace yux
