#include "capture/phonelink/phone_picture.hpp"

#include <algorithm>
#include <array>

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

namespace yux {

namespace {

constexpr std::array<std::uint8_t, 3> kJpegStart = {0xFF, 0xD8, 0xFF};
constexpr std::array<std::uint8_t, 8> kPngStart = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

template <std::size_t N>
bool startsWith(std::span<const std::uint8_t> bytes, const std::array<std::uint8_t, N>& prefix) {
    return bytes.size() >= N && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// The second guard behind the header check: a 3840² BGRA picture is about 56 MiB, so a
// decoder that misread its header still cannot ask for more than this.
constexpr int kAllocationLimitMegabytes = 64;

}  // namespace

QImage decodePhonePicture(std::span<const std::uint8_t> payload) {
    const char* format = nullptr;
    if (startsWith(payload, kJpegStart)) {
        format = "jpeg";
    } else if (startsWith(payload, kPngStart)) {
        format = "png";
    } else {
        throw PhonePictureError();
    }
    // The reader only reads; the bytes stay the caller's and are not copied.
    const auto data = QByteArray::fromRawData(reinterpret_cast<const char*>(payload.data()),
                                              static_cast<qsizetype>(payload.size()));
    QBuffer device;
    device.setData(data);
    device.open(QIODevice::ReadOnly);
    QImageReader reader(&device, format);
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(false);
    reader.setAllocationLimit(kAllocationLimitMegabytes);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() < 1 || size.height() < 1 || size.width() > kPhonePictureSideLimit ||
        size.height() > kPhonePictureSideLimit) {
        throw PhonePictureError();
    }
    QImage image;
    if (!reader.read(&image) || image.isNull() || image.size() != size) {
        throw PhonePictureError();
    }
    // An opaque picture decodes to RGB32, whose bytes already are BGRA with alpha 255: only its
    // label changes, no pixel is touched.
    if (image.format() == QImage::Format_RGB32) {
        image.reinterpretAsFormat(QImage::Format_ARGB32);
    } else if (image.format() != QImage::Format_ARGB32) {
        image.convertTo(QImage::Format_ARGB32);
    }
    return image;
}

}  // namespace yux
