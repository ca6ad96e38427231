#include "model/recording_crop.hpp"

#include <algorithm>
#include <cmath>

#include "model/json_coding.hpp"

namespace yux {

namespace {

constexpr json::TextCase<RecordingCrop::Ratio> kRatios[] = {
    {RecordingCrop::Ratio::free, "Free"},   {RecordingCrop::Ratio::wide, "16:9"},
    {RecordingCrop::Ratio::classic, "4:3"}, {RecordingCrop::Ratio::square, "1:1"},
    {RecordingCrop::Ratio::portrait, "9:16"},
};

constexpr json::TextCase<RecordingCrop::Field> kFields[] = {
    {RecordingCrop::Field::width, "W"},
    {RecordingCrop::Field::height, "H"},
    {RecordingCrop::Field::x, "X"},
    {RecordingCrop::Field::y, "Y"},
};

// Video pixel sizes are even and at least this.
constexpr double kMinimumSide = 2;
// A dragged corner never makes the crop smaller than this share of the frame on either axis.
constexpr double kMinimumDragShare = 0.1;

double even(double v) { return std::floor(v / 2) * 2; }

bool isFinite(Size s) { return std::isfinite(s.width) && std::isfinite(s.height); }

bool canHoldCrop(Size frame) { return isFinite(frame) && frame.width >= kMinimumSide && frame.height >= kMinimumSide; }

}  // namespace

std::string_view RecordingCrop::rawValue(Ratio ratio) { return json::textOf(kRatios, ratio); }

std::optional<RecordingCrop::Ratio> RecordingCrop::ratioFromRawValue(std::string_view raw) {
    return json::caseFromText(kRatios, raw);
}

std::optional<double> RecordingCrop::aspect(Ratio ratio) {
    switch (ratio) {
        case Ratio::free: return std::nullopt;
        case Ratio::wide: return 16.0 / 9.0;
        case Ratio::classic: return 4.0 / 3.0;
        case Ratio::square: return 1.0;
        case Ratio::portrait: return 9.0 / 16.0;
    }
    return std::nullopt;
}

std::string_view RecordingCrop::rawValue(Field field) { return json::textOf(kFields, field); }

std::optional<RecordingCrop::Field> RecordingCrop::fieldFromRawValue(std::string_view raw) {
    return json::caseFromText(kFields, raw);
}

void RecordingCrop::reset() {
    rect_ = kWholeFrame;
    ratio_ = Ratio::free;
}

Rect RecordingCrop::pixels(Size frame) const {
    if (!isFinite(frame)) return {};
    const double W = frame.width, H = frame.height;
    double width = std::min(std::max(even(rect_.width * W), kMinimumSide), W);
    double height = std::min(std::max(even(rect_.height * H), kMinimumSide), H);
    double x = std::min(std::floor(rect_.x * W), W - width);
    double y = std::min(std::floor(rect_.y * H), H - height);
    return {x, y, width, height};
}

double RecordingCrop::maximum(Field field, Size frame) const {
    const double W = frame.width, H = frame.height;
    auto a = aspect(ratio_);
    switch (field) {
        case Field::width: return std::max(even(std::min(a ? *a * H : W, W)), kMinimumSide);
        case Field::height: return std::max(even(std::min(a ? W / *a : H, H)), kMinimumSide);
        case Field::x: return W - pixels(frame).width;
        case Field::y: return H - pixels(frame).height;
    }
    return 0;
}

void RecordingCrop::set(Field field, double value, Size frame) {
    if (!std::isfinite(value) || !canHoldCrop(frame)) return;
    const Rect p = pixels(frame);
    const Point centre{p.midX(), p.midY()};
    const auto a = aspect(ratio_);
    auto storeAroundCentre = [&](double w, double h) { store({centre.x - w / 2, centre.y - h / 2, w, h}, frame); };

    switch (field) {
        case Field::x:
            store({std::max(std::min(value, maximum(Field::x, frame)), 0.0), p.y, p.width, p.height}, frame);
            break;
        case Field::y:
            store({p.x, std::max(std::min(value, maximum(Field::y, frame)), 0.0), p.width, p.height}, frame);
            break;
        case Field::width: {
            double w = std::max(even(std::max(std::min(value, maximum(Field::width, frame)), kMinimumSide)), kMinimumSide);
            double h = a ? std::max(even(w / *a), kMinimumSide) : p.height;
            storeAroundCentre(w, h);
            break;
        }
        case Field::height: {
            double h = std::max(even(std::max(std::min(value, maximum(Field::height, frame)), kMinimumSide)), kMinimumSide);
            double w = a ? std::max(even(*a * h), kMinimumSide) : p.width;
            storeAroundCentre(w, h);
            break;
        }
    }
}

void RecordingCrop::setRatio(Ratio ratio, Size frame) {
    ratio_ = ratio;
    set(Field::width, pixels(frame).width, frame);
}

void RecordingCrop::move(Point origin, Size frame) {
    const Rect p = pixels(frame);
    store({origin.x, origin.y, p.width, p.height}, frame);
}

void RecordingCrop::resize(Point corner, Point opposite, Size frame) {
    const double W = frame.width, H = frame.height;
    const bool growsRight = opposite.x <= corner.x;
    const bool growsDown = opposite.y <= corner.y;
    const double roomAcross = growsRight ? W - opposite.x : opposite.x;
    const double roomDown = growsDown ? H - opposite.y : opposite.y;

    const double wx = std::min(std::max(std::fabs(corner.x - opposite.x), kMinimumDragShare * W), roomAcross);
    const double hy = std::min(std::max(std::fabs(corner.y - opposite.y), kMinimumDragShare * H), roomDown);

    double w = wx, h = hy;
    if (auto a = aspect(ratio_)) {
        // The corner that moved further decides; the result fits the room on both axes.
        w = std::min(std::min(std::max(wx, hy * *a), roomDown * *a), roomAcross);
        h = w / *a;
    }
    const double x = growsRight ? opposite.x : opposite.x - w;
    const double y = growsDown ? opposite.y : opposite.y - h;
    store({x, y, w, h}, frame);
}

void RecordingCrop::store(Rect r, Size frame) {
    if (!canHoldCrop(frame) || !std::isfinite(r.x) || !std::isfinite(r.y) || !std::isfinite(r.width) ||
        !std::isfinite(r.height)) {
        return;
    }
    const double W = frame.width, H = frame.height;
    const double w = std::min(std::max(r.width, kMinimumSide), W);
    const double h = std::min(std::max(r.height, kMinimumSide), H);
    const double x = std::max(std::min(r.x, W - w), 0.0);
    const double y = std::max(std::min(r.y, H - h), 0.0);
    rect_ = {x / W, y / H, w / W, h / H};
}

}  // namespace yux
