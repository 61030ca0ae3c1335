#include "BrindlecoveApp/Views/DesktopFileRevealer.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace brindlecove {

namespace {

using Failed = FileRevealer::Failed;

void tell(const Failed& failed) {
    if (failed) failed();
}

// False when no application took the URL (no launcher on the machine).
void openUrl(const QUrl& url, const Failed& failed) {
    if (!QDesktopServices::openUrl(url)) tell(failed);
}

void openFolderOf(const QString& path, const Failed& failed) {
    openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()), failed);
}

void showItems(const QString& path, const Failed& failed) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolderOf(path, failed);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [path, failed](QDBusPendingCallWatcher* done) {
                         if (QDBusPendingReply<> reply = *done; reply.isError()) openFolderOf(path, failed);
                         done->deleteLater();
                     });
}

}  // namespace

FileRevealer desktopFileRevealer() {
    FileRevealer revealer;
    revealer.reveal = showItems;
    revealer.open = [](const QString& path, const Failed& failed) { openUrl(QUrl::fromLocalFile(path), failed); };
    return revealer;
}

}  // namespace brindlecove
