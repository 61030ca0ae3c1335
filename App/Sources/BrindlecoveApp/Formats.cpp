#include "BrindlecoveApp/Formats.hpp"

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

}  // namespace brindlecove::Formats
