#include "shell/app_inspector_kit.hpp"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/desktop/activity_spinner.hpp"
#include "platform/desktop/view_style.hpp"
#include "shell/panel_style.hpp"

namespace yux {

namespace {

QString link(const QUrl& target, const QString& text) {
    return QStringLiteral("<a href=\"%1\">%2</a>")
        .arg(target.toString(QUrl::FullyEncoded).toHtmlEscaped(), text.toHtmlEscaped());
}

}  // namespace

const QFont& InspectorStyle::body() {
    static const QFont font = panel_style::font(12);
    return font;
}

const QFont& InspectorStyle::secondary() {
    static const QFont font = panel_style::font(11.5);
    return font;
}

InspectorProduct AppProductConfiguration::product(const QVariant& version, std::optional<QIcon> icon) {
    QString shown = version.typeId() == QMetaType::QString ? version.toString() : QString();
    if (shown.isEmpty()) shown = QString::fromLatin1(kDevelopmentVersion);
    return InspectorProduct{
        .name = QStringLiteral("Yux"),
        .version = shown,
        .designer = QStringLiteral(YUX_DESIGNER_NAME),
        .designerWebsite = QUrl(QStringLiteral(YUX_DESIGNER_URL)),
        .productWebsite = QUrl(QStringLiteral(YUX_PRODUCT_URL)),
        .icon = icon ? *icon : QGuiApplication::windowIcon(),
    };
}

SymbolLabel::SymbolLabel(platform::Symbol symbol, int size, std::optional<QColor> colour, QWidget* parent)
    : QWidget(parent), symbol_(symbol), colour_(colour) {
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QColor SymbolLabel::colour() const { return colour_.value_or(palette().color(QPalette::WindowText)); }

void SymbolLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    platform::SymbolPainter::paint(painter, symbol_, QRectF(rect()), colour());
}

InspectorHeader::InspectorHeader(const QString& title, std::function<void()> onBack, QWidget* parent)
    : QWidget(parent) {
    // Both layers share one cell, so the title stays centred whatever the button's width.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    title_ = new QLabel(title, this);
    title_->setAlignment(Qt::AlignCenter);
    title_->setFont(panel_style::font(13, QFont::DemiBold));
    layout->addWidget(title_, 0, 0);

    auto* back = new QToolButton(this);
    back->setText(tr("Back"));
    back->setIcon(platform::SymbolPainter::icon(platform::Symbol::chevronLeft, palette().color(QPalette::WindowText), 12));
    back->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    back->setAutoRaise(true);
    back->setAccessibleName(tr("Back from ") + title);
    back->setFont(panel_style::font(11));
    connect(back, &QToolButton::clicked, this, [onBack = std::move(onBack)] {
        if (onBack) onBack();
    });
    back_ = back;
    auto* row = new QHBoxLayout;
    row->addWidget(back);
    row->addStretch(1);
    layout->addLayout(row, 0, 0);
}

CardRow::CardRow(std::optional<QColor> tint, const QList<QWidget*>& content, QWidget* parent)
    : QWidget(parent), tint_(tint) {
    setFont(InspectorStyle::body());
    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(InspectorStyle::spacing);
    layout->setContentsMargins(10, 7, 10, 7);
    for (QWidget* item : content) layout->addWidget(item, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QColor CardRow::backgroundColour() const {
    QColor colour = tint_.value_or(palette().color(QPalette::WindowText));
    colour.setAlphaF(tint_ ? 0.1 : 0.06);
    return colour;
}

QColor CardRow::borderColour() const {
    if (!tint_) return Qt::transparent;
    QColor colour = *tint_;
    colour.setAlphaF(0.35);
    return colour;
}

void CardRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The border lies inside the edge: half a pixel in.
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setBrush(backgroundColour());
    painter.setPen(QPen(borderColour(), 1));
    painter.drawRoundedRect(box, InspectorStyle::rowRadius, InspectorStyle::rowRadius);
}

NavRow::NavRow(platform::Symbol icon, const QString& title, std::function<void()> action, QWidget* trailing,
               QWidget* parent)
    : QAbstractButton(parent) {
    setText(title);
    setCursor(Qt::PointingHandCursor);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(new SymbolLabel(icon, 14, std::nullopt, this));
    auto* label = new QLabel(title, this);
    QFont font = label->font();
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(label);
    if (trailing) {
        trailing->setParent(this);
        trailing->setAttribute(Qt::WA_TransparentForMouseEvents);
        layout->addWidget(trailing);
    }
    layout->addStretch(1);
    layout->addWidget(new SymbolLabel(platform::Symbol::chevronRight, 10, platform::secondaryColour(palette()), this));
    connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] {
        if (action) action();
    });
}

