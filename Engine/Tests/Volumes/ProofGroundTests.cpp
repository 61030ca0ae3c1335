// Where a drive's files lie decides whether they may prove a card: real overlays and real disk
// images on loop devices, stored on a loop-mounted card (directly, in a partition, inside
// another image, as btrfs) or elsewhere; second views of the card's own bytes (a loop device
// over its device, over the disk holding its partition, over its image file, over a loop of
// an image on it) mounted through nodes made outside /dev; judged as root and as an
// unprivileged user.

#include "Tessaline/Volumes/FileSystemPlaces.hpp"
#include "Tessaline/Volumes/ProofGround.hpp"

#include "Support/CardViews.hpp"
#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using Doubt = ProofGround::Doubt;
using testing::LoopVolume;
using testing::ReadOnlyLoop;
using testing::ScopedMount;
using testing::deviceOf;
using testing::mountReadOnly;
using testing::nodeOutsideDev;
using testing::mustRun;

// A partitioned disk image with one ext4 partition, attached with its partitions and mounted;
// all undone when the object dies.
class PartitionedImage {
public:
    PartitionedImage(const fs::path& image, const fs::path& mountPoint) : mountPoint_(mountPoint) {
        mustRun({"truncate", "-s", "24M", image.string()});
        mustRun({"sh", "-c", "printf 'label: dos\\n,,L\\n' | sfdisk -q \"$0\"", image.string()});
        device_ = mustRun({"losetup", "--find", "--show", "--partscan", image.string()});
        try {
            // Without udev the partition node may be missing until the table is read again.
            const std::string partition = device_ + "p1";
            if (::access(partition.c_str(), F_OK) != 0) testing::runCommand({"partx", "-a", device_});
            for (int i = 0; i < 20 && ::access(partition.c_str(), F_OK) != 0; ++i) ::usleep(50000);
            mustRun({"mkfs.ext4", "-q", "-F", partition});
            fs::create_directories(mountPoint_);
            mustRun({"mount", "-t", "ext4", device_ + "p1", mountPoint_.string()});
            mounted_ = true;
        } catch (...) {
            testing::runCommand({"losetup", "-d", device_});
            throw;
        }
    }
    ~PartitionedImage() {
        if (mounted_) testing::runCommand({"umount", mountPoint_.string()});
        testing::runCommand({"losetup", "-d", device_});
    }
    // The whole disk's loop device, and where its partition starts on it in bytes.
    const std::string& device() const { return device_; }
    uint64_t partitionOffset() const {
        uint64_t sectors = 0;
        std::ifstream("/sys/class/block/" + fs::path(device_).filename().string() + "p1/start") >> sectors;
        return sectors * 512;
    }

private:
    fs::path mountPoint_;
    std::string device_;
    bool mounted_ = false;
};

}  // namespace

TEST(ProofGroundTest, ASecondViewOfTheCardsOwnBytesNeverHoldsCopies) {
    TESSALINE_REQUIRE_ROOT();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        testing::TempFolder folder;
        LoopVolume card(fsType, 16, "CARD_VIEW");
        LoopVolume drive("ext4", 16, "DRIVE_VIEW");
        testing::writeFile(card.mountPoint() / "DCIM/C0001.MP4", "clip");
        ::sync();
        const dev_t cardDevice = deviceOf(card.mountPoint());
        const dev_t driveDevice = deviceOf(drive.mountPoint());

        // A loop device over the card's device, mounted into the drive through a node made
        // outside /dev: the same file system, by its devices and by its UUID.
        ReadOnlyLoop overCard(card.device());
        auto view = mountReadOnly(fsType, nodeOutsideDev(overCard.device(), folder / "nodes/view"),
                                  drive.mountPoint() / "view");
        ASSERT_EQ(testing::readFile(view->target() / "DCIM/C0001.MP4"), "clip");
        const dev_t viewDevice = deviceOf(view->target() / "DCIM/C0001.MP4");
        EXPECT_EQ(ProofGround::judge(viewDevice, view->target(), cardDevice), Doubt::viewOfCard);
        EXPECT_EQ(ProofGround::judge(viewDevice, view->target(), driveDevice), std::nullopt)
            << "judged against another card, the view is a drive like any other";
        FileSystemPlaces places;
        const auto viewPlace = places.of(view->target());
        const auto cardPlace = places.of(card.mountPoint());
        ASSERT_TRUE(viewPlace && cardPlace);
        EXPECT_TRUE(viewPlace->uuid.has_value());
        EXPECT_TRUE(viewPlace->isSameFileSystem(*cardPlace));

        // A second loop device over the card's image file, and a loop over the view above.
        ReadOnlyLoop overImage(card.image().string());
        EXPECT_EQ(ProofGround::judge(testing::deviceNumberOfNode(overImage.device()), "/", cardDevice), Doubt::viewOfCard);
        ReadOnlyLoop overView(overCard.device());
        EXPECT_EQ(ProofGround::judge(testing::deviceNumberOfNode(overView.device()), "/", cardDevice), Doubt::viewOfCard);

        // As a user who may not open loop devices: the view's backing is read from sysfs.
        const std::string asUser = testing::runUnprivileged([&] {
            return ProofGround::reasonKey(ProofGround::judge(viewDevice, "/", cardDevice).value_or(Doubt::overlay));
        });
        EXPECT_EQ(asUser, "view_of_card");
    }
}

