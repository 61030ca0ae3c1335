#include "Tessaline/Sync/DestinationVolume.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;

namespace {

// A folder under a real mount parent, removed afterwards; the volume may be mounted onto it.
class MountParentFolder {
public:
    explicit MountParentFolder(fs::path path) : path_(std::move(path)) { fs::create_directories(path_); }
    ~MountParentFolder() {
        if (mounted_ && runCommand({"umount", path_.string()}).exitCode != 0) return;
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    void mount(const LoopVolume& volume) {
        auto result = runCommand({"mount", volume.device(), path_.string()});
        ASSERT_EQ(result.exitCode, 0) << result.output;
        mounted_ = true;
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
    bool mounted_ = false;
};

std::string uniqueLabel(const char* prefix) { return prefix + std::to_string(::getpid() % 100000); }

}  // namespace

TEST(DestinationVolume, OtherAbsolutePathsNeedThemselvesOrTheirParent) {
    TempFolder folder;
    EXPECT_TRUE(destinationIsConnected(folder.path()));
    EXPECT_TRUE(destinationIsConnected(folder / "new"));
    EXPECT_FALSE(destinationIsConnected(folder / "missing/new"));
    EXPECT_FALSE(destinationIsConnected("relative/backup"));
    EXPECT_FALSE(destinationIsConnected(""));
    EXPECT_FALSE(destinationIsConnected("/media"));
    EXPECT_FALSE(destinationIsConnected("/mnt"));
}

TEST(DestinationVolume, AFolderLeftAtAMountPathIsNotADrive) {
    TESSALINE_REQUIRE_ROOT();
    std::string label = uniqueLabel("BCDEST");
    MountParentFolder stale("/mnt/" + label);
    fs::create_directories(stale.path() / "Footage");
    // The folder exists on the system disk: not connected, however deep the path goes.
    EXPECT_FALSE(destinationIsConnected(stale.path() / "Footage/Day1"));
    EXPECT_FALSE(destinationIsConnected(stale.path()));

    LoopVolume drive("ext4", 32, label, /*mount=*/false);
    stale.mount(drive);
    // Mounted and named as the path says: connected, though Footage does not exist on it.
    EXPECT_TRUE(destinationIsConnected(stale.path() / "Footage/Day1"));
    EXPECT_EQ(destinationVolumeName(stale.path() / "Footage/Day1"), label);
}

TEST(DestinationVolume, AnotherDriveMountedAtTheNameIsNotTheDestination) {
    TESSALINE_REQUIRE_ROOT();
    std::string name = uniqueLabel("BCWANT");
    MountParentFolder place("/media/" + name);
    LoopVolume other("ext4", 32, uniqueLabel("BCOTHER"), /*mount=*/false);
    place.mount(other);
    EXPECT_FALSE(destinationIsConnected(place.path() / "Day1"));
}

TEST(DestinationVolume, UserMountParentTakesTheLongerPrefixFirst) {
    TESSALINE_REQUIRE_ROOT();
    std::string label = uniqueLabel("BCUSER");
    MountParentFolder user("/media/bc-test-user-" + std::to_string(::getpid()));
    MountParentFolder place(user.path() / label);
    EXPECT_FALSE(destinationIsConnected(place.path() / "Day1"));
    LoopVolume drive("ext4", 32, label, /*mount=*/false);
    place.mount(drive);
    EXPECT_TRUE(destinationIsConnected(place.path() / "Day1"));
}

TEST(DestinationVolume, ADriveHiddenByALaterMountOverItsParentIsNotConnected) {
    TESSALINE_REQUIRE_ROOT();
    std::string label = uniqueLabel("BCHIDE");
    MountParentFolder user("/run/media/bc-hide-user-" + std::to_string(::getpid()));
    MountParentFolder place(user.path() / label);
    LoopVolume drive("ext4", 32, label, /*mount=*/false);
    place.mount(drive);
    ASSERT_TRUE(destinationIsConnected(place.path() / "Day1"));
    // A file system mounted over the user's mount folder: the drive's entry stays in the mount
    // table, but the destination path now leads into the RAM disk.
    ScopedMount over({"-t", "tmpfs", "tmpfs"}, user.path());
    fs::create_directories(place.path());
    EXPECT_FALSE(destinationIsConnected(place.path() / "Day1"));
}
