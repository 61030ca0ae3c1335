#include "BrindlecoveApp/ReportTextFileName.hpp"

#include "Tessaline/Support/AtomicFile.hpp"

#include <QDir>

namespace brindlecove {

namespace {

// What the file systems take, less room for the " 1000" a clash in the reports folder may
// add, so that a numbered name keeps the card name and the time whole.
constexpr qsizetype nameMax = static_cast<qsizetype>(tessaline::maxFileNameBytes) - 5;

QString safeComponent(QString text) {
    text.replace(QLatin1Char('/'), QLatin1Char('_'));
    text.replace(QChar(u'\0'), QLatin1Char('_'));
    return text;
}

}  // namespace

QString reportTextFileName(const QString& cardPath, const std::optional<QString>& volumeLabel, const QString& stamp) {
    QString name;
    if (!cardPath.isEmpty()) {
        const QString clean = QDir::cleanPath(cardPath);
        const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
        name = slash < 0 ? clean : clean.mid(slash + 1);
    }
    name = safeComponent(name);
    if (name.isEmpty() && volumeLabel) name = safeComponent(*volumeLabel);
    if (name.isEmpty()) name = QStringLiteral("card");

    const QString prefix = QStringLiteral("Brindlecove Report \u2014 ");
    const QString suffix = QStringLiteral(" \u2014 ") + stamp + QStringLiteral(".txt");
    const qsizetype fixedBytes = prefix.toUtf8().size() + suffix.toUtf8().size();
    while (!name.isEmpty() && fixedBytes + name.toUtf8().size() > nameMax) {
        name.chop(name.size() >= 2 && name.at(name.size() - 1).isLowSurrogate() ? 2 : 1);
    }
    if (name.isEmpty()) name = QStringLiteral("card");
    return prefix + name + suffix;
}

}  // namespace brindlecove
