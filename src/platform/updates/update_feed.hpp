#pragma once

#include <stdexcept>
#include <vector>

#include <QByteArray>

#include "platform/updates/updater.hpp"

namespace yux::platform {

// The feed's namespace for its own elements and attributes.
inline constexpr const char* kUpdateFeedNamespace = "urn:yux:updates:1";
// A feed is a short list of releases; anything bigger is not ours.
inline constexpr qint64 kMaxUpdateFeedBytes = 1024 * 1024;
// A release is an archive of the program; a feed declaring more is refused before any download.
inline constexpr qint64 kMaxUpdateDownloadBytes = qint64{1} << 30;

class MalformedFeedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The releases of an RSS-style feed: each <item> with <title>, <yux:version>,
// <yux:shortVersionString>, <pubDate> and <enclosure url length yux:edSignature>. Unknown
// elements are skipped. Throws MalformedFeedError for XML errors, an oversized feed, or an
// item without version, URL, length or signature, or one declaring more than
// kMaxUpdateDownloadBytes.
std::vector<UpdateItem> parseUpdateFeed(const QByteArray& xml);

}  // namespace yux::platform
