#include "model/json_coding.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model/date.hpp"

using namespace yux::json;

namespace {
DecodingError::Kind kindOf(const std::function<void()>& decode) {
    try {
        decode();
    } catch (const DecodingError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "decoding did not fail";
    return DecodingError::Kind::dataCorrupted;
}
}  // namespace

TEST(JsonCoding, ScalarsAreStrictAboutTheirTypes) {
    EXPECT_EQ(decode<double>(Json(3)), 3.0);
    EXPECT_EQ(decode<std::int64_t>(Json(3.0)), 3);
    EXPECT_EQ(kindOf([] { decode<std::int64_t>(Json(3.5)); }), DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(kindOf([] { decode<std::int32_t>(Json(1e12)); }), DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(kindOf([] { decode<std::int64_t>(Json(1e300)); }), DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(kindOf([] { decode<std::string>(Json(1)); }), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(kindOf([] { decode<bool>(Json("true")); }), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(kindOf([] { decode<double>(Json(nullptr)); }), DecodingError::Kind::valueNotFound);
    EXPECT_EQ(kindOf([] { parseText("{\"a\":"); }), DecodingError::Kind::dataCorrupted);
}

TEST(JsonCoding, DeepNestingIsRefusedBeforeParsingAndBeforeWriting) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(kindOf([&] { parseText(deep); }), DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(kindOf([] { parseText(std::string(65, '[') + std::string(65, ']')); }), DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(parseText(std::string(64, '[') + std::string(64, ']')).size(), 1u);
    // Brackets inside text are no nesting.
    EXPECT_EQ(parseText("[\"" + std::string(100, '[') + "\"]")[0].get<std::string>().size(), 100u);

    Json value = Json::array();
    for (int i = 0; i < 64; ++i) value = Json::array({value});
    EXPECT_THROW(encodeText(value), EncodingError);
}

TEST(JsonCoding, NonFiniteNumbersAreRefusedInsteadOfWrittenAsNull) {
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        EXPECT_THROW(encode(bad), EncodingError);
        EXPECT_THROW(encodeText(std::vector<double>{1.0, bad}), EncodingError);
    }
    EXPECT_EQ(encodeText(std::vector<double>{1.5, -0.0, 30.0, -2.0, 9007199254740992.0}), "[1.5,-0.0,30,-2,9.007199254740992e+15]");
    // Values built by hand are checked too, and a date is a number like any other.
    EXPECT_THROW(encodeText(Json::object({{"a", Json::array({std::nan("")})}})), EncodingError);
    EXPECT_THROW(encodeText(yux::Date{std::numeric_limits<double>::infinity()}), EncodingError);
}

TEST(JsonCoding, ObjectsTellMissingNullAndUnknownKeysApart) {
    auto object = parseText(R"({"name":"a","gone":null,"extra":1})");
    ObjectReader reader(object);
    EXPECT_EQ(reader.required<std::string>("name"), "a");
    EXPECT_EQ(reader.optional<std::string>("gone"), std::nullopt);
    EXPECT_EQ(reader.optional<std::string>("absent"), std::nullopt);
    EXPECT_EQ(reader.value<std::int64_t>("absent", 9), 9);
    EXPECT_EQ(kindOf([&] { reader.required<std::string>("absent"); }), DecodingError::Kind::keyNotFound);
    EXPECT_EQ(kindOf([&] { reader.required<std::string>("gone"); }), DecodingError::Kind::valueNotFound);
    // A present key of the wrong type fails even where a default exists.
    EXPECT_EQ(kindOf([&] { reader.value<std::string>("extra", "x"); }), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(kindOf([] { ObjectReader(Json::array()); }), DecodingError::Kind::typeMismatch);
}

TEST(JsonCoding, WriterLeavesAbsentOptionalsOut) {
    std::optional<std::string> none;
    std::optional<std::string> some = "x";
    auto object = ObjectWriter().set("a", 1).setIfPresent("b", none).setIfPresent("c", some).build();
    EXPECT_EQ(encodeText(object), R"({"a":1,"c":"x"})");
}

TEST(JsonCoding, ContainersDatesAndBytesRoundTrip) {
    std::map<std::string, std::vector<double>> values{{"a", {1.5, 2}}, {"b", {}}};
    EXPECT_EQ((decodeText<std::map<std::string, std::vector<double>>>(encodeText(values))), values);

    yux::Date date{789.25};
    EXPECT_EQ(encode(date), Json(789.25));
    EXPECT_EQ(decode<yux::Date>(Json(789.25)), date);

    for (const Bytes& bytes : {Bytes{}, Bytes{1}, Bytes{1, 2}, Bytes{0, 255, 128}, Bytes{'M', 'a', 'n', 'y', '!'}}) {
        EXPECT_EQ(decode<Bytes>(encode(bytes)), bytes);
    }
    EXPECT_EQ(encode(Bytes{'M', 'a'}), Json("TWE="));
    EXPECT_EQ(kindOf([] { decode<Bytes>(Json("T=WE")); }), DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(kindOf([] { decode<Bytes>(Json("abc")); }), DecodingError::Kind::dataCorrupted);
}

TEST(JsonCoding, CaseKeysMustNameExactlyOneCase) {
    EXPECT_EQ(singleCaseKey(parseText(R"({"b":{},"zz":1})"), {"a", "b"}), "b");
    EXPECT_THROW(singleCaseKey(parseText(R"({"a":{},"b":{}})"), {"a", "b"}), DecodingError);
    try {
        singleCaseKey(parseText(R"({"zz":{}})"), {"a", "b"});
        FAIL();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.description(), "Invalid number of keys found, expected one.");
    }
}

TEST(Date, FormatsInternetDateTimeInUtc) {
    auto date = yux::Date::fromUnixSeconds(1769850307.25);  // 2026-01-31T09:05:07.250Z
    EXPECT_EQ(date.iso8601(true), "2026-01-31T09:05:07.250Z");
    EXPECT_EQ(date.iso8601(false), "2026-01-31T09:05:07Z");
    EXPECT_EQ(yux::Date{0}.iso8601(false), "2001-01-01T00:00:00Z");
    EXPECT_EQ(yux::Date::fromUnixSeconds(1.9996).iso8601(true), "1970-01-01T00:00:01.999Z");
    EXPECT_EQ(yux::Date::fromUnixSeconds(59.9996).iso8601(false), "1970-01-01T00:00:59Z");
    EXPECT_EQ(yux::Date::fromUnixSeconds(-0.0004).iso8601(true), "1969-12-31T23:59:59.999Z");
    // Dates no calendar year of four digits holds print as the nearest end.
    EXPECT_EQ(yux::Date{7e21}.iso8601(false), "9999-12-31T23:59:59Z");
    EXPECT_EQ(yux::Date{-std::numeric_limits<double>::infinity()}.iso8601(false), "0001-01-01T00:00:00Z");
    EXPECT_EQ(yux::Date{std::nan("")}.iso8601(false), "1970-01-01T00:00:00Z");
}
