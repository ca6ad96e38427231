#pragma once

// What every JSON document fuzz program checks: the bytes of a damaged file either decode or
// fail with an exception the callers handle; whatever decodes encodes again and decodes back
// to the same value, so a save after a load never loses or changes what was read.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "model/json_coding.hpp"

namespace yux::fuzzing {

inline std::string_view textOf(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

[[noreturn]] inline void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

template <class T>
void checkRoundTrip(const T& value) {
    std::string encoded;
    try {
        encoded = json::encodeText(value);
    } catch (const std::exception& error) {
        fail("a decoded value does not encode", error.what());
    }
    std::optional<T> again;
    try {
        again = json::decodeText<T>(encoded);
    } catch (const std::exception& error) {
        fail("an encoded value does not decode", std::string(error.what()) + " in " + encoded);
    }
    if (!(*again == value)) fail("a value changed through encoding and decoding", encoded);
}

// The settings store turns any exception of a decoder into its own load error.
template <class T>
std::optional<T> decodeOrNothing(std::string_view text) {
    try {
        return json::decodeText<T>(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

template <class T>
void fuzzDocument(const std::uint8_t* data, std::size_t size) {
    if (auto value = decodeOrNothing<T>(textOf(data, size))) checkRoundTrip(*value);
}

}  // namespace yux::fuzzing
