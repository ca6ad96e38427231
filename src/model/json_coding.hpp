#pragma once

// JSON coding shared by every stored document: keys are field names, absent optionals are
// left out when writing and read back as absent (null too), unknown keys are ignored, a
// missing required key or a wrongly typed value fails the whole document.

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

namespace yux::json {

using Json = nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

class DecodingError : public std::runtime_error {
public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };
    DecodingError(Kind kind, const std::string& description)
        : std::runtime_error(description), kind_(kind) {}
    Kind kind() const { return kind_; }
    std::string description() const { return what(); }

private:
    Kind kind_;
};

// A value that has no JSON form (a non-finite number, or nesting deeper than documents may).
class EncodingError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

std::string typeName(const Json& value);
[[noreturn]] void throwTypeMismatch(std::string_view expected, const Json& found);

// Specialise with `static Json encode(const T&)` and `static T decode(const Json&)`.
template <class T, class Enable = void>
struct Coder;

template <class T>
Json encode(const T& value) {
    return Coder<T>::encode(value);
}
template <class T>
T decode(const Json& value) {
    return Coder<T>::decode(value);
}

// Compact text, as stored on disk. Fails with EncodingError for a value nested more than
// platform::kMaxJsonNesting levels.
std::string encodeText(const Json& value);
// Compact text where invalid UTF-8 (window titles, platform messages) becomes replacement
// characters instead of failing the whole document.
std::string encodeReplacingInvalidText(const Json& value);
// The one parse of every document Yux reads. Fails with dataCorrupted "The given data was not
// valid JSON." on a syntax error, and with dataCorrupted "The given data nests too deeply." for
// more than platform::kMaxJsonNesting levels, checked before parsing.
Json parseText(std::string_view text);
template <class T>
std::string encodeText(const T& value) {
    return encodeText(encode(value));
}
template <class T>
T decodeText(std::string_view text) {
    return decode<T>(parseText(text));
}

template <>
struct Coder<Json> {
    static Json encode(const Json& value) { return value; }
    static Json decode(const Json& value) { return value; }
};

template <>
struct Coder<bool> {
    static Json encode(bool value) { return value; }
    static bool decode(const Json& value) {
        if (!value.is_boolean()) throwTypeMismatch("Bool", value);
        return value.get<bool>();
    }
};

template <>
struct Coder<std::string> {
    static Json encode(const std::string& value) { return value; }
    static std::string decode(const Json& value) {
        if (!value.is_string()) throwTypeMismatch("String", value);
        return value.get<std::string>();
    }
};

template <>
struct Coder<double> {
    // The JSON writer would store NaN and infinities as null, which reads back as a different
    // value or not at all.
    static Json encode(double value) {
        if (!std::isfinite(value)) {
            throw EncodingError("Unable to encode Double." + std::string(std::isnan(value) ? "nan" : value > 0 ? "infinity" : "-infinity") +
                                " directly in JSON.");
        }
        // A whole number is written without a fraction ("30", not "30.0"), so that another
        // program reading an automation answer or a stored file where it wants an integer takes
        // it; up to 2^53 every whole double is exactly such an integer.
        constexpr double kExactIntegerLimit = 9007199254740992.0;
        // (-0 keeps its sign, which only a fraction can carry.)
        if (std::trunc(value) == value && std::fabs(value) < kExactIntegerLimit && !(value == 0 && std::signbit(value))) {
            return static_cast<std::int64_t>(value);
        }
        return value;
    }
    static double decode(const Json& value) {
        if (!value.is_number()) throwTypeMismatch("Double", value);
        return value.get<double>();
    }
};

// Integers: a JSON number that is whole and fits the type.
template <class T>
struct Coder<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
    static Json encode(T value) { return value; }
    static T decode(const Json& value) {
        if (value.is_number_integer() && !value.is_number_unsigned()) {
            auto v = value.get<std::int64_t>();
            if (std::in_range<T>(v)) return static_cast<T>(v);
        } else if (value.is_number_unsigned()) {
            auto v = value.get<std::uint64_t>();
            if (std::in_range<T>(v)) return static_cast<T>(v);
        } else if (value.is_number_float()) {
            double v = value.get<double>();
            // Only whole numbers strictly inside the type's range convert without overflow.
            if (std::isfinite(v) && std::trunc(v) == v && v >= static_cast<double>(std::numeric_limits<T>::min()) &&
                v < static_cast<double>(std::numeric_limits<T>::max())) {
                return static_cast<T>(v);
            }
        } else {
            throwTypeMismatch("Int", value);
        }
        throw DecodingError(DecodingError::Kind::dataCorrupted,
                            "Parsed JSON number <" + value.dump() + "> does not fit in Int.");
    }
};

