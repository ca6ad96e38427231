#pragma once

// AppInspectorKit: the small kit the pages inside the tray panel are built from (the About
// page, settings rows, progress and status lines). Each view shows only what it was built with; its owner builds it
// anew when what it shows changes. Main thread only.

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <optional>

#include "platform/desktop/symbol_painter.hpp"

class QLabel;

namespace yux {

// Layout of the panel's pages, in logical pixels.
namespace InspectorStyle {
inline constexpr int trayWidth = 340;   // the panel hosting the pages
inline constexpr int padding = 14;      // around a page
inline constexpr int spacing = 8;       // between rows, and between the items of a card row
inline constexpr int fieldRadius = 6;
inline constexpr int rowRadius = 8;     // card rows
inline constexpr int cardRadius = 10;
// Text inside a card row (12 px) and secondary lines (11.5 px); made once and shared.
const QFont& body();
const QFont& secondary();
}  // namespace InspectorStyle

// What the About page tells about a product.
struct InspectorProduct {
    QString name;
    QString version;
    QString designer;
    QUrl designerWebsite;
    QUrl productWebsite;
    QIcon icon;  // null: no icon is shown
};

struct AppProductConfiguration {
    // "Development" stands for a version that is missing, empty or not text.
    static constexpr const char* kDevelopmentVersion = "Development";
    // Yux's own description; `version` is the build's version setting as read, untyped. The icon
    // is the running application's unless one is given.
    static InspectorProduct product(const QVariant& version, std::optional<QIcon> icon = std::nullopt);
};

// A page pushed inside the tray gets a header with a back action; an embedded one has none.
class InspectorPresentation {
public:
    static InspectorPresentation trayDrillIn(std::function<void()> onBack) {
        return InspectorPresentation(std::move(onBack));
    }
    static InspectorPresentation embedded() { return InspectorPresentation({}); }

    bool isTrayDrillIn() const { return static_cast<bool>(onBack_); }
    const std::function<void()>& onBack() const { return onBack_; }

private:
    explicit InspectorPresentation(std::function<void()> onBack) : onBack_(std::move(onBack)) {}
    std::function<void()> onBack_;
};

// A painted symbol of a fixed size; without a colour of its own it takes the window text's.
class SymbolLabel : public QWidget {
    Q_OBJECT

public:
    SymbolLabel(platform::Symbol symbol, int size, std::optional<QColor> colour = std::nullopt,
                QWidget* parent = nullptr);
    platform::Symbol symbol() const { return symbol_; }
    QColor colour() const;
    void setColour(std::optional<QColor> colour) {
        colour_ = colour;
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    platform::Symbol symbol_;
    std::optional<QColor> colour_;
};

// A page's title, centred over the whole width, with a back button at the leading edge.
class InspectorHeader : public QWidget {
    Q_OBJECT

public:
    InspectorHeader(const QString& title, std::function<void()> onBack, QWidget* parent = nullptr);
    QAbstractButton* backButton() const { return back_; }
    QLabel* titleLabel() const { return title_; }

private:
    QLabel* title_;
    QAbstractButton* back_;
};

// A rounded card holding a row of items; a tint colours its background and border.
class CardRow : public QWidget {
    Q_OBJECT

public:
    CardRow(std::optional<QColor> tint, const QList<QWidget*>& content, QWidget* parent = nullptr);
    QColor backgroundColour() const;
    QColor borderColour() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QColor> tint_;
};

// A row that opens something: icon, title, an optional trailing view, then a chevron. The
// whole row is the button.
class NavRow : public QAbstractButton {
    Q_OBJECT

public:
    NavRow(platform::Symbol icon, const QString& title, std::function<void()> action, QWidget* trailing = nullptr,
           QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Work under way: a small spinner and what it is doing.
class ProgressRow : public QWidget {
    Q_OBJECT

public:
    explicit ProgressRow(const QString& message, QWidget* parent = nullptr);
};

// A line of information or, in orange, of warning; a long one wraps.
class StatusMessage : public QWidget {
    Q_OBJECT

public:
    StatusMessage(const QString& message, bool isError, QWidget* parent = nullptr);
    bool isError() const { return isError_; }
    QLabel* textLabel() const { return text_; }
    SymbolLabel* symbolLabel() const { return symbol_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

private:
    bool isError_;
    QLabel* text_;
    SymbolLabel* symbol_;
};

// The About page: the product, its links, and whatever its owner adds below.
class AboutInspectorView : public QWidget {
    Q_OBJECT

public:
    using OpenUrl = std::function<void(const QUrl&)>;
    // Between the page's rows; extra content continues the page at the same spacing.
    static constexpr int kRowSpacing = 9;

    // `additionalContent` is taken over; `openUrl` opens an activated link (by default the
    // desktop's handler does).
    AboutInspectorView(const InspectorProduct& product, const InspectorPresentation& presentation,
                       QWidget* additionalContent = nullptr, OpenUrl openUrl = {}, QWidget* parent = nullptr);
};

}  // namespace yux
