#include "model/timestamp_file_naming_policy.hpp"

#include <QDateTime>
#include <cmath>

namespace yux {

std::string TimestampFileNamingPolicy::makeFilename(Date date, OutputFormat format) const {
    // Seconds are cut, not rounded: 09.05.07.9 is still 09.05.07.
    const auto seconds = static_cast<qint64>(std::floor(date.unixSeconds()));
    const QDateTime local = QDateTime::fromSecsSinceEpoch(seconds, timeZone);
    const QDate day = local.date();
    const QTime time = local.time();
    const QString stamp = QString::asprintf("%04d-%02d-%02d %02d.%02d.%02d", day.year(), day.month(), day.day(),
                                            time.hour(), time.minute(), time.second());
    return "Yux " + stamp.toStdString() + "." + std::string(fileExtensionOf(format));
}

}  // namespace yux
