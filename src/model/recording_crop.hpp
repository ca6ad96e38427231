#pragma once

// The export crop: a rectangle kept as fractions of the video frame, so it survives any change of
// the pixel size, held to an optional ratio. Operations that take pixels are given the frame size.
// y counts from the top edge of the picture, as rows of video pixels do; the trim editor draws
// the crop and the export applies it from that same edge.

#include <optional>
#include <string_view>

#include "model/geometry.hpp"

namespace yux {

class RecordingCrop {
public:
    enum class Ratio { free, wide, classic, square, portrait };
    enum class Field { width, height, x, y };

    static constexpr Ratio allRatios[] = {Ratio::free, Ratio::wide, Ratio::classic, Ratio::square, Ratio::portrait};
    static constexpr Field allFields[] = {Field::width, Field::height, Field::x, Field::y};

    static std::string_view rawValue(Ratio ratio);
    static std::optional<Ratio> ratioFromRawValue(std::string_view raw);
    // Width over height; nothing for `free`.
    static std::optional<double> aspect(Ratio ratio);
    static std::string_view rawValue(Field field);
    static std::optional<Field> fieldFromRawValue(std::string_view raw);

    RecordingCrop() = default;

    // Fractions of the frame, all within 0...1.
    const Rect& rect() const { return rect_; }
    Ratio ratio() const { return ratio_; }
    bool isCropped() const { return rect_ != kWholeFrame; }

    void reset();

    // Even size of at least 2 × 2 and a whole-pixel origin, inside a frame of at least 2 × 2.
    // A frame that is not finite gives the empty rectangle.
    Rect pixels(Size frame) const;
    // The largest value a side-bar field may take.
    double maximum(Field field, Size frame) const;

    void set(Field field, double value, Size frame);
    void setRatio(Ratio ratio, Size frame);
    // Moves the crop so that its pixel origin is `origin`, kept inside the frame.
    void move(Point origin, Size frame);
    // Resizes from a dragged corner against the fixed opposite corner, both in pixels.
    void resize(Point corner, Point opposite, Size frame);

    bool operator==(const RecordingCrop&) const = default;

private:
    static constexpr Rect kWholeFrame{0, 0, 1, 1};

    // The one place where pixels become fractions. Ignores a frame smaller than 2 × 2 and any
    // value that is not finite, so the stored fractions are always numbers.
    void store(Rect pixels, Size frame);

    Rect rect_ = kWholeFrame;
    Ratio ratio_ = Ratio::free;
};

}  // namespace yux
