#include "platform/desktop/bundle_info.hpp"

#include <QCoreApplication>
#include <QFileInfo>

#ifndef YUX_BUNDLE_VERSION
#define YUX_BUNDLE_VERSION ""
#endif
#ifndef YUX_BUNDLE_FEED_URL
#define YUX_BUNDLE_FEED_URL ""
#endif
#ifndef YUX_BUNDLE_PUBLIC_ED_KEY
#define YUX_BUNDLE_PUBLIC_ED_KEY ""
#endif

namespace yux::platform {

namespace {

std::string runningExecutable() {
    // Before the application object exists the kernel's link is the only answer.
    const QString path = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                      : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return path.toStdString();
}

}  // namespace

BundleInfo BundleInfo::create() {
    Values values{
        {kIdentifierKey, QStringLiteral("com.zt.yux")},
        {kVersionKey, QStringLiteral(YUX_BUNDLE_VERSION)},
        {kDisplayNameKey, QStringLiteral("Yux")},
    };
    // An empty build setting means the key is not there, as for a build without a feed.
    if (*YUX_BUNDLE_FEED_URL) values[kFeedURLKey] = QStringLiteral(YUX_BUNDLE_FEED_URL);
    if (*YUX_BUNDLE_PUBLIC_ED_KEY) values[kPublicEDKeyKey] = QStringLiteral(YUX_BUNDLE_PUBLIC_ED_KEY);
    return BundleInfo(std::move(values), runningExecutable());
}

BundleInfo BundleInfo::create_null(Values values, std::string executablePath) {
    return BundleInfo(std::move(values), std::move(executablePath));
}

QVariant BundleInfo::value(const std::string& key) const {
    const auto found = values_.find(key);
    return found == values_.end() ? QVariant() : found->second;
}

std::optional<std::string> BundleInfo::text(const std::string& key) const {
    const QVariant found = value(key);
    if (found.typeId() != QMetaType::QString) return std::nullopt;
    return found.toString().toStdString();
}

std::string BundleInfo::version() const {
    const auto text = this->text(kVersionKey);
    return text && !text->empty() ? *text : "Development";
}

}  // namespace yux::platform
