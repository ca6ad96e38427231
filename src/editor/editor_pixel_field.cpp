#include "editor/editor_pixel_field.hpp"

#include <charconv>

namespace yux {

EditorPixelField::EditorPixelField(const QString& label, Getter get, Setter set, QWidget* parent)
    : QLineEdit(parent), get_(std::move(get)), set_(std::move(set)) {
    setPlaceholderText(label);
    setAccessibleName(QStringLiteral("Crop ") + label);
    connect(this, &QLineEdit::returnPressed, this, &EditorPixelField::commit);
    refresh();
}

std::optional<std::int64_t> EditorPixelField::parse(std::string_view text) {
    if (text.empty()) return std::nullopt;
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    // Parse with the sign attached so the most negative value fits.
    std::string signedText = (negative ? "-" : "") + std::string(text);
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(signedText.data(), signedText.data() + signedText.size(), value);
    if (error != std::errc() || end != signedText.data() + signedText.size()) return std::nullopt;
    return value;
}

void EditorPixelField::refresh() {
    std::int64_t value = get_();
    if (shown_ == value) return;
    shown_ = value;
    setText(QString::number(value));
}

void EditorPixelField::commit() {
    if (auto value = parse(text().toStdString())) set_(*value);
    shown_ = get_();
    setText(QString::number(*shown_));
}

void EditorPixelField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    commit();
}

}  // namespace yux
