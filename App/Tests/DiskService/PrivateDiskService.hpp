#pragma once
// The system's disk service for tests (root only): a private system bus (dbus-daemon with a
// configuration and socket of its own), polkit's daemon on it where it is installed (so the
// service asks polkit, which grants root everything and refuses a user without a session,
// as no authentication agent answers for one), udisksd on it, and, where no udev daemon answers
// on this mount namespace's control socket (/run/udev/control; a container's daemon does not),
// systemd-udevd with the block devices triggered, since udisksd learns of devices through
// udev. DBUS_SYSTEM_BUS_ADDRESS names the private bus in this process and in every process
// started here. Everything started is ended by its own process id when this object goes,
// udev daemon last but one and the bus last. The udev daemon is machine-wide, so the tests
// using this run with no other test beside them (RUN_SERIAL).

#include <QString>

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace brindlecove::testing {

class PrivateDiskService {
public:
    PrivateDiskService();
    ~PrivateDiskService();
    PrivateDiskService(const PrivateDiskService&) = delete;
    PrivateDiskService& operator=(const PrivateDiskService&) = delete;

    // Why the service cannot be started here ("" when it can): root and the daemons are needed.
    static std::string unavailableReason();

    // Starts the bus, the udev daemon where none runs, polkit's daemon (unless `withPolkit` is
    // false, as on a system without it) and udisksd; returns when udisksd answers. Throws
    // std::runtime_error when a daemon does not come up.
    void start(bool withPolkit = true);
    // Ends udisksd (the bus stays), as a service that stops.
    void stopDiskService();
    // Starts udisksd again after stopDiskService().
    void startDiskService();

    const QString& busAddress() const { return address_; }
    // Whether polkit's daemon answers on the private bus.
    bool hasPolkit() const { return polkitd_ > 0; }
    // How long start() took.
    std::chrono::milliseconds startTime() const { return startTime_; }

    // Records every method call on the private bus from now on (dbus-monitor), until
    // stopRecording() or the end of this object.
    void startRecording();
    // Ends the recording; the calls recorded, each as "<interface>.<member>", in their order.
    std::vector<std::string> stopRecording();

    // Waits until udev has handled every event and udisksd reports `device` with the file
    // system UUID `uuid`; false when it does not within a few seconds.
    bool waitUntilKnown(const std::string& device, const std::string& uuid) const;

private:
    pid_t spawn(const std::vector<std::string>& argv, const std::string& logName, int outputFd = -1);
    static void end(pid_t& pid);

    std::filesystem::path folder_;  // in /tmp, open to every user, for the bus socket and the logs
    QString address_;
    pid_t bus_ = -1;
    pid_t udevd_ = -1;
    pid_t polkitd_ = -1;
    pid_t monitor_ = -1;
    pid_t udisksd_ = -1;
    std::chrono::milliseconds startTime_{0};
};

// Skips the current test with the reason unless the disk service can be started here.
#define BRINDLECOVE_REQUIRE_DISK_SERVICE()                                                              \
    do {                                                                                                \
        if (auto reason = ::brindlecove::testing::PrivateDiskService::unavailableReason(); !reason.empty()) \
            GTEST_SKIP() << reason;                                                                     \
    } while (0)

}  // namespace brindlecove::testing
