#include "BrindlecoveApp/Platform/LoginItem.hpp"

#include "BrindlecoveApp/Platform/UserDefaults.hpp"

#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/ReadFile.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace brindlecove {
namespace {

struct EntryKeys {
    QString exec;
    bool hidden = false;
    bool gnomeDisabled = false;
};

// An autostart entry is a few hundred bytes.
constexpr int64_t maxEntryBytes = int64_t{1} << 20;

// Reads the [Desktop Entry] group; nullopt when the file can't be read or is not a regular
// file (a FIFO in its place must not hang the status read at start-up).
std::optional<EntryKeys> readEntry(const QString& path) {
    std::string text;
    try {
        text = tessaline::readWholeFile(QFile::encodeName(path).toStdString(), maxEntryBytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    EntryKeys keys;
    bool inEntry = false;
    const QList<QByteArray> lines = QByteArray::fromStdString(text).split('\n');
    for (const QByteArray& raw : lines) {
        QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inEntry || line.startsWith(QLatin1Char('#'))) continue;
        qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) continue;
        QString key = line.left(equals).trimmed();
        QString value = line.mid(equals + 1).trimmed();
        if (key == QStringLiteral("Exec")) keys.exec = value;
        else if (key == QStringLiteral("Hidden")) keys.hidden = value == QStringLiteral("true");
        else if (key == QStringLiteral("X-GNOME-Autostart-enabled"))
            keys.gnomeDisabled = value == QStringLiteral("false");
    }
    return keys;
}

bool isReservedInExec(QChar c) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    return reserved.contains(c);
}

// Undoes the string-value escapes (\s \n \t \r \\), which apply before the Exec rules.
QString unescapeString(const QString& value) {
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        QChar next = value[++i];
        if (next == QLatin1Char('s')) out += QLatin1Char(' ');
        else if (next == QLatin1Char('n')) out += QLatin1Char('\n');
        else if (next == QLatin1Char('t')) out += QLatin1Char('\t');
        else if (next == QLatin1Char('r')) out += QLatin1Char('\r');
        else out += next;
    }
    return out;
}

bool isExecutableFile(const QString& path) {
    if (path.isEmpty()) return false;
    QFileInfo info(path);
    return info.exists() && info.isFile() && access(QFile::encodeName(path).constData(), X_OK) == 0;
}

LoginItemStatus statusOf(const EntryKeys& keys) {
    if (keys.hidden || keys.gnomeDisabled) return LoginItemStatus::requiresApproval;
    return isExecutableFile(LoginItem::programOfExec(keys.exec)) ? LoginItemStatus::enabled
                                                                 : LoginItemStatus::notFound;
}

QString reason(int error) { return QString::fromStdString(tessaline::errnoText(error)); }

}  // namespace

QString loginItemStatusText(LoginItemStatus status) {
    switch (status) {
    case LoginItemStatus::notRegistered: return QStringLiteral("notRegistered");
    case LoginItemStatus::enabled: return QStringLiteral("enabled");
    case LoginItemStatus::requiresApproval: return QStringLiteral("requiresApproval");
    case LoginItemStatus::notFound: return QStringLiteral("notFound");
    case LoginItemStatus::unavailable: break;
    }
    return QStringLiteral("unavailable");
}

LoginItem::LoginItem(QString appId, QString autostartFolder, QStringList systemFolders,
                     QString executable)
    : appId_(std::move(appId)),
      autostartFolder_(std::move(autostartFolder)),
      systemFolders_(std::move(systemFolders)),
      executable_(std::move(executable)) {}

LoginItem LoginItem::forApplication() {
    QString configHome = UserDefaults::configHome();
    QString folder = configHome.isEmpty() ? QString() : configHome + QStringLiteral("/autostart");
    QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (dirs.isEmpty()) dirs = QStringLiteral("/etc/xdg");
    QStringList systemFolders;
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(dir)) systemFolders << QDir::cleanPath(dir) + QStringLiteral("/autostart");
    // Inside an AppImage the executable lies in a temporary mount; $APPIMAGE is the file.
    QString executable = qEnvironmentVariable("APPIMAGE");
    if (executable.isEmpty()) executable = QCoreApplication::applicationFilePath();
    return LoginItem(QStringLiteral(BRINDLECOVE_APP_ID), folder, systemFolders, executable);
}

QString LoginItem::entryPath() const {
    if (autostartFolder_.isEmpty()) return {};
    return autostartFolder_ + QLatin1Char('/') + appId_ + QStringLiteral(".desktop");
}