template <class T>
struct Coder<std::optional<T>> {
    static Json encode(const std::optional<T>& value) { return value ? json::encode(*value) : Json(nullptr); }
    static std::optional<T> decode(const Json& value) {
        if (value.is_null()) return std::nullopt;
        return json::decode<T>(value);
    }
};

template <class T>
struct Coder<std::vector<T>, std::enable_if_t<!std::is_same_v<T, std::uint8_t>>> {
    static Json encode(const std::vector<T>& values) {
        Json array = Json::array();
        for (const auto& value : values) array.push_back(json::encode(value));
        return array;
    }
    static std::vector<T> decode(const Json& value) {
        if (!value.is_array()) throwTypeMismatch("Array", value);
        std::vector<T> values;
        values.reserve(value.size());
        for (const auto& element : value) values.push_back(json::decode<T>(element));
        return values;
    }
};

template <class T>
struct Coder<std::map<std::string, T>> {
    static Json encode(const std::map<std::string, T>& values) {
        Json object = Json::object();
        for (const auto& [key, value] : values) object[key] = json::encode(value);
        return object;
    }
    static std::map<std::string, T> decode(const Json& value) {
        if (!value.is_object()) throwTypeMismatch("Dictionary", value);
        std::map<std::string, T> values;
        for (const auto& [key, element] : value.items()) values.emplace(key, json::decode<T>(element));
        return values;
    }
};

// Bytes are Base64 text.
std::string base64Encode(const Bytes& bytes);
std::optional<Bytes> base64Decode(std::string_view text);

template <>
struct Coder<Bytes> {
    static Json encode(const Bytes& value) { return base64Encode(value); }
    static Bytes decode(const Json& value) {
        auto decoded = base64Decode(Coder<std::string>::decode(value));
        if (!decoded) {
            throw DecodingError(DecodingError::Kind::dataCorrupted, "Encountered Data is not valid Base64.");
        }
        return *decoded;
    }
};

// Reads one JSON object.
class ObjectReader {
public:
    explicit ObjectReader(const Json& value);

    // Present and not null.
    bool has(std::string_view key) const;
    const Json* find(std::string_view key) const;

    template <class T>
    T required(std::string_view key) const {
        const Json* value = find(key);
        if (value == nullptr) {
            throw DecodingError(DecodingError::Kind::keyNotFound,
                                "No value associated with key \"" + std::string(key) + "\".");
        }
        if (value->is_null()) {
            throw DecodingError(DecodingError::Kind::valueNotFound,
                                "Expected value for key \"" + std::string(key) + "\" but found null instead.");
        }
        return json::decode<T>(*value);
    }

    template <class T>
    std::optional<T> optional(std::string_view key) const {
        const Json* value = find(key);
        if (value == nullptr || value->is_null()) return std::nullopt;
        return json::decode<T>(*value);
    }

    // For fields added later: absent or null takes the default, a wrong value still fails.
    template <class T>
    T value(std::string_view key, T fallback) const {
        auto present = optional<T>(key);
        return present ? std::move(*present) : std::move(fallback);
    }

    const Json& raw() const { return object_; }

private:
    const Json& object_;
};

// Builds one JSON object.
class ObjectWriter {
public:
    template <class T>
    ObjectWriter& set(const std::string& key, const T& value) {
        object_[key] = json::encode(value);
        return *this;
    }
    template <class T>
    ObjectWriter& setIfPresent(const std::string& key, const std::optional<T>& value) {
        if (value) object_[key] = json::encode(*value);
        return *this;
    }
    Json build() const { return object_; }

private:
    Json object_ = Json::object();
};

// Enumerations whose cases carry values: an object with exactly one key naming the case.
// Keys naming no case are ignored; not exactly one case key fails.
std::string singleCaseKey(const Json& value, std::initializer_list<std::string_view> cases);

// Enumerations with text values: the bare string.
template <class E>
struct TextCase {
    E value;
    std::string_view text;
};

template <class E, std::size_t N>
std::string_view textOf(const TextCase<E> (&table)[N], E value) {
    for (const auto& entry : table) {
        if (entry.value == value) return entry.text;
    }
    throw std::logic_error("enumeration value without text");
}

template <class E, std::size_t N>
std::optional<E> caseFromText(const TextCase<E> (&table)[N], std::string_view text) {
    for (const auto& entry : table) {
        if (entry.text == text) return entry.value;
    }
    return std::nullopt;
}

template <class E, std::size_t N>
E decodeTextCase(const TextCase<E> (&table)[N], const Json& value, std::string_view typeName) {
    auto text = Coder<std::string>::decode(value);
    if (auto found = caseFromText(table, text)) return *found;
    throw DecodingError(DecodingError::Kind::dataCorrupted,
                        "Cannot initialize " + std::string(typeName) + " from invalid String value " + text);
}

}  // namespace yux::json
