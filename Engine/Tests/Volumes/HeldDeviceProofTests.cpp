// Device numbers that no block device carries, followed by what holds them: btrfs cards and
// drives (every subvolume numbered apart from its mount entry), disk images attached through
// an overlay of a card folder, and FUSE drivers of disk images kept on the card or elsewhere;
// judged as root and as an unprivileged user, who cannot see root's FUSE servers.

#include "Tessaline/Volumes/ProofGround.hpp"

#include "Support/CardViews.hpp"
#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using Doubt = ProofGround::Doubt;
using testing::LoopVolume;
using testing::ReadOnlyLoop;
using testing::ScopedMount;
using testing::deviceOf;

#define REQUIRE_BTRFS()                                                                          \
    do {                                                                                         \
        if (!testing::haveProgram("mkfs.btrfs")) GTEST_SKIP() << "mkfs.btrfs is not installed"; \
    } while (0)

}  // namespace

TEST(HeldDeviceProofTest, ABtrfsCardIsReachedWholeWhicheverSubvolumeHoldsTheImageOrTheSpace) {
    TESSALINE_REQUIRE_ROOT();
    REQUIRE_BTRFS();
    LoopVolume card("btrfs", 256, "CARD_BTRFS");
    const fs::path spared = card.mountPoint() / "System Volume Information";
    testing::makeBtrfsSubvolume(spared);
    // The card's root and its subvolume carry numbers of their own, which no mount entry names.
    const dev_t cardDevice = deviceOf(card.mountPoint());
    ASSERT_EQ(major(cardDevice), 0u);
    ASSERT_NE(deviceOf(spared), cardDevice);
    EXPECT_EQ(testing::judgedKey(spared, cardDevice), "view_of_card") << "the card's own subvolume, reached as a drive folder";
    {
        // An ext4 image kept in the subvolume, mounted as a drive would be.
        LoopVolume image("ext4", 16, "IN_SUBVOLUME", true, spared / "card.img");
        EXPECT_EQ(testing::judgedKey(image.mountPoint(), cardDevice), "image_on_card");
        // Judged against the card it is not kept on, the same image proves.
        LoopVolume other("ext4", 16, "OTHER_CARD");
        EXPECT_EQ(testing::judgedKey(image.mountPoint(), deviceOf(other.mountPoint())), "none");
    }
    {
        // The space of a preallocated file on the card, read through a loop over the card's
        // own device at the file's offset.
        const uint64_t start = testing::preallocatedSpace(spared / "space", 16 << 20);
        ReadOnlyLoop overSpace(card.device(), start, 16 << 20);
        EXPECT_EQ(testing::doubtKey(ProofGround::judge(testing::deviceNumberOfNode(overSpace.device()), "/", cardDevice)),
                  "view_of_card");
    }
    // An image kept elsewhere proves.
    LoopVolume elsewhere("ext4", 16, "ELSEWHERE");
    EXPECT_EQ(testing::judgedKey(elsewhere.mountPoint(), cardDevice), "none");
}

TEST(HeldDeviceProofTest, BtrfsDrivesWithSubvolumesImagesOnBtrfsAndFuseExfatDrivesProve) {
    TESSALINE_REQUIRE_ROOT();
    REQUIRE_BTRFS();
    LoopVolume card("ext4", 16, "CARD_EXT4");
    // Kept where every user can trace it, whatever the machine's own disk is.
    testing::TempFolder folder;
    const auto memory = testing::mountMemoryFolder(folder.path() / "memory");
    LoopVolume drive("btrfs", 256, "DRIVE_BTRFS", true, memory->target() / "drive.img");
    const dev_t cardDevice = deviceOf(card.mountPoint());
    testing::makeBtrfsSubvolume(drive.mountPoint() / "Backups");
    testing::makeBtrfsSubvolume(drive.mountPoint() / "Backups/Day 1");
    testing::writeFile(drive.mountPoint() / "Backups/Day 1/C0001.MP4", "clip");
    ProofGround ground;
    for (const fs::path& path :
         {drive.mountPoint(), drive.mountPoint() / "Backups", drive.mountPoint() / "Backups/Day 1/C0001.MP4"})
        EXPECT_EQ(ground.doubtOf(path, cardDevice), std::nullopt) << path;
    {
        // A disk image kept in a subvolume of the drive (a home folder on btrfs).
        LoopVolume image("ext4", 16, "ON_BTRFS", true, drive.mountPoint() / "Backups/Day 1/drive.img");
        EXPECT_EQ(testing::judgedKey(image.mountPoint(), cardDevice), "none");
        // As a user who cannot open loop devices, through the path the kernel shows every user.
        for (fs::path folder = drive.mountPoint() / "Backups/Day 1"; folder != "/tmp" && folder.has_relative_path();
             folder = folder.parent_path())
            fs::permissions(folder, fs::perms::others_exec, fs::perm_options::add);
        const dev_t imageDevice = deviceOf(image.mountPoint());
        EXPECT_EQ(testing::runUnprivileged([&] { return testing::doubtKey(ProofGround::judge(imageDevice, "/", cardDevice)); }),
                  "none");
    }
    // A FUSE exFAT drive made from a block device carries that device's number.
    LoopVolume exfat("exfat", 16, "DRIVE_EXFAT", true, memory->target() / "exfat.img");
    EXPECT_EQ(testing::judgedKey(exfat.mountPoint(), cardDevice), "none");
    const dev_t exfatDevice = deviceOf(exfat.mountPoint());
    EXPECT_EQ(testing::runUnprivileged([&] { return testing::doubtKey(ProofGround::judge(exfatDevice, "/", cardDevice)); }), "none");
}

