#pragma once
// Keeps one running instance per user: two would run two mount watchers and coordinators,
// copying one pair twice at once. The first instance listens on a local socket named after
// the application id and the user; a later launch connects, asks the first to open its
// window, and exits. A socket left by a crashed instance (nobody answers) is removed.
// Main thread.

#include <QObject>
#include <QString>

class QLocalServer;

namespace brindlecove {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString name, QObject* parent = nullptr);
    ~SingleInstance() override;

    // "<app-id>-<uid>".
    static QString defaultName();

    // Tries to become the one instance. False when another instance answered; it has been
    // asked to open its window, and this process should exit 0.
    bool claim(int connectTimeoutMs = 1000);

Q_SIGNALS:
    // Another launch asked this instance to show its window.
    void openRequested();

private:
    QString name_;
    QLocalServer* server_ = nullptr;
};

}  // namespace brindlecove
