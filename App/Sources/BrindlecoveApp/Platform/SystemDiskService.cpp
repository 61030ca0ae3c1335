#include "BrindlecoveApp/Platform/SystemDiskService.hpp"

#include "Tessaline/Format/DiskInfo.hpp"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QVariantMap>

#include <atomic>

namespace brindlecove {

namespace {

using tessaline::DriveFormatError;

const QString service = QStringLiteral("org.freedesktop.UDisks2");
const QString managerPath = QStringLiteral("/org/freedesktop/UDisks2/Manager");
const QString managerInterface = QStringLiteral("org.freedesktop.UDisks2.Manager");
const QString blockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString filesystemInterface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

constexpr int answerTimeoutMs = 10'000;
// Unmount, format and mount may wait for the user at the authorisation prompt.
constexpr int promptTimeoutMs = 3'600'000;
// Volumes of this size or less get FAT16 from the service's mkfs.vfat, which picks the FAT
// size itself.
constexpr int64_t largestFat16Bytes = 512LL * 1024 * 1024;

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

// A private connection to the bus, closed when this goes.
class Connection {
public:
    explicit Connection(const QString& address)
        : name_(QStringLiteral("brindlecove-disks-%1").arg(++counter_)),
          bus_(address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, name_)
                                 : QDBusConnection::connectToBus(address, name_)) {}
    ~Connection() { QDBusConnection::disconnectFromBus(name_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool isConnected() const { return bus_.isConnected(); }

    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments, int timeoutMs = answerTimeoutMs) const {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        message.setInteractiveAuthorizationAllowed(true);
        return bus_.call(message, QDBus::Block, timeoutMs);
    }

private:
    static inline std::atomic<int> counter_{0};
    QString name_;
    QDBusConnection bus_;
};

bool isError(const QDBusMessage& reply) { return reply.type() != QDBusMessage::ReplyMessage; }

// The service went away or never answered (rather than refusing or failing an operation).
bool isGone(const QDBusMessage& reply) {
    static const QStringList names = {
        QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
        QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
        QStringLiteral("org.freedesktop.DBus.Error.NoReply"),
        QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
        QStringLiteral("org.freedesktop.DBus.Error.NoServer"),
        QStringLiteral("org.freedesktop.DBus.Error.TimedOut"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
        QStringLiteral("org.freedesktop.DBus.Error.Spawn.ChildExited"),
    };
    return isError(reply) && names.contains(reply.errorName());
}

QString goneMessage() {
    return QStringLiteral(
        "The system disk service (udisks2) stopped answering \u2014 nothing was formatted. Start it again "
        "(systemctl start udisks2), then choose the volume again.");
}

QVariantMap blockProperties(const Connection& bus, const QString& object) {
    QDBusMessage reply = bus.call(object, propertiesInterface, QStringLiteral("GetAll"), {blockInterface});
    if (isError(reply) || reply.arguments().isEmpty()) return {};
    return qdbus_cast<QVariantMap>(reply.arguments().constFirst());
}

QString deviceOf(const QVariantMap& block) {
    QByteArray device = block.value(QStringLiteral("Device")).toByteArray();
    while (device.endsWith('\0')) device.chop(1);
    return QString::fromUtf8(device);
}

bool stillTheVolume(const QVariantMap& block, const SystemDiskService::Facts& facts) {
    return !facts.uuid.empty() && deviceOf(block) == text(facts.deviceIdentifier) &&
           block.value(QStringLiteral("IdUUID")).toString() == text(facts.uuid);
}

// Mounts the volume again after a failed format, as far as the service can; its failure is
// not reported, the caller is already reporting the one that made this necessary.
void mountAgain(const Connection& bus, const QString& object) {
    bus.call(object, filesystemInterface, QStringLiteral("Mount"), {QVariantMap{}}, promptTimeoutMs);
}

}  // namespace

SystemDiskService::SystemDiskService(QString busAddress) : busAddress_(std::move(busAddress)) {}

QString SystemDiskService::typeName(Format format) {
    switch (format.value()) {
        case Format::exfat: return QStringLiteral("exfat");
        case Format::fat32: return QStringLiteral("vfat");
        case Format::apfs:
        case Format::hfsPlus: return {};
    }
    return {};
}

bool SystemDiskService::isNotAuthorized(const QString& errorName) {
    return errorName.startsWith(QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorized"));
}

QString SystemDiskService::notAllowedMessage(const QString& volumeName) {
    return QStringLiteral("You weren't allowed to reformat \u201c%1\u201d \u2014 nothing was formatted.").arg(volumeName);
}

std::optional<QString> SystemDiskService::unavailableReason() const {
    Connection bus(busAddress_);
    if (!bus.isConnected())
        return QStringLiteral(
            "Reformatting goes through the system disk service (udisks2), but the system message bus isn't "
            "running here. Install both (apt install dbus udisks2) and start the system bus (systemctl start "
            "dbus), then choose the volume again.");
    QDBusMessage reply = bus.call(managerPath, propertiesInterface, QStringLiteral("Get"),
                                  {managerInterface, QStringLiteral("Version")});
    if (!isError(reply)) return std::nullopt;
    return QStringLiteral(
        "Reformatting goes through the system disk service (udisks2), which isn't answering here. Install it "
        "(apt install udisks2) and start it (systemctl start udisks2), then choose the volume again.");
}

std::optional<QString> SystemDiskService::formatProblem(Format format, const Facts& facts) const {
    const QString type = typeName(format);
    if (type.isEmpty()) return QStringLiteral("the system disk service can't create it");
    if (format == Format::fat32 && facts.totalBytes <= largestFat16Bytes)
        return QStringLiteral("the system disk service makes FAT16 on volumes of 512 MB or less");
    Connection bus(busAddress_);
    QDBusMessage reply = bus.call(managerPath, managerInterface, QStringLiteral("CanFormat"), {type});
    if (isError(reply) || reply.arguments().isEmpty()) return QStringLiteral("the system disk service can't create it");
    bool available = false;
    QString utility;
    const QDBusArgument answer = reply.arguments().constFirst().value<QDBusArgument>();
    answer.beginStructure();
    answer >> available >> utility;
    answer.endStructure();
    if (available) return std::nullopt;
    return utility.isEmpty() ? QStringLiteral("the system disk service can't create it")
                             : QStringLiteral("%1 is not installed").arg(utility);
}

SystemDiskService::Outcome SystemDiskService::reformat(const Facts& checked, Format format, const QString& label) const {
    const QString name = text(checked.volumeName);
    const std::string shownPath = checked.mountPoint;
    Connection bus(busAddress_);
    if (!bus.isConnected()) throw DriveFormatError::diskutilFailed(goneMessage().toStdString());

    // 1. The service's block object of the inspected device, still holding the inspected file system.
    QVariantMap devspec{{QStringLiteral("path"), text(checked.deviceIdentifier)}};
    QDBusMessage resolved =
        bus.call(managerPath, managerInterface, QStringLiteral("ResolveDevice"), {devspec, QVariantMap{}});
    if (isError(resolved) || resolved.arguments().isEmpty())
        throw DriveFormatError::diskutilFailed(
            (isGone(resolved) ? goneMessage() : resolved.errorMessage() + QStringLiteral(" \u2014 nothing was formatted."))
                .toStdString());
    const auto objects = qdbus_cast<QList<QDBusObjectPath>>(resolved.arguments().constFirst());
    if (objects.size() != 1) throw DriveFormatError::volumeChanged(shownPath);
    const QString object = objects.constFirst().path();
    if (!stillTheVolume(blockProperties(bus, object), checked)) throw DriveFormatError::volumeChanged(shownPath);

    // 2. Every mount of the device goes, or nothing is formatted.
    for (int round = 0; round < 8 && !tessaline::DiskInfo::mountPointsOf(checked.deviceIdentifier, {}).empty();
         ++round) {
        QDBusMessage unmounted =
            bus.call(object, filesystemInterface, QStringLiteral("Unmount"), {QVariantMap{}}, promptTimeoutMs);
        if (!isError(unmounted)) continue;
        if (isNotAuthorized(unmounted.errorName())) {
            if (round > 0) mountAgain(bus, object);
            throw DriveFormatError::diskutilFailed(notAllowedMessage(name).toStdString());
        }
        if (round > 0) mountAgain(bus, object);
        if (isGone(unmounted)) throw DriveFormatError::diskutilFailed(goneMessage().toStdString());
        throw DriveFormatError::diskutilFailed(
            QStringLiteral("Couldn't unmount \u201c%1\u201d: %2 \u2014 nothing was formatted.")
                .arg(name, unmounted.errorMessage())
                .toStdString());
    }
    if (!tessaline::DiskInfo::mountPointsOf(checked.deviceIdentifier, {}).empty())
        throw DriveFormatError::diskutilFailed("The volume at " + shownPath +
                                               " is still mounted \u2014 nothing was formatted.");
    // Nothing may have changed while it was unmounted.
    const QVariantMap block = blockProperties(bus, object);
    if (block.isEmpty()) throw DriveFormatError::diskutilFailed(goneMessage().toStdString());
    if (!stillTheVolume(block, checked)) throw DriveFormatError::volumeChanged(shownPath);

    // 3. Format. A refusal or failure mounts the volume again.
    QVariantMap options{{QStringLiteral("label"), label}, {QStringLiteral("update-partition-type"), true}};
    QDBusMessage formatted =
        bus.call(object, blockInterface, QStringLiteral("Format"), {typeName(format), options}, promptTimeoutMs);
    if (isError(formatted)) {
        mountAgain(bus, object);
        if (isNotAuthorized(formatted.errorName()))
            throw DriveFormatError::diskutilFailed(notAllowedMessage(name).toStdString());
        if (formatted.errorName() == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
            formatted.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"))
            throw DriveFormatError::diskutilFailed(goneMessage().toStdString());
        throw DriveFormatError::diskutilFailed(formatted.errorMessage().toStdString());
    }

    // 4. Mount the new file system; a kernel without it leaves the volume ready but unmounted.
    Outcome outcome;
    QDBusMessage mounted =
        bus.call(object, filesystemInterface, QStringLiteral("Mount"), {QVariantMap{}}, promptTimeoutMs);
    if (isError(mounted) || mounted.arguments().isEmpty())
        outcome.notMountedReason = mounted.errorMessage();
    else
        outcome.mountPath = mounted.arguments().constFirst().toString();
    return outcome;
}

}  // namespace brindlecove
