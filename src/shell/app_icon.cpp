#include "shell/app_icon.hpp"

#include <QFile>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <stdexcept>

#include "platform/desktop/symbol_painter.hpp"

namespace yux {

namespace {

// The picture's layout on a 256-unit canvas: a rounded square inset a little, as desktops
// expect of application icons, and the symbol's 100-unit grid scaled into its middle.
constexpr qreal kCanvas = 256;
constexpr qreal kSquareInset = 8;
constexpr qreal kSquareRadius = 54;
constexpr qreal kSymbolSide = 160;
// The record symbol on its 100-unit grid: a ring and a disc (the symbol painter draws the same).
constexpr qreal kGrid = 100;
constexpr qreal kRingOuter = 46;
constexpr qreal kRingInner = 38;
constexpr qreal kDisc = 26;

QRectF scaled(const QRectF& box, qreal x, qreal y, qreal width, qreal height) {
    const qreal unit = std::min(box.width(), box.height()) / kCanvas;
    return {box.x() + x * unit, box.y() + y * unit, width * unit, height * unit};
}

}  // namespace

void AppIcon::paint(QPainter& painter, const QRectF& box) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(accent());
    const qreal unit = std::min(box.width(), box.height()) / kCanvas;
    const QRectF square = scaled(box, kSquareInset, kSquareInset, kCanvas - 2 * kSquareInset, kCanvas - 2 * kSquareInset);
    painter.drawRoundedRect(square, kSquareRadius * unit, kSquareRadius * unit);
    const qreal symbolOrigin = (kCanvas - kSymbolSide) / 2;
    platform::SymbolPainter::paint(painter, platform::Symbol::recordCircle,
                                   scaled(box, symbolOrigin, symbolOrigin, kSymbolSide, kSymbolSide), Qt::white);
    painter.restore();
}

QImage AppIcon::image(int size) {
    QImage result(size, size, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    paint(painter, QRectF(0, 0, size, size));
    painter.end();
    return result;
}

QIcon AppIcon::icon() {
    QIcon result;
    for (const int size : kPngSizes) result.addPixmap(QPixmap::fromImage(image(size)));
    return result;
}

QByteArray AppIcon::svg() {
    const qreal side = kCanvas - 2 * kSquareInset;
    const qreal centre = kCanvas / 2;
    const qreal unit = kSymbolSide / kGrid;
    // The ring as its centre line stroked to its width.
    const QString text =
        QStringLiteral(
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" viewBox=\"0 0 %1 %1\">\n"
            "  <rect x=\"%2\" y=\"%2\" width=\"%3\" height=\"%3\" rx=\"%4\" ry=\"%4\" fill=\"%5\"/>\n"
            "  <circle cx=\"%6\" cy=\"%6\" r=\"%7\" fill=\"none\" stroke=\"#ffffff\" stroke-width=\"%8\"/>\n"
            "  <circle cx=\"%6\" cy=\"%6\" r=\"%9\" fill=\"#ffffff\"/>\n"
            "</svg>\n")
            .arg(kCanvas)
            .arg(kSquareInset)
            .arg(side)
            .arg(kSquareRadius)
            .arg(accent().name())
            .arg(centre)
            .arg((kRingOuter + kRingInner) / 2 * unit)
            .arg((kRingOuter - kRingInner) * unit)
            .arg(kDisc * unit);
    return text.toUtf8();
}

void AppIcon::writeThemeFiles(const std::filesystem::path& folder) {
    const std::filesystem::path theme = folder / "hicolor";
    auto write = [](const std::filesystem::path& file, const QByteArray& bytes) {
        std::filesystem::create_directories(file.parent_path());
        QFile out(QString::fromStdString(file.string()));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size() || !out.flush())
            throw std::runtime_error("Could not write the icon file " + file.string() + ".");
    };
    for (const int size : kPngSizes) {
        const std::string sizeName = std::to_string(size) + "x" + std::to_string(size);
        const auto file = theme / sizeName / "apps" / (std::string(kName) + ".png");
        std::filesystem::create_directories(file.parent_path());
        if (!image(size).save(QString::fromStdString(file.string()), "PNG"))
            throw std::runtime_error("Could not write the icon file " + file.string() + ".");
    }
    write(theme / "scalable" / "apps" / (std::string(kName) + ".svg"), svg());
}

}  // namespace yux
