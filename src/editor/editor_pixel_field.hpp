#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include <QLineEdit>

namespace yux {

// One pixel value of the crop. The getter and setter belong to the sidebar; the setter may
// adjust what it stores, and the field then shows the stored value.
class EditorPixelField : public QLineEdit {
    Q_OBJECT

public:
    using Getter = std::function<std::int64_t()>;
    using Setter = std::function<void(std::int64_t)>;

    // `label` is "W", "H", "X" or "Y".
    EditorPixelField(const QString& label, Getter get, Setter set, QWidget* parent = nullptr);

    // An optional sign then digits only, within int64; anything else is no number.
    static std::optional<std::int64_t> parse(std::string_view text);

    // The value changed from outside: replaces any unsubmitted typing, but only when it changed.
    void refresh();
    void commit();

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    Getter get_;
    Setter set_;
    std::optional<std::int64_t> shown_;
};

}  // namespace yux
