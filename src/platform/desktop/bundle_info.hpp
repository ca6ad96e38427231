#pragma once

#include <map>
#include <optional>
#include <string>

#include <QVariant>

namespace yux::platform {

// What the program knows about itself: identifier, version, name, its executable and the
// update feed's keys, compiled in from build settings. Values are untyped, as a reader must
// cope with a key that is missing or holds something other than text.
class BundleInfo {
public:
    static constexpr const char* kIdentifierKey = "identifier";
    static constexpr const char* kVersionKey = "version";
    static constexpr const char* kDisplayNameKey = "displayName";
    static constexpr const char* kFeedURLKey = "SUFeedURL";
    static constexpr const char* kPublicEDKeyKey = "SUPublicEDKey";

    using Values = std::map<std::string, QVariant>;

    static BundleInfo create();
    // An invalid QVariant in `values` stands for a missing key, as does an absent entry.
    static BundleInfo create_null(Values values = {}, std::string executablePath = "/usr/bin/yux");

    // Invalid when the key is missing.
    QVariant value(const std::string& key) const;
    // Absent when the key is missing or its value is not text.
    std::optional<std::string> text(const std::string& key) const;

    std::optional<std::string> identifier() const { return text(kIdentifierKey); }
    // The project version; "Development" for a build without one.
    std::string version() const;
    std::optional<std::string> displayName() const { return text(kDisplayNameKey); }
    const std::string& executablePath() const { return executablePath_; }

private:
    BundleInfo(Values values, std::string executablePath)
        : values_(std::move(values)), executablePath_(std::move(executablePath)) {}

    Values values_;
    std::string executablePath_;
};

}  // namespace yux::platform
