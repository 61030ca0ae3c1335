#include "BrindlecoveApp/Platform/SystemDiskService.hpp"

#include "BrindlecoveApp/Platform/FormatAuthorization.hpp"
#include "BrindlecoveApp/Platform/SystemBusConnection.hpp"
#include "Tessaline/Format/DiskInfo.hpp"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QThread>
#include <QVariantMap>

#include <unistd.h>

namespace brindlecove {

namespace {

using tessaline::DriveFormatError;

const QString service = QStringLiteral("org.freedesktop.UDisks2");
const QString managerPath = QStringLiteral("/org/freedesktop/UDisks2/Manager");
const QString managerInterface = QStringLiteral("org.freedesktop.UDisks2.Manager");
const QString blockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString filesystemInterface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

constexpr int answerTimeoutMs = SystemBusConnection::answerTimeoutMs;
// Unmount, format and mount may wait for the user at the authorisation prompt.
constexpr int promptTimeoutMs = SystemBusConnection::promptTimeoutMs;
// Volumes of this size or less get FAT16 from the service's mkfs.vfat, which picks the FAT
// size itself.
constexpr int64_t largestFat16Bytes = 512LL * 1024 * 1024;

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

QDBusMessage call(const SystemBusConnection& bus, const QString& path, const QString& interface, const QString& method,
                  const QVariantList& arguments, int timeoutMs = answerTimeoutMs) {
    return bus.call(service, path, interface, method, arguments, timeoutMs);
}

bool isError(const QDBusMessage& reply) { return SystemBusConnection::isError(reply); }

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

// The service's block objects of block device `device` (one, where it knows the device).
QDBusMessage resolve(const SystemBusConnection& bus, const std::string& device) {
    QVariantMap devspec{{QStringLiteral("path"), text(device)}};
    return call(bus, managerPath, managerInterface, QStringLiteral("ResolveDevice"), {devspec, QVariantMap{}});
}

QList<QDBusObjectPath> objectsOf(const QDBusMessage& resolved) {
    if (isError(resolved) || resolved.arguments().isEmpty()) return {};
    return qdbus_cast<QList<QDBusObjectPath>>(resolved.arguments().constFirst());
}

QVariantMap blockProperties(const SystemBusConnection& bus, const QString& object) {
    QDBusMessage reply = call(bus, object, propertiesInterface, QStringLiteral("GetAll"), {blockInterface});
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

// Asks for the right to format before anything is unmounted; throws when it is not given.
void authorize(const SystemBusConnection& bus, const QString& object, const QVariantMap& block, const QString& name) {
    const FormatAuthorization::Result result = FormatAuthorization::ask(bus, object, block);
    switch (result.answer) {
        case FormatAuthorization::Answer::granted: return;
        // Without polkit the service decides by the caller alone, without asking anybody: it
        // allows root and refuses everybody else, which is known before anything is unmounted.
        case FormatAuthorization::Answer::noAuthority:
            if (::geteuid() == 0) return;
            throw DriveFormatError::diskutilFailed(
                QStringLiteral("Reformatting \u201c%1\u201d needs the system's authorization service (polkit), which "
                               "isn't running here \u2014 nothing was formatted. Install it (apt install polkitd) and "
                               "start it (systemctl start polkit), then choose the volume again.")
                    .arg(name)
                    .toStdString());
        case FormatAuthorization::Answer::notKept:
            throw DriveFormatError::diskutilFailed(
                QStringLiteral("The system would ask for your password again between the last check of \u201c%1\u201d "
                               "and the format, while a card swapped in meanwhile could be formatted \u2014 nothing "
                               "was formatted. Reformat it from a desktop session.")
                    .arg(name)
                    .toStdString());
        case FormatAuthorization::Answer::refused: break;
    }
    if (!result.error.isEmpty())
        throw DriveFormatError::diskutilFailed(
            QStringLiteral("Couldn't ask for the right to reformat \u201c%1\u201d: %2 \u2014 nothing was formatted.")
                .arg(name, result.error)
                .toStdString());
    throw DriveFormatError::diskutilFailed(SystemDiskService::notAllowedMessage(name).toStdString());
}

std::string howToMount(const SystemDiskService::Facts& facts);

// `message`, after mounting the volume on `device` again as far as the service can, with
// what the user must know when it is still not mounted: that it is left unmounted, and why.
QString afterMountingAgain(const SystemBusConnection& bus, const QString& object, const SystemDiskService::Facts& facts,
                           QString message) {
    QDBusMessage mounted =
        call(bus, object, filesystemInterface, QStringLiteral("Mount"), {QVariantMap{}}, promptTimeoutMs);
    try {
        if (!tessaline::DiskInfo::mountPointsOf(facts.deviceIdentifier, {}).empty()) return message;
    } catch (const DriveFormatError&) {
        return message;
    }
    QString reason;
    if (isGone(mounted))
        reason = QStringLiteral("the system disk service (udisks2) isn't answering");
    else if (mounted.errorName() == QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod") ||
             mounted.errorName() == QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"))
        reason = QStringLiteral("it holds no file system the system can read now");
    else if (isError(mounted))
        reason = mounted.errorMessage().trimmed();
    return text(DriveFormatError::leftUnmounted(message.toStdString(), facts.volumeName, reason.toStdString(),
                                                howToMount(facts))
                    .what());
}

// How the user mounts the volume again by hand.
std::string howToMount(const SystemDiskService::Facts& facts) {
    return "udisksctl mount -b " + facts.deviceIdentifier;
}

// The block's properties once the service has taken in an unmount: a file system just
// unmounted is probed again, and for a moment its UUID may read empty.
QVariantMap settledBlock(const SystemBusConnection& bus, const QString& object) {
    QVariantMap block;
    for (int look = 0; look < 50; ++look) {
        block = blockProperties(bus, object);
        if (!block.value(QStringLiteral("IdUUID")).toString().isEmpty()) break;
        QThread::msleep(100);
    }
    return block;
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
    SystemBusConnection bus(busAddress_);
    if (!bus.isConnected())
        return QStringLiteral(
            "Reformatting goes through the system disk service (udisks2), but the system message bus isn't "
            "running here. Install both (apt install dbus udisks2) and start the system bus (systemctl start "
            "dbus), then choose the volume again.");
    QDBusMessage reply =
        call(bus, managerPath, propertiesInterface, QStringLiteral("Get"), {managerInterface, QStringLiteral("Version")});
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
    SystemBusConnection bus(busAddress_);
    QDBusMessage reply = call(bus, managerPath, managerInterface, QStringLiteral("CanFormat"), {type});
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

std::optional<QString> SystemDiskService::currentFormat(const std::string& device) const {
    SystemBusConnection bus(busAddress_);
    if (!bus.isConnected()) return std::nullopt;
    const auto objects = objectsOf(resolve(bus, device));
    if (objects.size() != 1) return std::nullopt;
    const QVariantMap block = blockProperties(bus, objects.constFirst().path());
    const QString type = block.value(QStringLiteral("IdType")).toString();
    if (type.isEmpty()) return std::nullopt;
    const QString version = block.value(QStringLiteral("IdVersion")).toString();
    return text(tessaline::DiskInfo::userVisibleName(
        type.toStdString(), version.isEmpty() ? std::nullopt : std::optional(version.toStdString())));
}

SystemDiskService::Outcome SystemDiskService::reformat(const Facts& inspected, Format format, const QString& label,
                                                       const std::function<Facts()>& confirm) const {
    const QString name = text(inspected.volumeName);
    const std::string shownPath = inspected.mountPoint;
    SystemBusConnection bus(busAddress_);
    if (!bus.isConnected()) throw DriveFormatError::diskutilFailed(goneMessage().toStdString());

    // 1. The service's block object of the inspected device, still holding the inspected file system.
    QDBusMessage resolved = resolve(bus, inspected.deviceIdentifier);
    if (isError(resolved) || resolved.arguments().isEmpty())
        throw DriveFormatError::diskutilFailed(
            (isGone(resolved) ? goneMessage() : resolved.errorMessage() + QStringLiteral(" \u2014 nothing was formatted."))
                .toStdString());
    const auto objects = objectsOf(resolved);
    if (objects.size() != 1) throw DriveFormatError::volumeChanged(shownPath);
    const QString object = objects.constFirst().path();
    QVariantMap block = blockProperties(bus, object);
    if (!stillTheVolume(block, inspected)) throw DriveFormatError::volumeChanged(shownPath);

    // 2. The right to format, before anything is unmounted: a refusal leaves the volume
    // mounted and untouched, and no question waits between the last check and the format.
    authorize(bus, object, block, name);

    // 3. After any wait at the prompt, the volume at its path is still the one the user checked.
    const Facts checked = confirm ? confirm() : inspected;
    if (!stillTheVolume(blockProperties(bus, object), checked)) throw DriveFormatError::volumeChanged(shownPath);

    bool unmounted = false;
    try {
        // 4. Every mount of the device goes, or nothing is formatted. A mount that another user
        // made needs a right of its own, which the service may ask for here, before the last check.
        for (int round = 0; round < 8 && !tessaline::DiskInfo::mountPointsOf(checked.deviceIdentifier, {}).empty();
             ++round) {
            QDBusMessage done =
                call(bus, object, filesystemInterface, QStringLiteral("Unmount"), {QVariantMap{}}, promptTimeoutMs);
            if (!isError(done)) {
                unmounted = true;
                continue;
            }
            if (isNotAuthorized(done.errorName()))
                throw DriveFormatError::diskutilFailed(notAllowedMessage(name).toStdString());
            if (isGone(done)) throw DriveFormatError::diskutilFailed(goneMessage().toStdString());
            throw DriveFormatError::diskutilFailed(
                QStringLiteral("Couldn't unmount \u201c%1\u201d: %2 \u2014 nothing was formatted.")
                    .arg(name, done.errorMessage())
                    .toStdString());
        }
        if (!tessaline::DiskInfo::mountPointsOf(checked.deviceIdentifier, {}).empty())
            throw DriveFormatError::diskutilFailed("The volume at " + shownPath +
                                                   " is still mounted \u2014 nothing was formatted.");

        // 5. The last check: nothing may have changed while it was unmounted. What the service
        // cannot tell is no sign of another volume: the card is mounted again.
        block = settledBlock(bus, object);
        if (block.isEmpty()) throw DriveFormatError::diskutilFailed(goneMessage().toStdString());
        if (block.value(QStringLiteral("IdUUID")).toString().isEmpty())
            throw DriveFormatError::diskutilFailed(
                QStringLiteral("Couldn't check \u201c%1\u201d again after unmounting it \u2014 nothing was formatted.")
                    .arg(name)
                    .toStdString());
        if (!stillTheVolume(block, checked)) throw DriveFormatError::volumeChanged(shownPath);

        // 6. Format, on the right obtained in step 2: the service must not ask now.
        QVariantMap options{{QStringLiteral("label"), label},
                            {QStringLiteral("update-partition-type"), true},
                            {QStringLiteral("auth.no_user_interaction"), true}};
        QDBusMessage formatted =
            call(bus, object, blockInterface, QStringLiteral("Format"), {typeName(format), options}, promptTimeoutMs);
        if (isError(formatted)) {
            if (isNotAuthorized(formatted.errorName()))
                throw DriveFormatError::diskutilFailed(notAllowedMessage(name).toStdString());
            if (formatted.errorName() == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
                formatted.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"))
                throw DriveFormatError::diskutilFailed(goneMessage().toStdString());
            throw DriveFormatError::diskutilFailed(formatted.errorMessage().toStdString());
        }
    } catch (const DriveFormatError& e) {
        if (!unmounted) throw;
        // The device holds another volume now: that one is not ours to mount, but the user
        // must know it is not mounted.
        if (e.kind() == DriveFormatError::Kind::volumeChanged)
            throw DriveFormatError::volumeChanged(
                shownPath, DriveFormatError::leftUnmountedNote(checked.volumeName, {}, howToMount(checked)));
        throw DriveFormatError::diskutilFailed(afterMountingAgain(bus, object, checked, text(e.what())).toStdString());
    }

    // 7. Mount the new file system; a kernel without it leaves the volume ready but unmounted.
    Outcome outcome;
    QDBusMessage mounted =
        call(bus, object, filesystemInterface, QStringLiteral("Mount"), {QVariantMap{}}, promptTimeoutMs);
    if (isError(mounted) || mounted.arguments().isEmpty())
        outcome.notMountedReason = mounted.errorMessage();
    else
        outcome.mountPath = mounted.arguments().constFirst().toString();
    return outcome;
}

}  // namespace brindlecove
