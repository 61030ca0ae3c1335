#include "DiskService/PrivateDiskService.hpp"

#include "BrindlecoveApp/Platform/SystemDiskService.hpp"
#include "Support/TestSandbox.hpp"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QVariantMap>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace brindlecove::testing {

namespace fs = std::filesystem;
using tessaline::testing::runCommand;

namespace {

const char* const dbusDaemon = "/usr/bin/dbus-daemon";
const char* const udisksd = "/usr/libexec/udisks2/udisksd";
const char* const udevd = "/lib/systemd/systemd-udevd";
const char* const udevadm = "/usr/bin/udevadm";
const char* const polkitd = "/usr/lib/polkit-1/polkitd";

bool executable(const char* path) { return ::access(path, X_OK) == 0; }

// True when a udev daemon answers on the control socket of this mount namespace
// (/run/udev/control): the daemon udisksd and udevadm here would use. A daemon seen only as a
// process may serve another namespace (a container's) with a /run of its own, and a socket file
// left by a daemon that ended answers nothing.
bool udevDaemonAnswers() {
    std::error_code ec;
    if (!fs::exists("/run/udev/control", ec)) return false;
    return runCommand({udevadm, "control", "--ping", "--timeout=2"}).exitCode == 0;
}

template <class Test>
bool waitUntil(Test test, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!test()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

std::string PrivateDiskService::unavailableReason() {
    if (::geteuid() != 0) return "the system disk service is started for tests only as root";
    for (const char* program : {dbusDaemon, udisksd, udevd, udevadm})
        if (!executable(program)) return std::string(program) + " is not installed (packages dbus-daemon, udisks2, udev)";
    return {};
}

PrivateDiskService::PrivateDiskService() {
    char pattern[] = "/tmp/brindlecove-disk-service-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    // Other users reach the bus too (a caller without rights is refused by the service).
    fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
}

PrivateDiskService::~PrivateDiskService() {
    end(monitor_);
    end(udisksd_);
    end(polkitd_);
    if (udevd_ > 0) {
        end(udevd_);
        // The udev database would outlive the daemon and describe devices long since changed.
        runCommand({udevadm, "info", "--cleanup-db"});
    }
    end(bus_);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

pid_t PrivateDiskService::spawn(const std::vector<std::string>& argv, const std::string& logName, int outputFd) {
    const std::string log = (folder_ / logName).string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outputFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int failed = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) throw std::runtime_error("could not start " + argv[0]);
    return pid;
}

void PrivateDiskService::end(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    bool ended = waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(5));
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    pid = -1;
}

void PrivateDiskService::start(bool withPolkit) {
    const auto began = std::chrono::steady_clock::now();
    const fs::path socket = folder_ / "system_bus_socket";
    const fs::path config = folder_ / "system-bus.conf";
    {
        std::ofstream out(config);
        out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <type>system</type>\n"
               "  <listen>unix:path="
            << socket.string()
            << "</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "    <allow user=\"*\"/>\n"
               "    <allow own=\"*\"/>\n"
               "    <allow send_type=\"method_call\"/>\n"
               "    <allow send_type=\"signal\"/>\n"
               "    <allow send_type=\"method_return\"/>\n"
               "    <allow send_type=\"error\"/>\n"
               "    <allow receive_type=\"method_call\"/>\n"
               "    <allow receive_type=\"signal\"/>\n"
               "    <allow receive_type=\"method_return\"/>\n"
               "    <allow receive_type=\"error\"/>\n"
               "  </policy>\n"
               "</busconfig>\n";
    }
    address_ = QStringLiteral("unix:path=") + QString::fromStdString(socket.string());
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.toUtf8().constData(), 1);
    bus_ = spawn({dbusDaemon, "--config-file=" + config.string(), "--nofork", "--nopidfile"}, "dbus-daemon.log");
    if (!waitUntil([&] { return fs::exists(socket); }, std::chrono::seconds(10)))
        throw std::runtime_error("the private system bus did not come up");