LoginItemStatus LoginItem::status() const {
    if (autostartFolder_.isEmpty()) return LoginItemStatus::unavailable;
    // A folder that is a file, or can't be searched, makes the state unknowable.
    struct stat folderStat{};
    if (stat(QFile::encodeName(autostartFolder_).constData(), &folderStat) == 0) {
        if (!S_ISDIR(folderStat.st_mode)) return LoginItemStatus::unavailable;
    } else if (errno != ENOENT) {
        return LoginItemStatus::unavailable;
    }
    const QString userPath = entryPath();
    if (QFileInfo::exists(userPath)) {
        std::optional<EntryKeys> keys = readEntry(userPath);
        return keys ? statusOf(*keys) : LoginItemStatus::unavailable;
    }
    for (const QString& folder : systemFolders_) {
        QString systemPath = folder + QLatin1Char('/') + appId_ + QStringLiteral(".desktop");
        if (!QFileInfo::exists(systemPath)) continue;
        std::optional<EntryKeys> keys = readEntry(systemPath);
        return keys ? statusOf(*keys) : LoginItemStatus::unavailable;
    }
    return LoginItemStatus::notRegistered;
}

void LoginItem::registerItem() const {
    LoginItemStatus current = status();
    if (current == LoginItemStatus::enabled) return;
    if (autostartFolder_.isEmpty())
        throw LoginItemError("Couldn't write the autostart entry: no configuration folder is known.");
    writeEntry(false);
}

void LoginItem::unregisterItem() const {
    if (status() != LoginItemStatus::enabled) return;
    bool systemWide = false;
    for (const QString& folder : systemFolders_)
        systemWide |= QFileInfo::exists(folder + QLatin1Char('/') + appId_ + QStringLiteral(".desktop"));
    if (systemWide) {
        writeEntry(true);
        return;
    }
    const QByteArray path = QFile::encodeName(entryPath());
    if (unlink(path.constData()) != 0 && errno != ENOENT) {
        int error = errno;
        throw LoginItemError(("Couldn't remove " + entryPath() + ": " + reason(error)).toStdString());
    }
}

QString LoginItem::desktopText(bool hidden) const {
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=Brindlecove\n");
    text += QStringLiteral("Exec=") + execValue(executable_) + QLatin1Char('\n');
    text += QStringLiteral("Icon=") + appId_ + QLatin1Char('\n');
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    if (hidden) text += QStringLiteral("Hidden=true\n");
    return text;
}

void LoginItem::writeEntry(bool hidden) const {
    const QString path = entryPath();
    try {
        tessaline::createFolders(QFile::encodeName(autostartFolder_).toStdString(), 0755);
        tessaline::writeFileAtomically(QFile::encodeName(path).toStdString(),
                                       desktopText(hidden).toStdString());
    } catch (const tessaline::FileWriteError& error) {
        throw LoginItemError(("Couldn't write " + path + ": " + reason(error.error())).toStdString());
    }
}

QString LoginItem::execValue(const QString& program) {
    bool needsQuotes = std::any_of(program.begin(), program.end(), isReservedInExec);
    QString exec;
    if (needsQuotes) {
        exec += QLatin1Char('"');
        for (QChar c : program) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                exec += QLatin1Char('\\');
            exec += c;
        }
        exec += QLatin1Char('"');
    } else {
        exec = program;
    }
    // The string-value escape comes first when reading, so backslashes are doubled last;
    // "%" starts a field code and is written "%%". Control characters can't be kept.
    QString written;
    for (QChar c : exec) {
        if (c == QLatin1Char('\\')) written += QStringLiteral("\\\\");
        else if (c == QLatin1Char('%')) written += QStringLiteral("%%");
        else if (c == QLatin1Char('\n')) written += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t')) written += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r')) written += QStringLiteral("\\r");
        else written += c;
    }
    return written;
}

QString LoginItem::programOfExec(const QString& exec) {
    QString value = unescapeString(exec);
    QString program;
    qsizetype i = 0;
    while (i < value.size() && value[i] == QLatin1Char(' ')) ++i;
    if (i < value.size() && value[i] == QLatin1Char('"')) {
        for (++i; i < value.size(); ++i) {
            QChar c = value[i];
            if (c == QLatin1Char('"')) return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
            if (c == QLatin1Char('\\') && i + 1 < value.size()) c = value[++i];
            program += c;
        }
        return {};  // no closing quote
    }
    for (; i < value.size() && value[i] != QLatin1Char(' '); ++i) program += value[i];
    return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
}

}  // namespace brindlecove