TEST(ProofGroundTest, AViewOfAPartitionedCardsWholeDiskNeverHoldsCopies) {
    TESSALINE_REQUIRE_ROOT();
    testing::TempFolder folder;
    PartitionedImage partitioned(folder / "card.img", folder / "card");
    testing::writeFile(folder / "card/DCIM/C0001.MP4", "clip");
    ::sync();
    const dev_t cardDevice = deviceOf(folder / "card");
    // The whole disk at the partition's offset, mounted through a node outside /dev.
    ReadOnlyLoop atPartition(partitioned.device(), partitioned.partitionOffset());
    auto view = mountReadOnly("ext4", nodeOutsideDev(atPartition.device(), folder / "nodes/view"), folder / "view");
    ASSERT_EQ(testing::readFile(view->target() / "DCIM/C0001.MP4"), "clip");
    EXPECT_EQ(ProofGround::judge(deviceOf(view->target()), view->target(), cardDevice), Doubt::viewOfCard);
    // The partition itself read through a loop device: above the disk, the card's very bytes.
    ReadOnlyLoop overPartition(partitioned.device() + "p1");
    EXPECT_EQ(ProofGround::judge(testing::deviceNumberOfNode(overPartition.device()), "/", cardDevice), Doubt::viewOfCard);
    // The whole disk with its partitions: its first partition is the card again.
    ReadOnlyLoop withPartitions(partitioned.device(), 0, 0, true);
    unsigned major = 0, minor = 0;
    std::ifstream in("/sys/class/block/" + fs::path(withPartitions.device()).filename().string() + "p1/dev");
    char colon = 0;
    ASSERT_TRUE(in >> major >> colon >> minor);
    EXPECT_EQ(ProofGround::judge(makedev(major, minor), "/", cardDevice), Doubt::viewOfCard);
    // Only the disk's first sectors, before the partition: none of the card's bytes.
    ReadOnlyLoop beforePartition(partitioned.device(), 0, partitioned.partitionOffset());
    EXPECT_EQ(ProofGround::judge(testing::deviceNumberOfNode(beforePartition.device()), "/", cardDevice), std::nullopt);
}

TEST(ProofGroundTest, ALoopOverALoopOfAnImageKeptOnTheCardNeverHoldsCopies) {
    TESSALINE_REQUIRE_ROOT();
    testing::TempFolder folder;
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD_NESTED");
        fs::create_directories(card.mountPoint() / "System Volume Information");
        LoopVolume image("ext4", 16, "IMAGE", true, card.mountPoint() / "System Volume Information/card.img");
        testing::writeFile(image.mountPoint() / "C0001.MP4", "clip");
        ::sync();
        const dev_t cardDevice = deviceOf(card.mountPoint());
        ReadOnlyLoop outer(image.device());
        auto view = mountReadOnly("ext4", outer.device(), folder / ("outer-" + fsType));
        ASSERT_EQ(testing::readFile(view->target() / "C0001.MP4"), "clip");
        EXPECT_EQ(ProofGround::judge(deviceOf(view->target()), view->target(), cardDevice), Doubt::imageOnCard);
        EXPECT_EQ(ProofGround::judge(deviceOf(image.mountPoint()), image.mountPoint(), cardDevice), Doubt::imageOnCard);
    }
}

TEST(ProofGroundTest, AUserWhoCannotOpenLoopDevicesFindsTheImageFileThroughSysfs) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "CARD_USER");
    // Kept where every user can trace it, whatever the machine's own disk is.
    testing::TempFolder folder;
    const auto memory = testing::mountMemoryFolder(folder.path() / "memory");
    LoopVolume elsewhere("ext4", 16, "ELSEWHERE", true, memory->target() / "elsewhere.img");
    LoopVolume hidden("ext4", 16, "HIDDEN");
    fs::create_directories(card.mountPoint() / "System Volume Information");
    LoopVolume onCard("ext4", 16, "ON_CARD", true, card.mountPoint() / "System Volume Information/backup.img");
    // The images' folders may be searched by every user, all but the hidden one's.
    for (const fs::path& path : {card.image().parent_path(), card.mountPoint() / "System Volume Information"})
        fs::permissions(path, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const dev_t cardDevice = deviceOf(card.mountPoint());
    const std::vector<dev_t> drives{deviceOf(elsewhere.mountPoint()), deviceOf(onCard.mountPoint()),
                                    deviceOf(hidden.mountPoint())};
    const std::string asUser = testing::runUnprivileged([&] {
        ProofGround ground;
        std::string names;
        for (dev_t drive : drives) {
            const std::optional<Doubt> doubt = ground.doubtOf(drive, "/", cardDevice);
            names += (names.empty() ? "" : " ") + (doubt ? ProofGround::reasonKey(*doubt) : std::string("none"));
        }
        return names;
    });
    EXPECT_EQ(asUser, "none image_on_card unidentified_image");
}

