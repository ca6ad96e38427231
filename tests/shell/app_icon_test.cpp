#include "shell/app_icon.hpp"

#include <gtest/gtest.h>

#include <QFile>
#include <QPainter>
#include <QXmlStreamReader>

#include <cmath>

#include "support/screenshot_writer.hpp"
#include "support/temporary_directory.hpp"

using namespace yux;

namespace {

enum class Ink { none, accent, white, mixed };

Ink inkOf(QColor colour) {
    if (colour.alpha() == 0) return Ink::none;
    if (colour.alpha() < 255) return Ink::mixed;
    auto near = [&](QColor other) {
        return std::abs(colour.red() - other.red()) <= 2 && std::abs(colour.green() - other.green()) <= 2 &&
               std::abs(colour.blue() - other.blue()) <= 2;
    };
    if (near(Qt::white)) return Ink::white;
    if (near(AppIcon::accent())) return Ink::accent;
    return Ink::mixed;
}

// The SVG's shapes, read back, so its picture can be compared with the drawn one.
struct SvgPicture {
    QRectF square;
    qreal radius = 0;
    struct Circle {
        QPointF centre;
        qreal r;
        qreal strokeWidth;  // 0: filled
    };
    std::vector<Circle> circles;
    QString viewBox;

    // What the SVG paints at a point, and how far the point is from any edge of a shape.
    std::pair<Ink, qreal> at(QPointF p) const {
        Ink ink = Ink::none;
        const QPointF inner(std::clamp(p.x(), square.left() + radius, square.right() - radius),
                            std::clamp(p.y(), square.top() + radius, square.bottom() - radius));
        const qreal cornerDistance = std::hypot(p.x() - inner.x(), p.y() - inner.y());
        qreal margin = std::abs(cornerDistance - radius);
        if (cornerDistance <= radius) ink = Ink::accent;
        for (const Circle& circle : circles) {
            const qreal d = std::hypot(p.x() - circle.centre.x(), p.y() - circle.centre.y());
            const qreal edge = circle.strokeWidth > 0 ? std::abs(d - circle.r) - circle.strokeWidth / 2 : d - circle.r;
            margin = std::min(margin, std::abs(edge));
            if (edge <= 0) ink = Ink::white;
        }
        return {ink, margin};
    }
};

SvgPicture readSvg(const QByteArray& document) {
    SvgPicture picture;
    QXmlStreamReader reader(document);
    while (reader.readNextStartElement()) {
        const auto a = reader.attributes();
        auto number = [&](const char* name) { return a.value(QLatin1String(name)).toDouble(); };
        if (reader.name() == QLatin1String("svg")) {
            picture.viewBox = a.value(QLatin1String("viewBox")).toString();
            continue;  // into its children
        }
        if (reader.name() == QLatin1String("rect")) {
            picture.square = QRectF(number("x"), number("y"), number("width"), number("height"));
            picture.radius = number("rx");
            EXPECT_EQ(a.value(QLatin1String("fill")).toString(), AppIcon::accent().name());
        } else if (reader.name() == QLatin1String("circle")) {
            const bool stroked = a.value(QLatin1String("fill")) == QLatin1String("none");
            picture.circles.push_back({{number("cx"), number("cy")}, number("r"), stroked ? number("stroke-width") : 0});
        }
        reader.skipCurrentElement();
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return picture;
}

}  // namespace

TEST(AppIcon, EverySizeShowsTheWhiteSymbolOnTheAccentSquareWithClearCorners) {
    for (const int size : AppIcon::kPngSizes) {
        SCOPED_TRACE(size);
        const QImage image = AppIcon::image(size);
        ASSERT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(inkOf(image.pixelColor(0, 0)), Ink::none);
        EXPECT_EQ(inkOf(image.pixelColor(size - 1, size - 1)), Ink::none);
        EXPECT_EQ(inkOf(image.pixelColor(size / 2, size / 2)), Ink::white) << "the symbol's disc";
        EXPECT_EQ(inkOf(image.pixelColor(size / 2, size / 8)), Ink::accent) << "the square above the ring";
    }
    QImage sheet(16 + 22 + 24 + 32 + 48 + 64 + 128 + 256 + 9 * 8, 256 + 16, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::lightGray);
    int x = 8;
    QPainter painter(&sheet);
    for (const int size : AppIcon::kPngSizes) {
        painter.drawImage(x, 8, AppIcon::image(size));
        x += size + 8;
    }
    painter.end();
    yux::test::writeScreenshot(sheet, "app_icon_sizes");
}

TEST(AppIcon, TheThemeFilesHoldTheSamePictureAsPngAtEverySizeAndAsSvg) {
    yux::testing::TemporaryDirectory folder;
    AppIcon::writeThemeFiles(folder.path());
    for (const int size : AppIcon::kPngSizes) {
        const QString file = QString::fromStdString(
            (folder.path() / "hicolor" / (std::to_string(size) + "x" + std::to_string(size)) / "apps" / "com.zt.yux.png")
                .string());
        QImage written(file);
        ASSERT_FALSE(written.isNull()) << file.toStdString();
        EXPECT_EQ(written.convertToFormat(QImage::Format_ARGB32_Premultiplied), AppIcon::image(size)) << size;
    }

    QFile svgFile(QString::fromStdString((folder.path() / "hicolor" / "scalable" / "apps" / "com.zt.yux.svg").string()));
    ASSERT_TRUE(svgFile.open(QIODevice::ReadOnly));
    const SvgPicture svg = readSvg(svgFile.readAll());
    EXPECT_EQ(svg.viewBox, "0 0 256 256");
    ASSERT_EQ(svg.circles.size(), 2u);
    // Every pixel of the 256 picture that lies clear of an edge has the SVG's ink there.
    const QImage drawn = AppIcon::image(256);
    int compared = 0;
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            const auto [ink, margin] = svg.at(QPointF(x + 0.5, y + 0.5));
            if (margin < 1.5) continue;
            ++compared;
            ASSERT_EQ(inkOf(drawn.pixelColor(x, y)), ink) << x << "," << y;
        }
    }
    EXPECT_GT(compared, 50000);
}
