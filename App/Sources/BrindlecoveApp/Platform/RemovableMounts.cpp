#include "BrindlecoveApp/Platform/RemovableMounts.hpp"

#include <QFileInfo>

#include <pwd.h>
#include <unistd.h>

namespace brindlecove::RemovableMounts {

namespace {

QString userName() {
    if (passwd* entry = getpwuid(geteuid()); entry && entry->pw_name) return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

bool isFolder(const QString& path) { return QFileInfo(path).isDir(); }

}  // namespace

QString parentFolder() {
    QString user = userName();
    if (!user.isEmpty()) {
        for (const QString& candidate : {QStringLiteral("/run/media/") + user, QStringLiteral("/media/") + user})
            if (isFolder(candidate)) return candidate;
    }
    if (isFolder(QStringLiteral("/media"))) return QStringLiteral("/media");
    return {};
}

}  // namespace brindlecove::RemovableMounts
