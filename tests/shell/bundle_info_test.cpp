#include "platform/desktop/bundle_info.hpp"

#include <gtest/gtest.h>

namespace yux::platform {
namespace {

TEST(BundleInfoTest, LiveValuesComeFromTheBuild) {
    const BundleInfo live = BundleInfo::create();
    EXPECT_EQ(live.identifier(), "com.zt.yux");
    EXPECT_EQ(live.displayName(), "Yux");
    EXPECT_FALSE(live.version().empty());
    EXPECT_FALSE(live.executablePath().empty());
}

TEST(BundleInfoTest, MissingEmptyAndNonTextValues) {
    const BundleInfo info = BundleInfo::create_null({
        {BundleInfo::kVersionKey, QString()},
        {BundleInfo::kFeedURLKey, 42},
        {BundleInfo::kPublicEDKeyKey, QVariant()},
    });
    EXPECT_EQ(info.version(), "Development");
    EXPECT_FALSE(info.identifier());
    EXPECT_FALSE(info.text(BundleInfo::kFeedURLKey));
    EXPECT_EQ(info.value(BundleInfo::kFeedURLKey).toInt(), 42);
    EXPECT_FALSE(info.value(BundleInfo::kPublicEDKeyKey).isValid());
    EXPECT_EQ(BundleInfo::create_null({{BundleInfo::kVersionKey, QStringLiteral("1.2")}}).version(), "1.2");
}

}  // namespace
}  // namespace yux::platform
