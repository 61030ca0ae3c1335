// Volume pins: the volume a path is on, told apart by descriptor and by path from the folder
// left behind when the drive is pulled, and from another volume mounted in its place.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/VolumePin.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace tessaline {
namespace {

using namespace tessaline::testing;
namespace fs = std::filesystem;

// A descriptor closed when the test leaves its scope.
struct Fd {
    int fd;
    explicit Fd(const fs::path& path, int flags = O_RDONLY) : fd(::open(path.c_str(), flags | O_CLOEXEC)) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

class VolumePinTest : public SandboxedTest {};

TEST(VolumePinTests, AMissingPathHasNoPin) { EXPECT_FALSE(VolumePin::of("/no/such/folder/anywhere")); }

TEST_F(VolumePinTest, APlainFolderIsHeldByDescriptorAndPath) {
    writeFile(sandbox / "a/file.txt", "x");
    auto pin = VolumePin::of(sandbox / "a");
    ASSERT_TRUE(pin);
    struct stat st{};
    ASSERT_EQ(::stat((sandbox / "a").c_str(), &st), 0);
    EXPECT_EQ(pin->device, st.st_dev);
    EXPECT_NE(pin->mountId, 0u);
    EXPECT_TRUE(fs::exists(pin->mountPoint));
    Fd file(sandbox / "a/file.txt");
    EXPECT_TRUE(pin->holds(file.fd));
    EXPECT_TRUE(pin->holds(sandbox / "a/file.txt"));
    EXPECT_TRUE(pin->isReachable());
    EXPECT_FALSE(pin->holds(-1));
    EXPECT_FALSE(pin->holds(sandbox / "missing"));
    // /proc is always another mount.
    Fd proc("/proc/self/status");
    EXPECT_FALSE(pin->holds(proc.fd));
}

TEST_F(VolumePinTest, ALoopVolumeAndTheFolderLeftWhenItIsPulled) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 16, "PINNED");
    writeFile(drive.mountPoint() / "Shoot/A.MOV", "bytes");
    auto pin = VolumePin::of(drive.mountPoint() / "Shoot");
    ASSERT_TRUE(pin);
    EXPECT_EQ(pin->mountPoint, drive.mountPoint());
    ASSERT_TRUE(pin->uuid);
    EXPECT_EQ(*pin->uuid, runCommand({"blkid", "-s", "UUID", "-o", "value", drive.device()}).output.substr(0, 36));
    EXPECT_EQ(VolumePin::of(drive.mountPoint()), pin);

    Fd before(drive.mountPoint() / "Shoot/A.MOV");
    Fd elsewhere(sandbox.path());
    EXPECT_TRUE(pin->holds(before.fd));
    EXPECT_FALSE(pin->holds(elsewhere.fd));

    drive.unmountLazily();
    // The mount point is now a plain folder of the system disk.
    EXPECT_FALSE(pin->isReachable());
    EXPECT_FALSE(pin->holds(drive.mountPoint()));
    Fd after(drive.mountPoint());
    EXPECT_FALSE(pin->holds(after.fd));
    // What was opened before the pull still lies on the detached volume.
    EXPECT_TRUE(pin->holds(before.fd));

    // The same drive mounted again is another mount: a pin is for one mounting (where the
    // kernel gives IDs it never hands out again).
    if (lastingMountId(AT_FDCWD, "/", 0).value_or(0) <= INT32_MAX) return;
    drive.remount();
    EXPECT_FALSE(pin->isReachable());
    auto again = VolumePin::of(drive.mountPoint());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->uuid, pin->uuid);
    EXPECT_NE(again->mountId, pin->mountId);
}

// The kernel hands a freed mount ID out again at once, and a volume mounted where another
// was, on the same device (a card swapped in the same reader slot), has the same device
// number; a cloned UUID is the same too. Only the mount ID that is never reused tells the
// new mounting from the pinned one.
TEST_F(VolumePinTest, AnotherVolumeOnTheSameDeviceWithTheSameUuidMountedInItsPlaceIsNotHeld) {
    TESSALINE_REQUIRE_ROOT();
    if (lastingMountId(AT_FDCWD, "/", 0).value_or(0) <= INT32_MAX)
        GTEST_SKIP() << "the kernel gives no lasting mount IDs (Linux 6.8 and later do)";
    LoopVolume drive("ext4", 16, "PINNED");
    writeFile(drive.mountPoint() / "Shoot/A.MOV", "bytes");
    auto pin = VolumePin::of(drive.mountPoint() / "Shoot");
    ASSERT_TRUE(pin && pin->uuid);
    EXPECT_EQ(pin->mountId, lastingMountId(AT_FDCWD, drive.mountPoint().c_str(), 0));
    {
        Fd onPinned(drive.mountPoint() / "Shoot");
        EXPECT_TRUE(pin->holds(onPinned.fd));
    }

    drive.unmount();
    auto format = runCommand({"mkfs.ext4", "-q", "-F", "-L", "OTHER", "-U", *pin->uuid, drive.device()});
    ASSERT_EQ(format.exitCode, 0) << format.output;
    drive.remount();
    writeFile(drive.mountPoint() / "Shoot/B.MOV", "other bytes");
    auto other = VolumePin::of(drive.mountPoint());
    ASSERT_TRUE(other);
    ASSERT_EQ(other->device, pin->device);
    ASSERT_EQ(other->uuid, pin->uuid);
    ASSERT_EQ(other->mountPoint, pin->mountPoint);

    EXPECT_NE(other->mountId, pin->mountId);
    EXPECT_FALSE(pin->isReachable());
    EXPECT_FALSE(pin->holds(drive.mountPoint() / "Shoot"));
    Fd onOther(drive.mountPoint() / "Shoot");
    EXPECT_FALSE(pin->holds(onOther.fd));
    EXPECT_TRUE(other->holds(onOther.fd));
    EXPECT_TRUE(other->isReachable());
}

}  // namespace
}  // namespace tessaline
