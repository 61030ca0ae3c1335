#pragma once
// A private connection to the system bus (or to the bus at a given address), closed when it
// goes. Each operation opens one of its own, so a service may come and go while the program
// runs. Calls block; any thread but the main one.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariantList>

namespace brindlecove {

class SystemBusConnection {
public:
    // How long a service has to answer a plain call.
    static constexpr int answerTimeoutMs = 10'000;
    // How long a call may wait for the user at an authorisation prompt.
    static constexpr int promptTimeoutMs = 3'600'000;

    // `address`: "" for the system bus (DBUS_SYSTEM_BUS_ADDRESS or the standard socket).
    explicit SystemBusConnection(const QString& address);
    ~SystemBusConnection();
    SystemBusConnection(const SystemBusConnection&) = delete;
    SystemBusConnection& operator=(const SystemBusConnection&) = delete;

    bool isConnected() const { return bus_.isConnected(); }
    // This connection's unique name on the bus (":1.42").
    QString uniqueName() const { return bus_.baseService(); }

    // Calls `method` and waits up to `timeoutMs` for the answer (an error message when none
    // comes). `interactive`: the service may ask the user for authorisation meanwhile.
    QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments, int timeoutMs, bool interactive = true) const;
    // The value of property `name` of `interface` at `path`; an invalid QVariant when the
    // call fails.
    QVariant property(const QString& service, const QString& path, const QString& interface, const QString& name) const;

    static bool isError(const QDBusMessage& reply) { return reply.type() != QDBusMessage::ReplyMessage; }

private:
    QString name_;
    QDBusConnection bus_;
};

}  // namespace brindlecove
