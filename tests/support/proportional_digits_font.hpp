#pragma once

// The application font set, for one test, to a text face whose digits differ in width, so a
// number set in the body face keeps its width only when each digit sits in a cell of its own.
// The test desktop's own face has digits of one width, where any label would pass. The face
// comes with scripts/packages-test.txt; the font before it is set again however the test ends.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QFontInfo>
#include <QFontMetricsF>

namespace yux::test {

class ProportionalDigitsFont {
public:
    static constexpr const char* kFamily = "Cantarell";

    ProportionalDigitsFont() : before_(QApplication::font()) {
        QFont font = before_;
        font.setFamily(QString::fromLatin1(kFamily));
        QApplication::setFont(font);
    }
    ~ProportionalDigitsFont() { QApplication::setFont(before_); }
    ProportionalDigitsFont(const ProportionalDigitsFont&) = delete;
    ProportionalDigitsFont& operator=(const ProportionalDigitsFont&) = delete;

    // What the test needs first: the face is there and its '1' and '8' differ in width.
    ::testing::AssertionResult digitsDiffer() const {
        const QFont font = QApplication::font();
        const QFontMetricsF metrics(font);
        if (QFontInfo(font).family() != QString::fromLatin1(kFamily))
            return ::testing::AssertionFailure() << kFamily << " is not installed (fonts-cantarell); got "
                                                 << QFontInfo(font).family().toStdString();
        if (metrics.horizontalAdvance(QChar(u'1')) == metrics.horizontalAdvance(QChar(u'8')))
            return ::testing::AssertionFailure() << kFamily << "'s '1' and '8' are equally wide";
        return ::testing::AssertionSuccess();
    }

private:
    QFont before_;
};

}  // namespace yux::test
