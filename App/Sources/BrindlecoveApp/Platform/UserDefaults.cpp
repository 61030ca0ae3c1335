#include "BrindlecoveApp/Platform/UserDefaults.hpp"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <sys/stat.h>

namespace brindlecove {

namespace {

// Whether QSettings may be given `path`: it opens its file and "<file>.lock" with blocking
// calls and waits for the lock without end, so a FIFO under either name would hang the
// application at start and a folder as the lock would hang every write. A missing file is
// fine (it is created); anything but a regular file is not used.
bool regularOrAbsent(const QByteArray& path) {
    struct stat st{};
    if (::stat(path.constData(), &st) != 0) return true;
    return S_ISREG(st.st_mode);
}

}  // namespace

UserDefaults::UserDefaults(QString filePath) : filePath_(std::move(filePath)) {}

QString UserDefaults::configHome() {
    QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) return QDir::cleanPath(xdg);
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty()) home = QDir::homePath();
    if (home.isEmpty()) return {};
    return QDir::cleanPath(home + QStringLiteral("/.config"));
}

UserDefaults UserDefaults::standard() {
    return UserDefaults(configHome() + QStringLiteral("/Brindlecove/Brindlecove.conf"));
}

bool UserDefaults::isUsable() const {
    const QByteArray path = QFile::encodeName(filePath_);
    if (regularOrAbsent(path) && regularOrAbsent(path + ".lock")) return true;
    qWarning("The settings file %s (or its .lock) is not a regular file; settings are neither read nor stored",
             path.constData());
    return false;
}

bool UserDefaults::contains(const QString& key) const {
    return isUsable() && QSettings(filePath_, QSettings::IniFormat).contains(key);
}

QVariant UserDefaults::value(const QString& key) const {
    if (!isUsable()) return QVariant();
    return QSettings(filePath_, QSettings::IniFormat).value(key);
}

void UserDefaults::setValue(const QString& key, const QVariant& value) const {
    if (!isUsable()) return;
    QSettings settings(filePath_, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
}

void UserDefaults::remove(const QString& key) const {
    if (!isUsable()) return;
    QSettings settings(filePath_, QSettings::IniFormat);
    settings.remove(key);
    settings.sync();
}

std::optional<QString> UserDefaults::string(const QString& key) const {
    QVariant stored = value(key);
    if (!stored.isValid()) return std::nullopt;
    if (stored.typeId() == QMetaType::QString) return stored.toString();
    // INI reads a list back as a list; anything else is not a string.
    if (stored.typeId() == QMetaType::QByteArray) return QString::fromUtf8(stored.toByteArray());
    return std::nullopt;
}

std::optional<QByteArray> UserDefaults::data(const QString& key) const {
    QVariant stored = value(key);
    if (stored.typeId() != QMetaType::QByteArray) return std::nullopt;
    return stored.toByteArray();
}

std::optional<QStringList> UserDefaults::stringList(const QString& key) const {
    QVariant stored = value(key);
    if (!stored.isValid()) return std::nullopt;
    if (stored.typeId() == QMetaType::QStringList) return stored.toStringList();
    // INI stores a one-element list as a plain value and reads it back as a string.
    if (stored.typeId() == QMetaType::QString) return QStringList{stored.toString()};
    return std::nullopt;
}

}  // namespace brindlecove
