// The internal/external rule and the mount helpers, on the real root disk and on
// loop-mounted images standing in for cards.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/VolumeClassifier.hpp"

#include <sys/stat.h>

namespace tessaline {
namespace {

using testing::LoopVolume;
using testing::SandboxedTest;

TEST(VolumeClassifierTests, RootFileSystemIsAlwaysInternal) {
    EXPECT_TRUE(VolumeClassifier::classifyPath("/").isInternal);
    EXPECT_TRUE(VolumeClassifier::classifyPath("/usr/bin").isInternal);
    auto root = mountEntryFor("/");
    ASSERT_TRUE(root);
    if (auto device = root->blockDevice()) {
        EXPECT_TRUE(VolumeClassifier::isOnSystemDisk(*device));
        EXPECT_TRUE(VolumeClassifier::classifyDevice(*device).isInternal);
    }
}

TEST(VolumeClassifierTests, UnknownThingsAreInternal) {
    EXPECT_TRUE(VolumeClassifier::classifyPath("/no/such/path/anywhere").isInternal);
    EXPECT_TRUE(VolumeClassifier::classifyDevicePath("/dev/null").isInternal);
    EXPECT_TRUE(VolumeClassifier::classifyDevicePath("/etc/hostname").isInternal);
    EXPECT_TRUE(VolumeClassifier::classifyPath("/proc").isInternal);
}

TEST(VolumeClassifierTests, LoopMountedImageIsExternalAndEjectable) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, "CARD_A");
    VolumeClass byPath = VolumeClassifier::classifyPath(card.mountPoint() / ".");
    EXPECT_FALSE(byPath.isInternal);
    EXPECT_TRUE(byPath.isEjectable);
    EXPECT_EQ(VolumeClassifier::classifyDevicePath(card.device()), byPath);
    EXPECT_FALSE(VolumeClassifier::classifyDevicePath(card.device()).isInternal);
    struct stat st{};
    ASSERT_EQ(::stat(card.device().c_str(), &st), 0);
    EXPECT_FALSE(VolumeClassifier::isOnSystemDisk(st.st_rdev));
}

TEST(VolumeClassifierTests, FuseMountedExfatCardIsExternal) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("exfat", 32, "EOS_DIGITAL");
    EXPECT_FALSE(VolumeClassifier::classifyPath(card.mountPoint()).isInternal);
}

class MountPointTests : public SandboxedTest {};

TEST_F(MountPointTests, FolderOnRootDiskBelongsToSlash) {
    testing::writeFile(sandbox / "a/b.txt", "x");
    // /tmp may be its own mount; the answer must be a mount point above the file.
    auto mountPoint = mountPointFor(sandbox / "a/b.txt");
    ASSERT_TRUE(mountPoint);
    EXPECT_TRUE(isMountPoint(*mountPoint));
    EXPECT_FALSE(isMountPoint(sandbox / "a"));
    EXPECT_TRUE(isMountPoint("/"));
}

TEST_F(MountPointTests, MissingPathIsNeverGivenAParentsMount) {
    EXPECT_FALSE(mountPointFor(sandbox / "missing/card"));
    EXPECT_FALSE(isMountPoint(sandbox / "missing"));
}

TEST_F(MountPointTests, LoopMountAndSymlinkSpellings) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 32, "DRIVE_B");
    testing::writeFile(drive.mountPoint() / "clips/A001.mov", "data");
    std::filesystem::create_symlink(drive.mountPoint() / "clips", sandbox / "link");
    EXPECT_EQ(mountPointFor(drive.mountPoint() / "clips/A001.mov"), drive.mountPoint());
    EXPECT_EQ(mountPointFor(sandbox / "link"), drive.mountPoint());
    EXPECT_TRUE(isMountPoint(drive.mountPoint()));
    EXPECT_TRUE(isMountPoint(drive.mountPoint().string() + "/"));
    EXPECT_FALSE(isMountPoint(drive.mountPoint() / "clips"));
    drive.unmount();
    // The empty folder left behind is on the parent's disk, not a mount point.
    EXPECT_FALSE(isMountPoint(drive.mountPoint()));
    EXPECT_NE(mountPointFor(drive.mountPoint()), drive.mountPoint());
}

}  // namespace
}  // namespace tessaline
