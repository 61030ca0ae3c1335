#include "BrindlecoveApp/Formats.hpp"

#include "Tessaline/Support/CountText.hpp"
#include "Tessaline/Support/NumberText.hpp"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

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

QString count(qint64 value, const char* singular, const char* plural) {
    return groupedInteger(value) + QLatin1Char(' ') + noun(value, singular, plural);
}

QString noun(qint64 value, const char* singular, const char* plural) {
    return QString::fromUtf8(tessaline::nounFor(value, singular, plural));
}

QString allOf(qint64 value, const char* singular, const char* plural) {
    return (value == 1 ? QStringLiteral("The ") : QStringLiteral("All ")) + count(value, singular, plural);
}

QString partOf(qint64 part, qint64 total, const char* singular, const char* plural) {
    return groupedInteger(part) + QStringLiteral(" of ") + count(total, singular, plural);
}

QString clipsAndFiles(qint64 clips, qint64 files) {
    QString text = count(clips, "clip", "clips");
    if (files > clips) text += QStringLiteral(" (") + count(files, "file", "files") + QLatin1Char(')');
    return text;
}

QString fileByteCount(qint64 bytes) { return QString::fromStdString(tessaline::formatFileSize(bytes)); }

std::optional<QString> durationText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return std::nullopt;
    // Clamp before converting: a huge double cast to an integer is undefined behaviour.
    constexpr double ceiling = 1e9;
    auto whole = static_cast<qint64>(std::trunc(std::min(seconds, ceiling)));
    QStringList parts;
    if (seconds >= 3600) {
        qint64 hours = whole / 3600, minutes = (whole % 3600) / 60;
        if (hours > 0) parts << QString::number(hours) + QLatin1Char('h');
        if (minutes > 0 && seconds < ceiling) parts << QString::number(minutes) + QLatin1Char('m');
    } else {
        qint64 minutes = whole / 60, rest = whole % 60;
        if (minutes > 0) parts << QString::number(minutes) + QLatin1Char('m');
        if (rest > 0 || minutes == 0) parts << QString::number(rest) + QLatin1Char('s');
    }
    return parts.join(QLatin1Char(' '));
}

QString fileStamp(const QDateTime& when) {
    return QLocale::c().toString(when.toLocalTime(), QStringLiteral("yyyy-MM-dd HHmmss"));
}

}  // namespace brindlecove::Formats
