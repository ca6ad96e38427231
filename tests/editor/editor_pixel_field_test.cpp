#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFocusEvent>

#include "editor/editor_pixel_field.hpp"

using namespace yux;

TEST(EditorPixelField, OnlySignedDecimalIntegersAreNumbers) {
    EXPECT_EQ(EditorPixelField::parse("640"), 640);
    EXPECT_EQ(EditorPixelField::parse("+640"), 640);
    EXPECT_EQ(EditorPixelField::parse("-8"), -8);
    EXPECT_EQ(EditorPixelField::parse("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(EditorPixelField::parse("9223372036854775807"), INT64_MAX);
    for (const char* bad : {"", "+", "-", "abc", "12.5", " 12", "12 ", "1,280", "9223372036854775808",
                            "12345678901234567890", "+-1", "0x10"})
        EXPECT_EQ(EditorPixelField::parse(bad), std::nullopt) << bad;
}

TEST(EditorPixelField, CommitsOnReturnAndFocusOutAndShowsWhatTheSetterStored) {
    std::int64_t value = 1920;
    std::vector<std::int64_t> written;
    EditorPixelField field("W", [&] { return value; }, [&](std::int64_t v) {
        written.push_back(v);
        value = v - v % 2;  // the setter keeps even sizes
    });
    EXPECT_EQ(field.text(), "1920");
    EXPECT_EQ(field.placeholderText(), "W");
    EXPECT_EQ(field.accessibleName(), "Crop W");

    field.setText("12.5");
    emit field.returnPressed();
    EXPECT_TRUE(written.empty());
    EXPECT_EQ(field.text(), "1920");

    field.setText("+641");
    emit field.returnPressed();
    EXPECT_EQ(written, std::vector<std::int64_t>{641});
    EXPECT_EQ(field.text(), "640");

    field.setText("800");
    QFocusEvent focusOut(QEvent::FocusOut);
    QCoreApplication::sendEvent(&field, &focusOut);
    EXPECT_EQ(field.text(), "800");

    // An outside change replaces unsubmitted typing; an unchanged value leaves it.
    field.setText("12");
    field.refresh();
    EXPECT_EQ(field.text(), "12");
    value = 1000;
    field.refresh();
    EXPECT_EQ(field.text(), "1000");
}
