#include "BrindlecoveApp/Main/SingleInstance.hpp"

#include "BrindlecoveApp/Platform/AppIdentity.hpp"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace brindlecove {

namespace {
const QByteArray openMessage = QByteArrayLiteral("open\n");
}

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName() { return appId() + QLatin1Char('-') + QString::number(getuid()); }

bool SingleInstance::claim(int connectTimeoutMs) {
    {
        QLocalSocket probe;
        probe.connectToServer(name_);
        if (probe.waitForConnected(connectTimeoutMs)) {
            probe.write(openMessage);
            probe.waitForBytesWritten(connectTimeoutMs);
            probe.disconnectFromServer();
            return false;
        }
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // Nobody answered, so the socket is a leftover of an instance that is gone.
        QLocalServer::removeServer(name_);
        if (!server_->listen(name_)) return true;  // run unguarded rather than not at all
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains("open")) Q_EMIT openRequested();
            });
        }
    });
    return true;
}

}  // namespace brindlecove
