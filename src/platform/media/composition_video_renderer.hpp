#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/media/edit_composition.hpp"
#include "platform/media/ffmpeg_support.hpp"
#include "platform/media/video_frame_reader.hpp"

namespace yux::platform {

// Where the exported picture comes from: the source picture is scaled to `scaledWidth` ×
// `scaledHeight`, then the crop rectangle (even size, in the scaled frame) is kept.
struct PictureGeometry {
    int scaledWidth = 0;
    int scaledHeight = 0;
    int cropX = 0;
    int cropY = 0;
    int cropWidth = 0;
    int cropHeight = 0;
};

// Draws the video tracks of a composition at an output time: the first track at the bottom,
// holding its nearest picture wherever it has no media of its own, each later one over it, a
// stacked-alpha track blended through its alpha (so it shows only where it has media and where
// its alpha is), then scaled and cropped.
class CompositionVideoRenderer {
public:
    CompositionVideoRenderer(const std::string& path, const EditComposition& composition, PictureGeometry geometry);
    ~CompositionVideoRenderer();

    // The picture at `outputTime` as a yuv420p frame of the crop size: usually `target`, filled;
    // a plain crop of the screen alone is a cropped reference to the decoded picture instead
    // (no copy). Valid until the next call.
    AVFrame* render(MediaTime outputTime, AVFrame* target);
    // The picture at `outputTime` as BGRA of the crop size (stride cropWidth × 4), the layers
    // blended as render() blends them. Valid until the next call.
    const std::uint8_t* renderBgra(MediaTime outputTime);

    // A new picture size for the calls that follow (the preview follows its view).
    void setGeometry(PictureGeometry geometry) { geometry_ = geometry; }
    const PictureGeometry& geometry() const { return geometry_; }

private:
    struct Layer;
    using Visible = std::vector<std::pair<Layer*, const AVFrame*>>;

    // The layers with a picture at `outputTime`, bottom first.
    Visible visibleLayers(MediaTime outputTime);
    // Blends `visible` into canvas_.
    void composeCanvas(const Visible& visible);

    const EditComposition& composition_;
    PictureGeometry geometry_;
    std::vector<std::unique_ptr<Layer>> layers_;
    std::vector<std::uint8_t> canvas_;   // BGRA, crop size
    std::vector<std::uint8_t> overlay_;  // BGRA, crop size
    std::vector<std::uint8_t> alpha_;    // one byte per pixel, crop size
    SwsContext* toOutput_ = nullptr;
    ffmpeg::Frame passthrough_;
};

}  // namespace yux::platform
