#include "BrindlecoveApp/Platform/FormatAuthorization.hpp"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QMap>

#include <unistd.h>

#include <mutex>

namespace brindlecove {

namespace {

const QString polkit = QStringLiteral("org.freedesktop.PolicyKit1");
const QString authorityPath = QStringLiteral("/org/freedesktop/PolicyKit1/Authority");
const QString authorityInterface = QStringLiteral("org.freedesktop.PolicyKit1.Authority");
const QString disks = QStringLiteral("org.freedesktop.UDisks2");
const QString logind = QStringLiteral("org.freedesktop.login1");

constexpr int answerTimeoutMs = SystemBusConnection::answerTimeoutMs;
constexpr int promptTimeoutMs = SystemBusConnection::promptTimeoutMs;
constexpr uint allowUserInteraction = 1;

// polkit's subject: this process, by its unique name on the bus (polkit looks the process up
// itself, and keeps a granted answer for the process, whichever connection asks next).
struct PolkitSubject {
    QString kind;
    QVariantMap details;
};

QDBusArgument& operator<<(QDBusArgument& out, const PolkitSubject& subject) {
    out.beginStructure();
    out << subject.kind << subject.details;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PolkitSubject& subject) {
    in.beginStructure();
    in >> subject.kind >> subject.details;
    in.endStructure();
    return in;
}

using Details = QMap<QString, QString>;

void registerTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qDBusRegisterMetaType<PolkitSubject>();
        qDBusRegisterMetaType<Details>();
    });
}

bool isAbsent(const QDBusMessage& reply) {
    return reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
           reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner");
}

// One CheckAuthorization: true or false, or the failed reply.
struct Check {
    bool authorized = false;
    QDBusMessage reply;
};

Check check(const SystemBusConnection& bus, const QString& action, bool interactive) {
    registerTypes();
    const PolkitSubject subject{QStringLiteral("system-bus-name"),
                                {{QStringLiteral("name"), QVariant::fromValue(bus.uniqueName())}}};
    Check result;
    result.reply = bus.call(polkit, authorityPath, authorityInterface, QStringLiteral("CheckAuthorization"),
                            {QVariant::fromValue(subject), action, QVariant::fromValue(Details{}),
                             QVariant::fromValue(interactive ? allowUserInteraction : 0u), QString()},
                            interactive ? promptTimeoutMs : answerTimeoutMs, interactive);
    if (SystemBusConnection::isError(result.reply) || result.reply.arguments().isEmpty()) return result;
    const QDBusArgument answer = result.reply.arguments().constFirst().value<QDBusArgument>();
    bool challenge = false;
    Details details;
    answer.beginStructure();
    answer >> result.authorized >> challenge >> details;
    answer.endStructure();
    return result;
}

// The loop device behind `object` (or behind the partition table holding it) was set up
// through the service by `uid`.
bool setUpBy(const SystemBusConnection& bus, const QString& object, uid_t uid) {
    const QString loop = QStringLiteral("org.freedesktop.UDisks2.Loop");
    const QVariant own = bus.property(disks, object, loop, QStringLiteral("SetupByUID"));
    if (own.isValid() && own.toUInt() == uid) return true;
    const QVariant table =
        bus.property(disks, object, QStringLiteral("org.freedesktop.UDisks2.Partition"), QStringLiteral("Table"));
    if (!table.isValid()) return false;
    const QString tablePath = table.value<QDBusObjectPath>().path();
    if (tablePath.isEmpty() || tablePath == QStringLiteral("/")) return false;
    const QVariant tables = bus.property(disks, tablePath, loop, QStringLiteral("SetupByUID"));
    return tables.isValid() && tables.toUInt() == uid;
}

// The seat's active session is one of `uid`'s, as the service asks logind; true where no
// logind runs (the service then takes every user to be on the seat).
bool onUserSeat(const SystemBusConnection& bus, const QVariantMap& block, uid_t uid) {
    if (::access("/run/systemd/seats/", F_OK) != 0) return true;
    const QString drive = block.value(QStringLiteral("Drive")).value<QDBusObjectPath>().path();
    if (drive.isEmpty() || drive == QStringLiteral("/")) return false;
    const QString seat =
        bus.property(disks, drive, QStringLiteral("org.freedesktop.UDisks2.Drive"), QStringLiteral("Seat")).toString();
    if (seat.isEmpty()) return false;
    QDBusMessage found = bus.call(logind, QStringLiteral("/org/freedesktop/login1"),
                                  QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("GetSeat"), {seat},
                                  answerTimeoutMs, false);
    if (SystemBusConnection::isError(found) || found.arguments().isEmpty()) return false;
    const QString seatPath = found.arguments().constFirst().value<QDBusObjectPath>().path();
    const QVariant active =
        bus.property(logind, seatPath, QStringLiteral("org.freedesktop.login1.Seat"), QStringLiteral("ActiveSession"));
    if (!active.isValid()) return false;
    QString sessionPath;
    {
        const QDBusArgument session = active.value<QDBusArgument>();
        QString id;
        QDBusObjectPath path;
        session.beginStructure();
        session >> id >> path;
        session.endStructure();
        sessionPath = path.path();
    }
    if (sessionPath.isEmpty() || sessionPath == QStringLiteral("/")) return false;
    const QVariant user =
        bus.property(logind, sessionPath, QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("User"));
    if (!user.isValid()) return false;
    const QDBusArgument owner = user.value<QDBusArgument>();
    uint ownerUid = 0;
    QDBusObjectPath ownerPath;
    owner.beginStructure();
    owner >> ownerUid >> ownerPath;
    owner.endStructure();
    return ownerUid == uid;
}

}  // namespace

QString FormatAuthorization::actionFor(const SystemBusConnection& bus, const QString& object, const QVariantMap& block,
                                       uid_t uid) {
    if (!setUpBy(bus, object, uid)) {
        if (block.value(QStringLiteral("HintSystem")).toBool())
            return QStringLiteral("org.freedesktop.udisks2.modify-device-system");
        if (!onUserSeat(bus, block, uid)) return QStringLiteral("org.freedesktop.udisks2.modify-device-other-seat");
    }
    return QStringLiteral("org.freedesktop.udisks2.modify-device");
}

FormatAuthorization::Result FormatAuthorization::ask(const SystemBusConnection& bus, const QString& object,
                                                     const QVariantMap& block) {
    const QString action = actionFor(bus, object, block, ::getuid());
    Result result;
    // Already allowed (no password needed, or one given a moment ago): no prompt.
    Check quiet = check(bus, action, false);
    if (SystemBusConnection::isError(quiet.reply)) {
        if (isAbsent(quiet.reply)) {
            result.answer = Answer::noAuthority;
        } else {
            result.answer = Answer::refused;
            result.error = quiet.reply.errorMessage();
        }
        return result;
    }
    if (quiet.authorized) {
        result.answer = Answer::granted;
        return result;
    }
    Check asked = check(bus, action, true);
    if (SystemBusConnection::isError(asked.reply)) {
        result.answer = Answer::refused;
        if (asked.reply.errorName() != QStringLiteral("org.freedesktop.PolicyKit1.Error.Cancelled"))
            result.error = asked.reply.errorMessage();
        return result;
    }
    if (!asked.authorized) return result;
    // Given, but does polkit keep it for the service's own check?
    result.answer = check(bus, action, false).authorized ? Answer::granted : Answer::notKept;
    return result;
}

}  // namespace brindlecove
