#pragma once

// Yux's own icon: the tray's record symbol in white on a rounded square of the accent blue. The
// windows and the About page show it, and the icon files installed beside the desktop entry
// are written from it, so every place shows one picture.

#include <QByteArray>
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRectF>
#include <QString>

#include <array>
#include <filesystem>

class QPainter;

namespace yux {

struct AppIcon {
    // The icon's name in icon themes, the same as the desktop entry's.
    static constexpr const char* kName = "com.zt.yux";
    // The PNG sizes installed besides the scalable SVG; the desktops pick among these.
    static constexpr std::array<int, 8> kPngSizes{16, 22, 24, 32, 48, 64, 128, 256};

    // Fixed rather than the palette's highlight: the files must match what the program shows.
    static QColor accent() { return QColor(0, 122, 255); }

    static void paint(QPainter& painter, const QRectF& box);
    // A square picture, transparent outside the rounded square.
    static QImage image(int size);
    static QIcon icon();
    // The same picture as an SVG document.
    static QByteArray svg();

    // Writes <folder>/hicolor/<n>x<n>/apps/<name>.png for each size and
    // <folder>/hicolor/scalable/apps/<name>.svg; throws std::runtime_error naming the file
    // that could not be written.
    static void writeThemeFiles(const std::filesystem::path& folder);
};

}  // namespace yux
