#include "support/screenshot_writer.hpp"

#include <QDir>
#include <QPixmap>
#include <QWidget>

#include <gtest/gtest.h>

namespace yux::test {

QString screenshotFolder() {
    const QString folder = QStringLiteral(YUX_SCREENSHOT_DIR);
    if (!QDir().mkpath(folder)) ADD_FAILURE() << "cannot create " << folder.toStdString();
    return folder;
}

QString writeScreenshot(const QImage& image, const QString& name) {
    const QString path = screenshotFolder() + "/" + name + ".png";
    if (image.isNull() || !image.save(path, "PNG")) ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

QString writeScreenshot(QWidget& widget, const QString& name) {
    return writeScreenshot(widget.grab().toImage(), name);
}

}  // namespace yux::test
