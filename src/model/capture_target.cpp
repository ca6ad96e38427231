#include "model/capture_target.hpp"

namespace yux {

namespace {
constexpr json::TextCase<CaptureMode> kModes[] = {
    {CaptureMode::area, "area"},
    {CaptureMode::app, "app"},
    {CaptureMode::screen, "screen"},
};
}  // namespace

std::string_view textOf(CaptureMode mode) { return json::textOf(kModes, mode); }

std::optional<CaptureMode> captureModeFromText(std::string_view text) { return json::caseFromText(kModes, text); }

}  // namespace yux

namespace yux::json {

Json Coder<SelectedCaptureArea>::encode(const SelectedCaptureArea& area) {
    return ObjectWriter().set("displayID", area.displayID).set("rect", area.rect).build();
}

SelectedCaptureArea Coder<SelectedCaptureArea>::decode(const Json& value) {
    ObjectReader object(value);
    return SelectedCaptureArea{object.required<DisplayID>("displayID"), object.required<CaptureRect>("rect")};
}

Json Coder<CaptureMode>::encode(CaptureMode mode) { return std::string(textOf(mode)); }

CaptureMode Coder<CaptureMode>::decode(const Json& value) { return decodeTextCase(kModes, value, "CaptureMode"); }

Json Coder<CaptureTarget>::encode(const CaptureTarget& target) {
    Json object = Json::object();
    if (const auto* area = target.asArea()) {
        object["area"] = ObjectWriter().set("_0", *area).build();
    } else if (const auto* application = target.asApplication()) {
        object["application"] = ObjectWriter()
                                    .set("bundleIdentifier", application->bundleIdentifier)
                                    .set("displayID", application->displayID)
                                    .build();
    } else {
        object["fullMainDisplay"] = Json::object();
    }
    return object;
}

CaptureTarget Coder<CaptureTarget>::decode(const Json& value) {
    auto key = singleCaseKey(value, {"area", "fullMainDisplay", "application"});
    ObjectReader inner(value.at(key));
    if (key == "area") {
        return CaptureTarget::area(inner.required<SelectedCaptureArea>("_0"));
    }
    if (key == "application") {
        return CaptureTarget::application(inner.required<std::string>("bundleIdentifier"),
                                          inner.required<DisplayID>("displayID"));
    }
    return CaptureTarget::fullMainDisplay();
}

Json Coder<CapturePreference>::encode(const CapturePreference& preference) {
    return ObjectWriter()
        .set("mode", preference.mode)
        .setIfPresent("lastArea", preference.lastArea)
        .setIfPresent("lastApplication", preference.lastApplication)
        .build();
}

CapturePreference Coder<CapturePreference>::decode(const Json& value) {
    ObjectReader object(value);
    return CapturePreference{object.required<CaptureMode>("mode"), object.optional<SelectedCaptureArea>("lastArea"),
                             object.optional<std::string>("lastApplication")};
}

}  // namespace yux::json
