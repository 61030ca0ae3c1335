// Overlays that show a card under a device number of their own: their layers read from the
// mount table in every form the kernel writes them, and a real overlay over a loop-mounted
// card told from the drive it is mounted on.

#include "Tessaline/Volumes/LayeredMounts.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using Layers = std::vector<std::string>;

dev_t deviceOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_dev;
}

}  // namespace

TEST(LayeredMountsTest, ReadsEveryLayerAnOverlayNames) {
    // Several lower layers, the upper one; the work folder is no layer.
    EXPECT_EQ(LayeredMounts::layersIn("rw,lowerdir=/media/CARD:/tmp/empty,upperdir=/u,workdir=/w"),
              (Layers{"/media/CARD", "/tmp/empty", "/u"}));
    // Escapes: a space, a comma, a ':' inside a name (newer kernels), a "\:" (older ones).
    EXPECT_EQ(LayeredMounts::layersIn("rw,lowerdir=/media/My\\040Card:/a\\054b:/c\\072d:/old\\134:name"),
              (Layers{"/media/My Card", "/a,b", "/c:d", "/old:name"}));
    // Data-only layers after "::", and layers given one by one.
    EXPECT_EQ(LayeredMounts::layersIn("ro,lowerdir=/l1::/data1::/data2,redirect_dir=on"),
              (Layers{"/l1", "/data1", "/data2"}));
    EXPECT_EQ(LayeredMounts::layersIn("rw,lowerdir+=/l1,lowerdir+=/l\\0402,datadir+=/d,upperdir=/u,workdir=/w"),
              (Layers{"/l1", "/l 2", "/d", "/u"}));

    const auto mounts = LayeredMounts::fromMountInfo(
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "95 22 0:52 / /media/Back\\040up rw,relatime shared:40 master:2 - overlay overlay rw,lowerdir=/media/CARD\n"
        "96 22 0:53 / /mnt/x rw - fuse.mirror mirror rw,user_id=0\n");
    ASSERT_EQ(mounts.mounts().size(), 1u);
    EXPECT_EQ(mounts.mounts()[0].id, 95);
    EXPECT_EQ(mounts.mounts()[0].mountPoint, "/media/Back up");
    EXPECT_EQ(mounts.mounts()[0].layers, Layers{"/media/CARD"});
}

TEST(LayeredMountsTest, AnOverlayOverTheCardShowsTheCardsDeviceAndNoOther) {
    TESSALINE_REQUIRE_ROOT();
    testing::TempFolder folder;
    testing::LoopVolume card("ext4", 16, "CARD_VIEW");
    testing::LoopVolume drive("ext4", 16, "DRIVE_VIEW");
    testing::writeFile(card.mountPoint() / "DCIM/C0001.MP4", "clip");
    testing::writeFile(drive.mountPoint() / "Copy/C0001.MP4", "clip");
    fs::create_directories(folder / "empty");
    testing::ScopedMount view(
        {"-t", "overlay", "overlay", "-o", "lowerdir=" + card.mountPoint().string() + ":" + (folder / "empty").string()},
        drive.mountPoint() / "Backup");

    const LayeredMounts mounts = LayeredMounts::current();
    const dev_t cardDevice = deviceOf(card.mountPoint());
    EXPECT_TRUE(mounts.showsDevice(view.target() / "DCIM/C0001.MP4", cardDevice));
    EXPECT_TRUE(mounts.showsDevice(view.target(), cardDevice));
    EXPECT_FALSE(mounts.showsDevice(view.target() / "DCIM/C0001.MP4", deviceOf(drive.mountPoint())))
        << "the empty layer lies on the system disk, not on the drive";
    // Beside the overlay, on the drive itself: no view of anything.
    EXPECT_FALSE(mounts.showsDevice(drive.mountPoint() / "Copy/C0001.MP4", cardDevice));
    EXPECT_FALSE(mounts.showsDevice(card.mountPoint() / "DCIM/C0001.MP4", cardDevice));

    // The card as the upper layer, over an overlay of the card: a view too.
    fs::create_directories(card.mountPoint() / "upper");
    fs::create_directories(card.mountPoint() / "work");
    testing::ScopedMount upper({"-t", "overlay", "overlay", "-o",
                                "lowerdir=" + (folder / "empty").string() + ",upperdir=" +
                                    (card.mountPoint() / "upper").string() + ",workdir=" +
                                    (card.mountPoint() / "work").string()},
                               folder / "upperView");
    testing::ScopedMount stacked(
        {"-t", "overlay", "overlay", "-o", "lowerdir=" + view.target().string() + ":" + (folder / "empty").string()},
        folder / "stacked");
    const LayeredMounts now = LayeredMounts::current();
    EXPECT_TRUE(now.showsDevice(upper.target(), cardDevice));
    EXPECT_TRUE(now.showsDevice(stacked.target() / "DCIM/C0001.MP4", cardDevice));
}

}  // namespace tessaline
