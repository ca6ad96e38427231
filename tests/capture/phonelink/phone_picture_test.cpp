#include "capture/phonelink/phone_picture.hpp"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

using namespace yux;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format, 90));
    return Bytes(bytes.begin(), bytes.end());
}

Bytes solid(int width, int height, const char* format, QColor colour = QColor(200, 40, 10)) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return encoded(image, format);
}

std::uint32_t crc32Of(const Bytes& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (auto byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void putBigEndian(Bytes& bytes, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

// A PNG whose header claims any size, with one tiny compressed row after it.
Bytes pngClaiming(std::uint32_t width, std::uint32_t height) {
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes chunk = {'I', 'H', 'D', 'R'};
    putBigEndian(chunk, width);
    putBigEndian(chunk, height);
    chunk.insert(chunk.end(), {8, 6, 0, 0, 0});
    putBigEndian(png, 13);
    png.insert(png.end(), chunk.begin(), chunk.end());
    putBigEndian(png, crc32Of(chunk));
    Bytes data = {'I', 'D', 'A', 'T', 0x78, 0x9C, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01};
    putBigEndian(png, static_cast<std::uint32_t>(data.size() - 4));
    png.insert(png.end(), data.begin(), data.end());
    putBigEndian(png, crc32Of(data));
    return png;
}

bool refused(const Bytes& payload) {
    try {
        decodePhonePicture(payload);
    } catch (const PhonePictureError& error) {
        EXPECT_STREQ(error.what(), "Invalid iPhone frame");
        return true;
    }
    return false;
}

}  // namespace

TEST(PhonePicture, JpegAndPngDecodeToBgraOfTheirSizeAndColour) {
    for (const char* format : {"JPEG", "PNG"}) {
        const auto image = decodePhonePicture(solid(64, 48, format));
        EXPECT_EQ(image.format(), QImage::Format_ARGB32) << format;
        EXPECT_EQ(image.size(), QSize(64, 48));
        const std::uint8_t* pixel = image.constScanLine(10) + 4 * 10;
        EXPECT_NEAR(pixel[0], 10, 4) << format;   // blue
        EXPECT_NEAR(pixel[1], 40, 4) << format;   // green
        EXPECT_NEAR(pixel[2], 200, 4) << format;  // red
        EXPECT_EQ(pixel[3], 255) << format;
    }
}

TEST(PhonePicture, SidesUpTo3840PassAndOneMoreIsRefusedBeforeDecoding) {
    EXPECT_EQ(decodePhonePicture(solid(3840, 8, "PNG")).width(), 3840);
    EXPECT_EQ(decodePhonePicture(solid(8, 3840, "JPEG")).height(), 3840);
    EXPECT_TRUE(refused(solid(3841, 8, "PNG")));
    EXPECT_TRUE(refused(solid(8, 3841, "JPEG")));
    EXPECT_TRUE(refused(pngClaiming(3841, 1)));
}

TEST(PhonePicture, APngClaimingAHugeSizeIsRefusedWithoutAllocatingIt) {
    // 100000² BGRA would be 40 GB; the header check refuses it before any pixel is made.
    EXPECT_TRUE(refused(pngClaiming(100000, 100000)));
    EXPECT_TRUE(refused(pngClaiming(0, 10)));
    EXPECT_TRUE(refused(pngClaiming(0x7FFFFFFF, 0x7FFFFFFF)));
}

TEST(PhonePicture, TornPicturesNeverOutgrowTheirHeader) {
    for (const char* format : {"JPEG", "PNG"}) {
        const auto whole = solid(300, 200, format);
        for (std::size_t keep : {whole.size() / 2, whole.size() - 7, std::size_t{40}, std::size_t{3}}) {
            const Bytes torn(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep));
            try {
                const auto image = decodePhonePicture(torn);
                EXPECT_EQ(image.size(), QSize(300, 200)) << format << " " << keep;
            } catch (const PhonePictureError&) {
            }
        }
    }
}

TEST(PhonePicture, OtherFormatsAndGarbageAreRefused) {
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::green);
    EXPECT_TRUE(refused(encoded(image, "BMP")));
    EXPECT_TRUE(refused(Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'}));
    // A HEIC file starts with a box of type "ftyp" and brand "heic".
    EXPECT_TRUE(refused(Bytes{0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c', 0, 0, 0, 0}));
    EXPECT_TRUE(refused(Bytes{}));
    EXPECT_TRUE(refused(Bytes{0xFF, 0xD8, 0xFF}));
    EXPECT_TRUE(refused(Bytes(100, 0xAB)));
}
