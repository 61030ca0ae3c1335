// Where a drive's files lie decides whether they may prove a card: real overlays and real disk
// images on loop devices, stored on a loop-mounted card (directly, in a partition, inside
// another image, as btrfs) or elsewhere, judged as root and as an unprivileged user.

#include "Tessaline/Volumes/ProofGround.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using Doubt = ProofGround::Doubt;
using testing::LoopVolume;
using testing::ScopedMount;

dev_t deviceOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_dev;
}

std::string mustRun(const std::vector<std::string>& argv) {
    const testing::CommandResult r = testing::runCommand(argv);
    if (r.exitCode != 0) throw std::runtime_error(argv[0] + " failed: " + r.output);
    std::string out = r.output;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

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

private:
    fs::path mountPoint_;
    std::string device_;
    bool mounted_ = false;
};

}  // namespace

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

        // As a user who may not open the loop device, its backing file cannot be identified.
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
