#include "BrindlecoveApp/Formats.hpp"

#include "Tessaline/Support/NumberText.hpp"

#include <QLocale>
#include <QRegularExpression>

namespace brindlecove::Formats {

QString mediumTime(const QTime& time) {
    QLocale locale;
    QString format = locale.timeFormat(QLocale::LongFormat);
    // Drop the zone token ("t", "tttt") and the blanks around it.
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    format.replace(zone, QStringLiteral(" "));
    return locale.toString(time, format.trimmed());
}

QString abbreviatedDate(const QDate& date) {
    QLocale locale;
    QString format = locale.dateFormat(QLocale::LongFormat);
    // Drop the weekday ("dddd" and the separator after it), then shorten month names.
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    format.replace(weekday, QString());
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return locale.toString(date, format.trimmed());
}

QString abbreviatedDateShortTime(const QDateTime& when) {
    QDateTime local = when.toLocalTime();
    return abbreviatedDate(local.date()) + QLatin1Char(' ') + QLocale().toString(local.time(), QLocale::ShortFormat);
}

QString groupedInteger(qint64 value) { return QLocale().toString(value); }

QString fileByteCount(qint64 bytes) { return QString::fromStdString(tessaline::formatFileSize(bytes)); }

}  // namespace brindlecove::Formats
