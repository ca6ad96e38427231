#pragma once

// Pictures for a person to look at: PNG files in the build folder's "screenshots".

#include <QImage>
#include <QString>

class QWidget;

namespace yux::test {

// The folder, created when missing.
QString screenshotFolder();
// Writes `name`.png there and fails the running test when it cannot; gives the path.
QString writeScreenshot(const QImage& image, const QString& name);
// The widget as it paints itself now (it need not be shown).
QString writeScreenshot(QWidget& widget, const QString& name);

}  // namespace yux::test