void NavRow::paintEvent(QPaintEvent*) {
    // The row draws nothing of its own but a hint of focus and of being pressed.
    if (!isDown() && !hasFocus()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(platform::secondaryColour(palette(), 0.15));
    painter.drawRoundedRect(QRectF(rect()), InspectorStyle::fieldRadius, InspectorStyle::fieldRadius);
}

ProgressRow::ProgressRow(const QString& message, QWidget* parent) : QWidget(parent) {
    setFont(InspectorStyle::secondary());
    panel_style::setTextColour(*this, platform::secondaryColour(palette()));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(new platform::ActivitySpinner(12, this));
    auto* text = new QLabel(message, this);
    text->setWordWrap(true);
    layout->addWidget(text, 1);
}

StatusMessage::StatusMessage(const QString& message, bool isError, QWidget* parent)
    : QWidget(parent), isError_(isError) {
    const QColor colour = isError ? platform::systemOrange() : platform::secondaryColour(palette());
    setFont(InspectorStyle::secondary());
    panel_style::setTextColour(*this, colour);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    symbol_ = new SymbolLabel(isError ? platform::Symbol::exclamationmarkTriangle : platform::Symbol::infoCircle, 12,
                              colour, this);
    layout->addWidget(symbol_, 0, Qt::AlignTop);
    text_ = new QLabel(message, this);
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    layout->addWidget(text_, 1);
    // As tall as the wrapped text needs, as wide as it is given.
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int StatusMessage::heightForWidth(int width) const { return layout()->totalHeightForWidth(width); }

AboutInspectorView::AboutInspectorView(const InspectorProduct& product, const InspectorPresentation& presentation,
                                       QWidget* additionalContent, OpenUrl openUrl, QWidget* parent)
    : QWidget(parent) {
    if (!openUrl) openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    auto* page = new QVBoxLayout(this);
    page->setSpacing(kRowSpacing);
    page->setContentsMargins(InspectorStyle::padding, InspectorStyle::padding, InspectorStyle::padding,
                             InspectorStyle::padding);
    if (presentation.isTrayDrillIn()) {
        auto* header = new InspectorHeader(tr("About"), presentation.onBack(), this);
        header->setObjectName("inspectorHeader");
        page->addWidget(header);
        auto* divider = new QFrame(this);
        divider->setObjectName("divider");
        divider->setFrameShape(QFrame::HLine);
        divider->setFrameShadow(QFrame::Plain);
        panel_style::setTextColour(*divider, platform::secondaryColour(palette(), 0.4));
        page->addWidget(divider);
    }

    auto* block = new QHBoxLayout;
    block->setSpacing(10);
    if (!product.icon.isNull()) {
        auto* icon = new QLabel(this);
        icon->setObjectName("productIcon");
        icon->setFixedSize(40, 40);
        icon->setPixmap(product.icon.pixmap(QSize(40, 40), devicePixelRatioF()));
        icon->setScaledContents(false);
        icon->setAlignment(Qt::AlignCenter);
        block->addWidget(icon, 0, Qt::AlignTop);
    }
    auto* lines = new QVBoxLayout;
    lines->setSpacing(3);
    auto* name = new QLabel(product.name, this);
    name->setObjectName("productName");
    name->setTextFormat(Qt::PlainText);
    name->setFont(panel_style::font(13, QFont::DemiBold));
    lines->addWidget(name);
    auto* credit = new QLabel(tr("Version ") + product.version + tr(" · Designed by ") + product.designer, this);
    credit->setObjectName("credit");
    credit->setTextFormat(Qt::PlainText);
    credit->setWordWrap(true);
    credit->setFont(InspectorStyle::secondary());
    panel_style::setTextColour(*credit, platform::secondaryColour(palette()));
    lines->addWidget(credit);

    auto* links = new QHBoxLayout;
    links->setSpacing(6);
    auto addLink = [&](const char* objectName, const QUrl& target, const QString& text) {
        auto* label = new QLabel(link(target, text), this);
        label->setObjectName(objectName);
        label->setTextFormat(Qt::RichText);
        label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        label->setFont(InspectorStyle::secondary());
        connect(label, &QLabel::linkActivated, this, [openUrl, target](const QString&) { openUrl(target); });
        links->addWidget(label);
    };
    addLink("designerLink", product.designerWebsite, product.designer);
    auto* dot = new QLabel(QStringLiteral("\u00B7"), this);
    dot->setFont(InspectorStyle::secondary());
    panel_style::setTextColour(*dot, platform::secondaryColour(palette()));
    links->addWidget(dot);
    addLink("productLink", product.productWebsite, tr("Product Page"));
    links->addStretch(1);
    lines->addLayout(links);
    block->addLayout(lines, 1);
    page->addLayout(block);

    if (additionalContent) {
        additionalContent->setParent(this);
        page->addWidget(additionalContent);
    }
    page->addStretch(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

}  // namespace yux
