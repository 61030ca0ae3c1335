#pragma once
// The user defaults: one INI file read and written through QSettings, by default
// "$XDG_CONFIG_HOME/Brindlecove/Brindlecove.conf". Keys are the program's verbatim
// ("Brindlecove.activeProject" ...). Each call uses its own QSettings object and writes
// through at once, so a value stored on the main thread is seen at once by a worker.
// Safe on any thread. Failures are not reported (a value that can't be stored is lost).
// A settings file (or its ".lock") that is not a regular file (a FIFO, a socket, a folder)
// is never opened: every key reads as absent and writes are dropped, with a warning.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace brindlecove {

class UserDefaults {
public:
    explicit UserDefaults(QString filePath);

    // The standard defaults, located from the environment at the time of the call.
    static UserDefaults standard();
    // "$XDG_CONFIG_HOME" (absolute), else "$HOME/.config"; empty when neither is known.
    static QString configHome();

    const QString& filePath() const { return filePath_; }

    bool contains(const QString& key) const;
    QVariant value(const QString& key) const;
    void setValue(const QString& key, const QVariant& value) const;
    void remove(const QString& key) const;

    // Typed reads: nullopt when the key is absent or holds another kind of value.
    std::optional<QString> string(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;
    std::optional<QStringList> stringList(const QString& key) const;

private:
    bool isUsable() const;

    QString filePath_;
};

}  // namespace brindlecove