TEST(HeldDeviceProofTest, AnImageAttachedThroughAnOverlayOfTheCardsFolderIsOnAnOverlay) {
    TESSALINE_REQUIRE_ROOT();
    testing::TempFolder folder;
    LoopVolume card("ext4", 64, "CARD_OVERLAY");
    LoopVolume drive("ext4", 64, "DRIVE_OVERLAY");
    const dev_t cardDevice = deviceOf(card.mountPoint());
    fs::create_directories(folder.path() / "empty");
    for (const fs::path& kept : {card.mountPoint() / "System Volume Information", drive.mountPoint() / "Images"}) {
        SCOPED_TRACE(kept.native());
        fs::create_directories(kept);
        const testing::CommandResult made =
            testing::runCommand({"mkfs.ext4", "-q", "-F", (kept / "card.img").string(), "16M"});
        ASSERT_EQ(made.exitCode, 0) << made.output;
        // The overlay's files carry a number of the layer's, apart from the overlay's own.
        ScopedMount overlay({"-t", "overlay", "overlay", "-o",
                             "lowerdir=" + kept.string() + ":" + (folder.path() / "empty").string()},
                            folder.path() / "overlay");
        ASSERT_NE(deviceOf(overlay.target() / "card.img"), deviceOf(overlay.target()));
        {
            ReadOnlyLoop throughOverlay((overlay.target() / "card.img").string());
            auto view = testing::mountReadOnly("ext4", throughOverlay.device(), folder.path() / "through");
            EXPECT_EQ(testing::judgedKey(view->target(), cardDevice), "overlay");
        }
        // The same image attached from where it is kept.
        ReadOnlyLoop direct((kept / "card.img").string());
        auto view = testing::mountReadOnly("ext4", direct.device(), folder.path() / "direct");
        EXPECT_EQ(testing::judgedKey(view->target(), cardDevice), kept.parent_path() == card.mountPoint() ? "image_on_card" : "none");
    }
}

TEST(HeldDeviceProofTest, AFuseDriverOfAnImageIsFollowedToItsFile) {
    TESSALINE_REQUIRE_ROOT();
    if (!testing::haveProgram("fusefat")) GTEST_SKIP() << "fusefat is not installed";
    testing::TempFolder folder;
    const std::vector<std::pair<fs::path, std::string>> copies{{"DCIM/C0001.MP4", "clip"}};
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD_FUSE");
        const dev_t cardDevice = deviceOf(card.mountPoint());
        fs::create_directories(card.mountPoint() / "System Volume Information");
        testing::makeFatImage(card.mountPoint() / "System Volume Information/card.img", 40, copies);
        testing::makeFatImage(folder.path() / (fsType + ".img"), 40, copies);
        // The mounts' source is the word "fusefat": the driver's open image file tells.
        auto onCard = testing::mountFatImage(card.mountPoint() / "System Volume Information/card.img",
                                             folder.path() / (fsType + "-on-card"));
        auto elsewhere = testing::mountFatImage(folder.path() / (fsType + ".img"), folder.path() / (fsType + "-elsewhere"));
        ASSERT_EQ(testing::readFile(onCard->target() / "DCIM/C0001.MP4"), "clip");
        ASSERT_EQ(major(deviceOf(onCard->target())), 0u);
        EXPECT_EQ(testing::judgedKey(onCard->target() / "DCIM/C0001.MP4", cardDevice), "image_on_card");
        EXPECT_EQ(testing::judgedKey(elsewhere->target() / "DCIM/C0001.MP4", cardDevice), "none");

        // A user who cannot see root's FUSE servers cannot tell where either image lies.
        const dev_t onCardDevice = deviceOf(onCard->target());
        const dev_t elsewhereDevice = deviceOf(elsewhere->target());
        EXPECT_EQ(testing::runUnprivileged([&] {
                      return testing::doubtKey(ProofGround::judge(onCardDevice, "/", cardDevice)) + " " +
                             testing::doubtKey(ProofGround::judge(elsewhereDevice, "/", cardDevice));
                  }),
                  "unlocated_fuse_image unlocated_fuse_image");
    }
    // A number of major 0 that nothing mounted carries: followed nowhere, so no proof.
    EXPECT_EQ(testing::doubtKey(ProofGround::judge(makedev(0, 0xFFFF0), "/", deviceOf("/"))), "untraced_device");
}

}  // namespace tessaline
