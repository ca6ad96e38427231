// A camera picture from a phone: run with -malloc_limit_mb=96, so a picture that makes the
// decoder ask for more than a 3840² frame needs is a crash. A picture that decodes is within
// the size limit, and its pixels survive a lossless re-encode.
#include <cstdlib>

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>

#include "capture/phonelink/phone_picture.hpp"
#include "phone_fuzz_seeds.hpp"

using namespace yux;

namespace {

std::vector<std::uint8_t> encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 80);
    return {bytes.begin(), bytes.end()};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Image format plugins are found through the application.
    static QCoreApplication application(*argc, *argv);
    QImage image(24, 16, QImage::Format_ARGB32);
    image.fill(QColor(10, 200, 30, 255));
    image.setPixel(3, 4, qRgba(250, 0, 0, 128));
    fuzz::writeSeedsIfAsked({encoded(image, "JPEG"), encoded(image, "PNG")});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QImage image;
    try {
        image = decodePhonePicture(std::span(data, size));
    } catch (const PhonePictureError&) {
        return 0;
    }
    if (image.format() != QImage::Format_ARGB32 || image.width() > kPhonePictureSideLimit ||
        image.height() > kPhonePictureSideLimit || image.width() < 1 || image.height() < 1) {
        std::abort();
    }
    if (image.width() * image.height() <= 256 * 256) {
        const auto again = decodePhonePicture(encoded(image, "PNG"));
        if (again != image) {
            std::abort();
        }
    }
    return 0;
}
