#include "model/json_coding.hpp"

#include "platform/desktop/json_nesting.hpp"

namespace yux::json {

std::string typeName(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null: return "null";
        case Json::value_t::object: return "Dictionary";
        case Json::value_t::array: return "Array";
        case Json::value_t::string: return "String";
        case Json::value_t::boolean: return "Bool";
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
        case Json::value_t::number_float: return "Number";
        default: return "unknown";
    }
}

void throwTypeMismatch(std::string_view expected, const Json& found) {
    if (found.is_null()) {
        throw DecodingError(DecodingError::Kind::valueNotFound,
                            "Expected " + std::string(expected) + " value but found null instead.");
    }
    throw DecodingError(DecodingError::Kind::typeMismatch, "Expected to decode " + std::string(expected) +
                                                               " but found " + typeName(found) + " instead.");
}

namespace {
// Coders that build values by hand bypass Coder<double>; the writer would store these as null.
bool holdsNonFiniteNumber(const Json& value) {
    std::vector<const Json*> pending{&value};
    while (!pending.empty()) {
        const Json* current = pending.back();
        pending.pop_back();
        if (current->is_number_float() && !std::isfinite(current->get<double>())) return true;
        if (current->is_structured()) {
            for (const auto& element : *current) pending.push_back(&element);
        }
    }
    return false;
}
}  // namespace

std::string encodeText(const Json& value) {
    if (platform::jsonValueNestsDeeperThan(value)) {
        throw EncodingError("The value nests more than " + std::to_string(platform::kMaxJsonNesting) + " levels.");
    }
    if (holdsNonFiniteNumber(value)) throw EncodingError("Unable to encode a non-finite number directly in JSON.");
    return value.dump(-1, ' ', false, Json::error_handler_t::strict);
}

std::string encodeReplacingInvalidText(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json parseText(std::string_view text) {
    if (platform::jsonTextNestsDeeperThan(text)) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, "The given data nests too deeply.");
    }
    try {
        return Json::parse(text);
    } catch (const Json::parse_error&) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, "The given data was not valid JSON.");
    } catch (const Json::out_of_range&) {
        // A number beyond double's range (1e400): refused like any other unreadable text, so
        // callers that handle decoding failures see this one too.
        throw DecodingError(DecodingError::Kind::dataCorrupted, "The given data was not valid JSON.");
    }
}

namespace {
constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string base64Encode(const Bytes& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        std::uint32_t n = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    if (i + 1 == bytes.size()) {
        std::uint32_t n = bytes[i] << 16;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        std::uint32_t n = (bytes[i] << 16) | (bytes[i + 1] << 8);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

std::optional<Bytes> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t n = 0;
        int padding = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            char c = text[i + j];
            std::uint32_t digit = 0;
            if (c == '=') {
                // Padding only in the last group's final one or two places.
                if (i + 4 != text.size() || j < 2) return std::nullopt;
                ++padding;
            } else {
                if (padding > 0) return std::nullopt;
                auto position = kAlphabet.find(c);
                if (position == std::string_view::npos) return std::nullopt;
                digit = static_cast<std::uint32_t>(position);
            }
            n = (n << 6) | digit;
        }
        out.push_back(static_cast<std::uint8_t>((n >> 16) & 0xFF));
        if (padding < 2) out.push_back(static_cast<std::uint8_t>((n >> 8) & 0xFF));
        if (padding < 1) out.push_back(static_cast<std::uint8_t>(n & 0xFF));
    }
    return out;
}

ObjectReader::ObjectReader(const Json& value) : object_(value) {
    if (!value.is_object()) throwTypeMismatch("Dictionary", value);
}

const Json* ObjectReader::find(std::string_view key) const {
    auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
}

bool ObjectReader::has(std::string_view key) const {
    const Json* value = find(key);
    return value != nullptr && !value->is_null();
}

std::string singleCaseKey(const Json& value, std::initializer_list<std::string_view> cases) {
    if (!value.is_object()) throwTypeMismatch("Dictionary", value);
    std::string found;
    int count = 0;
    for (const auto& [key, element] : value.items()) {
        for (auto name : cases) {
            if (key == name) {
                found = key;
                ++count;
            }
        }
    }
    if (count != 1) {
        throw DecodingError(DecodingError::Kind::typeMismatch, "Invalid number of keys found, expected one.");
    }
    return found;
}

}  // namespace yux::json
