#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>

#include <QImage>

namespace yux {

// Largest width or height of a phone picture that is decoded.
inline constexpr int kPhonePictureSideLimit = 3840;

// Decodes one phone camera picture: JPEG or PNG only, recognised by its first bytes, its
// header size checked before any pixel is decoded. Returns a Format_ARGB32 image (BGRA in
// memory on little-endian hosts); throws PhonePictureError for anything unreadable, of
// another format or larger than the limit.
class PhonePictureError : public std::runtime_error {
public:
    PhonePictureError() : std::runtime_error("Invalid iPhone frame") {}
};

QImage decodePhonePicture(std::span<const std::uint8_t> payload);

}  // namespace yux
