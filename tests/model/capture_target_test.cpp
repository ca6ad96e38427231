#include "model/capture_target.hpp"

#include <gtest/gtest.h>

using namespace yux;
using json::DecodingError;
using json::decodeText;
using json::encodeText;

namespace {
const SelectedCaptureArea kArea{DisplayID{"1"}, CaptureRect{10, 20.5, 300, 200}};

std::string failureOf(const std::string& text) {
    try {
        decodeText<CaptureTarget>(text);
    } catch (const DecodingError& error) {
        return error.description();
    }
    return "decoded";
}
}  // namespace

TEST(CaptureTarget, EveryCaseRoundTripsInItsShape) {
    EXPECT_EQ(encodeText(CaptureTarget::area(kArea)),
              R"({"area":{"_0":{"displayID":{"rawValue":"1"},"rect":{"height":200,"width":300,"x":10,"y":20.5}}}})");
    EXPECT_EQ(encodeText(CaptureTarget::fullMainDisplay()), R"({"fullMainDisplay":{}})");
    EXPECT_EQ(encodeText(CaptureTarget::application("org.example.Editor", DisplayID{"2"})),
              R"({"application":{"bundleIdentifier":"org.example.Editor","displayID":{"rawValue":"2"}}})");
    for (const auto& target : {CaptureTarget::area(kArea), CaptureTarget::fullMainDisplay(),
                               CaptureTarget::application("org.example.Editor", DisplayID{"2"})}) {
        EXPECT_EQ(decodeText<CaptureTarget>(encodeText(target)), target);
    }
}

TEST(CaptureTarget, RefusesObjectsThatDoNotNameExactlyOneCase) {
    EXPECT_EQ(failureOf(R"({"area":{"_0":{}},"application":{}})"), "Invalid number of keys found, expected one.");
    EXPECT_EQ(failureOf(R"({"somethingElse":{}})"), "Invalid number of keys found, expected one.");
    EXPECT_EQ(decodeText<CaptureTarget>(R"({"fullMainDisplay":{"ignored":1},"note":"x"})"),
              CaptureTarget::fullMainDisplay());
    EXPECT_NE(failureOf(R"({"fullMainDisplay":1})"), "decoded");
    EXPECT_NE(failureOf(R"({"application":{"bundleIdentifier":"a"}})"), "decoded");
}

TEST(CapturePreference, OptionalsAreLeftOutAndModesAreExact) {
    EXPECT_EQ(encodeText(CapturePreference::initial()), R"({"mode":"area"})");
    CapturePreference full{CaptureMode::app, kArea, std::string("org.example.Editor")};
    EXPECT_EQ(decodeText<CapturePreference>(encodeText(full)), full);
    EXPECT_EQ(decodeText<CapturePreference>(R"({"mode":"app","lastArea":null})"),
              (CapturePreference{CaptureMode::app, std::nullopt, std::nullopt}));
    EXPECT_THROW(decodeText<CapturePreference>(R"({"lastApplication":"x"})"), DecodingError);
    EXPECT_THROW(decodeText<CapturePreference>(R"({"mode":"Area"})"), DecodingError);
    EXPECT_EQ(captureModeFromText("screen"), CaptureMode::screen);
    EXPECT_EQ(captureModeFromText("Screen"), std::nullopt);
}

TEST(DisplayBounds, DefaultsPixelsToPointsAndKeepsThemOtherwise) {
    DisplayBounds plain(DisplayID{"1"}, 0, 0, 1440, 900);
    EXPECT_EQ(plain.pixelWidth, 1440);
    EXPECT_EQ(plain.pixelHeight, 900);
    DisplayBounds retina(DisplayID{"1"}, 0, 0, 1440, 900, 2880, 1800);
    EXPECT_EQ(retina.pixelWidth, 2880);
    EXPECT_EQ(json::decodeText<DisplayBounds>(json::encodeText(retina)), retina);
    EXPECT_THROW(json::decodeText<DisplayBounds>(R"({"displayID":{"rawValue":"1"},"x":0,"y":0,"width":1,"height":1})"),
                 DecodingError);
}

TEST(DisplayID, IsAnObjectNeverABareString) {
    EXPECT_EQ(json::encodeText(DisplayID{"7"}), R"({"rawValue":"7"})");
    EXPECT_THROW(json::decodeText<DisplayID>(R"("7")"), DecodingError);
}
