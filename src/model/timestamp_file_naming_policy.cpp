#include "model/timestamp_file_naming_policy.hpp"

#include <QDateTime>
#include <cmath>

namespace yux {

std::string TimestampFileNamingPolicy::makeFilename(Date date, OutputFormat format) const {
    // Seconds are cut, not rounded: 09.05.07.9 is still 09.05.07.
    const auto seconds = static_cast<qint64>(std::floor(date.unixSeconds()));
    // A zone the toolkit does not know (TZ naming no zone it has) would give no date at all and
    // name every take "Yux 0000-00-00 00.00.00"; the C library's local time still has one.
    const QDateTime local = timeZone.isValid() ? QDateTime::fromSecsSinceEpoch(seconds, timeZone)
                                               : QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime);
    const QDate day = local.date();
    const QTime time = local.time();
    const QString stamp = QString::asprintf("%04d-%02d-%02d %02d.%02d.%02d", day.year(), day.month(), day.day(),
                                            time.hour(), time.minute(), time.second());
    return "Yux " + stamp.toStdString() + "." + std::string(fileExtensionOf(format));
}

}  // namespace yux