TEST(ProofGroundTest, AnOverlayNeverHoldsCopiesWhateverItsLayersAre) {
    TESSALINE_REQUIRE_ROOT();
    testing::TempFolder folder;
    LoopVolume card("ext4", 16, "CARD_GROUND");
    LoopVolume drive("ext4", 16, "DRIVE_GROUND");
    testing::writeFile(card.mountPoint() / "DCIM/C0001.MP4", "clip");
    testing::writeFile(drive.mountPoint() / "elsewhere/C0001.MP4", "clip");
    fs::create_directories(folder / "empty");
    const dev_t cardDevice = deviceOf(card.mountPoint());

    // Over the card, and over nothing of the card at all: neither may prove it.
    ScopedMount ofCard({"-t", "overlay", "overlay", "-o", "lowerdir=" + card.mountPoint().string() + ":" +
                                                              (folder / "empty").string()},
                       drive.mountPoint() / "view");
    ScopedMount ofDrive({"-t", "overlay", "overlay", "-o", "lowerdir=" + (drive.mountPoint() / "elsewhere").string() +
                                                               ":" + (folder / "empty").string()},
                        folder / "other-view");
    ProofGround ground;
    EXPECT_EQ(ground.doubtOf(ofCard.target() / "DCIM/C0001.MP4", cardDevice), Doubt::overlay);
    EXPECT_EQ(ground.doubtOf(ofDrive.target() / "C0001.MP4", cardDevice), Doubt::overlay);
    // Beside the overlay, on the drive itself, and the card's own device: no doubt here.
    EXPECT_EQ(ground.doubtOf(drive.mountPoint() / "elsewhere/C0001.MP4", cardDevice), std::nullopt);
    EXPECT_EQ(ground.doubtOf(card.mountPoint() / "DCIM/C0001.MP4", cardDevice), std::nullopt);
    // A file that is gone is not judged: a drive unplugged since is not taken for the card.
    EXPECT_EQ(ground.doubtOf(drive.mountPoint() / "gone.MP4", cardDevice), std::nullopt);
}

TEST(ProofGroundTest, ADiskImageStoredOnTheCardNeverHoldsCopiesHoweverItIsReached) {
    TESSALINE_REQUIRE_ROOT();
    testing::TempFolder folder;
    LoopVolume card("ext4", 256, "CARD_IMAGES");
    LoopVolume drive("ext4", 16, "DRIVE_IMAGES");
    fs::create_directories(card.mountPoint() / ".Trashes");
    const dev_t cardDevice = deviceOf(card.mountPoint());
    const dev_t driveDevice = deviceOf(drive.mountPoint());
    EXPECT_EQ(ProofGround::judge(driveDevice, drive.mountPoint(), cardDevice), std::nullopt)
        << "an image stored elsewhere is a drive like any other";
    {
        LoopVolume image("ext4", 24, "ON_CARD", true, card.mountPoint() / ".Trashes/backup.img");
        const dev_t imageDevice = deviceOf(image.mountPoint());
        EXPECT_EQ(ProofGround::judge(imageDevice, image.mountPoint(), cardDevice), Doubt::imageOnCard);
        EXPECT_EQ(ProofGround::judge(imageDevice, image.mountPoint(), driveDevice), std::nullopt)
            << "judged against another card, the same image proves";
        // An image kept inside that image: on the card all the same.
        LoopVolume nested("ext4", 8, "NESTED", true, image.mountPoint() / "inner.img");
        EXPECT_EQ(ProofGround::judge(deviceOf(nested.mountPoint()), nested.mountPoint(), cardDevice),
                  Doubt::imageOnCard);

        // As a user who may neither open the loop device nor reach its backing file (the test
        // folders are private), nothing tells where it lies.
        const std::string asUser = testing::runUnprivileged([&] {
            ProofGround ground;
            auto name = [](std::optional<Doubt> d) { return d ? ProofGround::reasonKey(*d) : std::string("none"); };
            return name(ground.doubtOf(imageDevice, "/", cardDevice)) + " " +
                   name(ground.doubtOf(driveDevice, "/", cardDevice));
        });
        EXPECT_EQ(asUser, "unidentified_image unidentified_image");
    }
    {
        // A partition of an image on the card.
        PartitionedImage partitioned(card.mountPoint() / ".Trashes/disk.img", folder / "partition");
        EXPECT_EQ(ProofGround::judge(deviceOf(folder / "partition"), folder / "partition", cardDevice),
                  Doubt::imageOnCard);
    }
    if (testing::haveProgram("mkfs.btrfs")) {
        // btrfs has a device number of its own, not the image's.
        LoopVolume btrfs("btrfs", 128, "BTRFS_ON_CARD", true, card.mountPoint() / ".Trashes/btrfs.img");
        const dev_t btrfsDevice = deviceOf(btrfs.mountPoint());
        EXPECT_EQ(ProofGround::judge(btrfsDevice, btrfs.mountPoint(), cardDevice), Doubt::imageOnCard);
        EXPECT_EQ(ProofGround::judge(btrfsDevice, btrfs.mountPoint(), driveDevice), std::nullopt);
    }
}

}  // namespace tessaline
