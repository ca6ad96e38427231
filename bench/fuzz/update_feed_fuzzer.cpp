// The release feed as a hostile or broken server may send it: it is read or refused with the
// feed's own error, and every release it lists is complete and within the download limit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QByteArray>

#include "platform/updates/update_feed.hpp"

using namespace yux::platform;

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray xml(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    std::vector<UpdateItem> items;
    try {
        items = parseUpdateFeed(xml);
    } catch (const MalformedFeedError&) {
        return 0;
    }
    for (const auto& item : items) {
        if (item.version.empty() || item.url.empty() || item.edSignature.empty() || item.displayVersionString.empty())
            fail("an incomplete release was listed", item.title);
        if (item.length <= 0 || item.length > kMaxUpdateDownloadBytes)
            fail("a release length outside the limit was listed", std::to_string(item.length));
    }
    return 0;
}
