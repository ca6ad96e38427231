#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLayout>
#include <QPainter>

#include "editor/editor_button.hpp"
#include "editor/editor_style.hpp"

using namespace yux;

namespace {

// The button drawn on a mid-grey ground.
QImage drawn(QWidget& widget) {
    widget.ensurePolished();
    if (widget.layout()) widget.layout()->activate();
    QImage image(widget.size(), QImage::Format_RGB32);
    image.fill(QColor(128, 128, 128));
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

int darkest(const QImage& image, QRect area) {
    int result = 255;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) result = std::min(result, qGray(image.pixel(x, y)));
    return result;
}

}  // namespace

// Pressed, only the face dims; disabled, the whole button, label and outline included.
TEST(EditorButton, PressedDimsTheFaceAndDisabledDimsEverything) {
    struct Case {
        const char* name;
        bool enabled;
        bool down;
        int face;   // grey level of the face on the mid-grey ground
        int label;  // of the label's darkest pixel
    };
    // A white face; black text; 0.6 face opacity when pressed; 0.4 for all when disabled.
    const Case cases[] = {
        {"enabled", true, false, 255, 0},
        {"pressed", true, true, 204, 0},
        {"disabled", false, false, 179, 107},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EditorButton button(QStringLiteral("MMMM"));
        QPalette palette = button.palette();
        palette.setColor(QPalette::Window, Qt::white);
        palette.setColor(QPalette::ButtonText, Qt::black);
        button.setPalette(palette);
        QFont font = button.font();
        font.setPixelSize(24);
        font.setBold(true);
        button.setFont(font);
        button.resize(button.sizeHint());
        button.setEnabled(c.enabled);
        button.setDown(c.down);
        QImage image = drawn(button);
        EXPECT_NEAR(qGray(image.pixel(4, button.height() / 2)), c.face, 6);
        EXPECT_NEAR(darkest(image, button.rect().adjusted(12, 6, -12, -6)), c.label, 12);
    }
}

// A selected segment at either end is cut to the strip's rounded outline.
TEST(EditorSegmentStrip, ASelectedEndSegmentKeepsTheRoundedCorners) {
    for (int selected : {0, 2}) {
        SCOPED_TRACE(selected);
        EditorSegmentStrip strip;
        EditorSegmentButton* buttons[3];
        for (auto*& button : buttons) {
            button = new EditorSegmentButton(QStringLiteral("1×"), &strip);
            button->setCheckable(true);
            strip.add(button);
        }
        buttons[selected]->setChecked(true);
        strip.resize(150, 26);
        QImage image = drawn(strip);
        const QRgb accent = EditorStyle::accent().rgb();
        int x = selected == 0 ? 1 : strip.width() - 2;
        EXPECT_NE(image.pixel(x, 1), accent) << "the corner is cut";
        EXPECT_EQ(image.pixel(x, strip.height() / 2), accent) << "the edge's middle is filled";
    }
}
