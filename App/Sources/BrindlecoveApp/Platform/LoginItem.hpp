#pragma once
// The application's login item as an XDG autostart entry,
// "$XDG_CONFIG_HOME/autostart/<app-id>.desktop". Its states map onto the login-item
// statuses: no entry → notRegistered; an entry that starts an existing executable →
// enabled; an entry the user switched off (Hidden=true, X-GNOME-Autostart-enabled=false) →
// requiresApproval; an entry whose program is gone (the application moved) → notFound;
// an autostart folder that can't be found or read → unavailable.
// A system-wide entry (in $XDG_CONFIG_DIRS/autostart) counts unless a user entry hides it.
// Every call reads the disk afresh; nothing is cached. Main thread.

#include <QString>
#include <QStringList>

#include <stdexcept>

namespace brindlecove {

enum class LoginItemStatus { notRegistered, enabled, requiresApproval, notFound, unavailable };

// "notRegistered", "enabled", "requiresApproval", "notFound", "unavailable".
QString loginItemStatusText(LoginItemStatus status);

// A failed change of the entry; what() is the sentence "Couldn't write <path>: <reason>".
class LoginItemError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class LoginItem {
public:
    // `autostartFolder`: the user's autostart folder (empty when it can't be determined);
    // `systemFolders`: system-wide autostart folders; `executable`: the program to start.
    LoginItem(QString appId, QString autostartFolder, QStringList systemFolders, QString executable);

    // The running application's entry: $XDG_CONFIG_HOME (or ~/.config) and $XDG_CONFIG_DIRS
    // (or /etc/xdg), started through $APPIMAGE when set, else this executable's path.
    static LoginItem forApplication();

    QString entryPath() const;
    LoginItemStatus status() const;

    // Writes an enabled entry atomically (repairing a disabled or stale one); nothing is
    // written when the status is already enabled. Throws LoginItemError.
    void registerItem() const;
    // Removes the user's entry, or hides a system-wide one; only when enabled.
    // Throws LoginItemError.
    void unregisterItem() const;

    // The Exec value for `program` as the Desktop Entry rules require: quoted when it holds
    // a reserved character, string-escaped, "%" doubled.
    static QString execValue(const QString& program);
    // The program of an Exec value (its first argument, unescaped); empty when malformed.
    static QString programOfExec(const QString& exec);

private:
    QString desktopText(bool hidden) const;
    void writeEntry(bool hidden) const;

    QString appId_;
    QString autostartFolder_;
    QStringList systemFolders_;
    QString executable_;
};

}  // namespace brindlecove