    if (!udevDaemonAnswers()) {
        udevd_ = spawn({udevd}, "systemd-udevd.log");
        if (!waitUntil([] { return runCommand({udevadm, "control", "--ping"}).exitCode == 0; }, std::chrono::seconds(10)))
            throw std::runtime_error("systemd-udevd did not come up");
        runCommand({udevadm, "trigger", "--subsystem-match=block", "--action=add"});
        runCommand({udevadm, "settle", "--timeout=10"});
    }
    // Before udisksd, which looks for polkit when it starts.
    if (withPolkit && executable(polkitd)) {
        polkitd_ = spawn({polkitd, "--no-debug"}, "polkitd.log");
        const QString name = QStringLiteral("brindlecove-test-polkit");
        bool answers = false;
        {
            QDBusConnection bus = QDBusConnection::connectToBus(address_, name);
            answers = waitUntil(
                [&] {
                    return bus.interface() &&
                           bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.PolicyKit1")).value();
                },
                std::chrono::seconds(10));
        }
        QDBusConnection::disconnectFromBus(name);
        if (!answers) throw std::runtime_error("polkitd did not come up on the private bus");
    }
    startDiskService();
    startTime_ = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
}

void PrivateDiskService::startDiskService() {
    if (udisksd_ > 0) return;
    udisksd_ = spawn({udisksd}, "udisksd.log");
    const SystemDiskService disks(address_);
    if (!waitUntil([&] { return !disks.unavailableReason(); }, std::chrono::seconds(15)))
        throw std::runtime_error("udisksd did not answer on the private bus");
}

void PrivateDiskService::stopDiskService() { end(udisksd_); }

void PrivateDiskService::startRecording() {
    end(monitor_);
    std::error_code ec;
    fs::remove(folder_ / "calls.log", ec);
    monitor_ = spawn({"/usr/bin/dbus-monitor", "--address", address_.toStdString(), "--profile", "type='method_call'"},
                     "calls.log");
    // The monitor is in place once it sees a call of its own making.
    const QString name = QStringLiteral("brindlecove-test-mark");
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address_, name);
        waitUntil(
            [&] {
                bus.interface()->isServiceRegistered(QStringLiteral("brindlecove.test.mark"));
                std::ifstream log(folder_ / "calls.log");
                std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
                return text.find("NameHasOwner") != std::string::npos;
            },
            std::chrono::seconds(10));
    }
    QDBusConnection::disconnectFromBus(name);
}

std::vector<std::string> PrivateDiskService::stopRecording() {
    end(monitor_);
    std::vector<std::string> calls;
    std::ifstream log(folder_ / "calls.log");
    std::string line;
    // --profile lines: type, time, serial, sender, destination, path, interface, member.
    while (std::getline(log, line)) {
        std::istringstream fields(line);
        std::vector<std::string> parts;
        for (std::string part; std::getline(fields, part, '\t');) parts.push_back(part);
        if (parts.size() >= 8 && parts[0] == "mc") calls.push_back(parts[6] + "." + parts[7]);
    }
    return calls;
}

bool PrivateDiskService::waitUntilKnown(const std::string& device, const std::string& uuid) const {
    const QString name = QStringLiteral("brindlecove-test-watch");
    bool known = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address_, name);
        const auto knows = [&] {
            QDBusMessage resolve = QDBusMessage::createMethodCall(
                "org.freedesktop.UDisks2", "/org/freedesktop/UDisks2/Manager", "org.freedesktop.UDisks2.Manager",
                "ResolveDevice");
            resolve.setArguments({QVariantMap{{"path", QString::fromStdString(device)}}, QVariantMap{}});
            QDBusMessage reply = bus.call(resolve);
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
            auto objects = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().constFirst());
            if (objects.size() != 1) return false;
            QDBusMessage get = QDBusMessage::createMethodCall("org.freedesktop.UDisks2", objects.first().path(),
                                                              "org.freedesktop.DBus.Properties", "Get");
            get.setArguments({"org.freedesktop.UDisks2.Block", "IdUUID"});
            QDBusMessage answer = bus.call(get);
            if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) return false;
            return answer.arguments().constFirst().value<QDBusVariant>().variant().toString() ==
                   QString::fromStdString(uuid);
        };
        // udev may have probed the device while mkfs was still writing it, and then saw no
        // later change: announce the change again until the service has the new file system.
        for (int attempt = 0; attempt < 20 && !known; ++attempt) {
            runCommand({udevadm, "settle", "--timeout=10"});
            known = waitUntil(knows, std::chrono::milliseconds(500));
            if (!known) runCommand({udevadm, "trigger", "--action=change", device});
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return known;
}

}  // namespace brindlecove::testing
