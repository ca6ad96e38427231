#include "platform/updates/update_feed.hpp"

#include <QXmlStreamReader>

namespace yux::platform {

namespace {

UpdateItem readItem(QXmlStreamReader& reader) {
    UpdateItem item;
    bool hasLength = false;
    const QString ns = QString::fromLatin1(kUpdateFeedNamespace);
    while (reader.readNextStartElement()) {
        const auto name = reader.name();
        const bool ours = reader.namespaceUri() == ns;
        if (reader.namespaceUri().isEmpty() && name == u"title") {
            item.title = reader.readElementText().trimmed().toStdString();
        } else if (reader.namespaceUri().isEmpty() && name == u"pubDate") {
            item.pubDate = reader.readElementText().trimmed().toStdString();
        } else if (ours && name == u"version") {
            item.version = reader.readElementText().trimmed().toStdString();
        } else if (ours && name == u"shortVersionString") {
            item.displayVersionString = reader.readElementText().trimmed().toStdString();
        } else if (reader.namespaceUri().isEmpty() && name == u"enclosure") {
            const auto attributes = reader.attributes();
            item.url = attributes.value(QStringLiteral("url")).toString().trimmed().toStdString();
            bool ok = false;
            const qint64 length = attributes.value(QStringLiteral("length")).toLongLong(&ok);
            hasLength = ok && length > 0;
            if (hasLength && length > kMaxUpdateDownloadBytes)
                throw MalformedFeedError("The update feed lists a release larger than 1 GiB.");
            item.length = hasLength ? length : 0;
            item.edSignature = attributes.value(ns, QStringLiteral("edSignature")).toString().trimmed().toStdString();
            reader.skipCurrentElement();
        } else {
            reader.skipCurrentElement();
        }
    }
    if (reader.hasError()) return item;
    if (item.version.empty() || item.url.empty() || !hasLength || item.edSignature.empty())
        throw MalformedFeedError("The update feed lists a release without version, address, length or signature.");
    if (item.displayVersionString.empty()) item.displayVersionString = item.version;
    return item;
}

}  // namespace

std::vector<UpdateItem> parseUpdateFeed(const QByteArray& xml) {
    if (xml.size() > kMaxUpdateFeedBytes) throw MalformedFeedError("The update feed is too large.");
    QXmlStreamReader reader(xml);
    std::vector<UpdateItem> items;
    // Items may sit at any depth; the walk keeps no stack of its own, so no nesting can exhaust it.
    while (!reader.atEnd() && !reader.hasError()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.namespaceUri().isEmpty() &&
            reader.name() == u"item")
            items.push_back(readItem(reader));
    }
    if (reader.hasError())
        throw MalformedFeedError("The update feed is not readable XML: " + reader.errorString().toStdString() + ".");
    return items;
}

}  // namespace yux::platform
