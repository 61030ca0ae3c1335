#include "BrindlecoveApp/Platform/SystemBusConnection.hpp"

#include <QDBusVariant>

#include <atomic>

namespace brindlecove {

namespace {

std::atomic<int> connections{0};

}  // namespace

SystemBusConnection::SystemBusConnection(const QString& address)
    : name_(QStringLiteral("brindlecove-system-bus-%1").arg(++connections)),
      bus_(address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, name_)
                             : QDBusConnection::connectToBus(address, name_)) {}

SystemBusConnection::~SystemBusConnection() { QDBusConnection::disconnectFromBus(name_); }

QDBusMessage SystemBusConnection::call(const QString& service, const QString& path, const QString& interface,
                                       const QString& method, const QVariantList& arguments, int timeoutMs,
                                       bool interactive) const {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    message.setInteractiveAuthorizationAllowed(interactive);
    return bus_.call(message, QDBus::Block, timeoutMs);
}

QVariant SystemBusConnection::property(const QString& service, const QString& path, const QString& interface,
                                       const QString& name) const {
    QDBusMessage reply = call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                              {interface, name}, answerTimeoutMs, false);
    if (isError(reply) || reply.arguments().isEmpty()) return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

}  // namespace brindlecove
