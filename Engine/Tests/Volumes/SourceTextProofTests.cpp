// A file system's bytes are followed only through what the kernel links to it, never through
// the text its mount was made with: erofs mounted straight from an image file by mount(2)
// (a relative source, an image deleted since, a /proc/self/fd source, a link pointed at a
// drive file since), erofs reading a blob device beside its source, an ext4 external journal
// (followed through the kernel's journal thread), an XFS external log, and FUSE drivers judged
// by what they hold: the tests' own driver that read its archive into memory and keeps only a
// log, or whose source names a drive file, against packaged drivers holding their images. Real loop-mounted
// ext4 and FUSE exFAT cards; judged as root.

#include "Tessaline/Volumes/ImageSignature.hpp"
#include "Tessaline/Volumes/ProofGround.hpp"

#include "Support/CardViews.hpp"
#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <sys/sysmacros.h>
#include <unistd.h>

#include <iostream>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using Doubt = ProofGround::Doubt;
using testing::LoopVolume;
using testing::ReadOnlyLoop;
using testing::ScopedMount;
using testing::deviceOf;
using testing::mustRun;


const std::vector<std::pair<fs::path, std::string>> stills{{"DCIM/100MEDIA/IMG_0001.JPG", "first still"},
                                                            {"DCIM/100MEDIA/IMG_0002.JPG", "second still"}};

// Unmounts a mount a driver made when it goes.
struct Unmounting {
    fs::path target;
    ~Unmounting() { testing::runCommand({"umount", target.string()}); }
};

#define REQUIRE_PROGRAM(program)                                                                    \
    do {                                                                                            \
        if (!testing::haveProgram(program)) GTEST_SKIP() << program " is not installed; skipped"; \
    } while (0)

}  // namespace

TEST(SourceTextProofTest, ErofsMountedStraightFromAFileIsNeverTakenForWhereItsSourceTextLeads) {
    TESSALINE_REQUIRE_ROOT();
    REQUIRE_PROGRAM("mkfs.erofs");
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD_EROFS");
        LoopVolume drive("ext4", 64, "DRIVE_EROFS");
        const dev_t cardDevice = deviceOf(card.mountPoint());
        const fs::path spared = card.mountPoint() / "System Volume Information";
        fs::create_directories(spared);
        testing::makeErofs(spared / "card.erofs", stills);
        testing::makeErofs(drive.mountPoint() / "drive.erofs", stills);
        {
            testing::ErofsFileMount relative("card.erofs", drive.mountPoint() / "relative", spared);
            if (!relative.failure().empty())
                GTEST_SKIP() << "this kernel does not mount erofs straight from a file (" << relative.failure()
                             << "); skipped";
            ASSERT_EQ(testing::readFile(drive.mountPoint() / "relative" / stills[0].first), stills[0].second);
            ASSERT_EQ(major(deviceOf(drive.mountPoint() / "relative")), 0u);
            EXPECT_EQ(testing::judgedKey(drive.mountPoint() / "relative", cardDevice), "untraced_file_mount");
        }
        {
            // Resolved in the mounting program's own descriptor table, which is gone.
            testing::ErofsFileMount byDescriptor("/proc/self/fd/777", drive.mountPoint() / "descriptor", "/",
                                        spared / "card.erofs");
            ASSERT_EQ(byDescriptor.failure(), "");
            EXPECT_EQ(testing::judgedKey(drive.mountPoint() / "descriptor", cardDevice), "untraced_file_mount");
        }
        {
            // A link to the card's image, pointed at the drive's since.
            fs::create_symlink(spared / "card.erofs", drive.mountPoint() / "image.link");
            testing::ErofsFileMount linked((drive.mountPoint() / "image.link").string(), drive.mountPoint() / "linked", "/");
            ASSERT_EQ(linked.failure(), "");
            fs::remove(drive.mountPoint() / "image.link");
            fs::create_symlink(drive.mountPoint() / "drive.erofs", drive.mountPoint() / "image.link");
            EXPECT_EQ(testing::judgedKey(drive.mountPoint() / "linked", cardDevice), "untraced_file_mount");
        }
        {
            // The image deleted once mounted: its files then lie nowhere but in the mount.
            fs::copy_file(spared / "card.erofs", spared / "gone.erofs");
            testing::ErofsFileMount deleted((spared / "gone.erofs").string(), drive.mountPoint() / "deleted", "/");
            ASSERT_EQ(deleted.failure(), "");
            fs::remove(spared / "gone.erofs");
            EXPECT_EQ(testing::judgedKey(drive.mountPoint() / "deleted", cardDevice), "untraced_file_mount");
        }
        // No kernel link ties a file-backed mount to its file, so even the drive's own image
        // can't be followed; through a loop device it can.
        testing::ErofsFileMount fromDrive((drive.mountPoint() / "drive.erofs").string(), drive.mountPoint() / "direct", "/");
        ASSERT_EQ(fromDrive.failure(), "");
        EXPECT_EQ(testing::judgedKey(drive.mountPoint() / "direct", cardDevice), "untraced_file_mount");
        ReadOnlyLoop driveLoop((drive.mountPoint() / "drive.erofs").string());
        ScopedMount driveView({"-t", "erofs", driveLoop.device()}, drive.mountPoint() / "looped");
        EXPECT_EQ(testing::judgedKey(driveView.target(), cardDevice), "none");
        ReadOnlyLoop cardLoop((spared / "card.erofs").string());
        ScopedMount cardView({"-t", "erofs", cardLoop.device()}, drive.mountPoint() / "card-looped");
        EXPECT_EQ(testing::judgedKey(cardView.target(), cardDevice), "image_on_card");
    }
}

TEST(SourceTextProofTest, DevicesAFileSystemReadsBeyondItsSourceAreFollowedOrLeaveItUntraced) {
    TESSALINE_REQUIRE_ROOT();
    REQUIRE_PROGRAM("mkfs.erofs");
    LoopVolume card("ext4", 64, "CARD_EXTRA");
    LoopVolume drive("ext4", 64, "DRIVE_EXTRA");
    const dev_t cardDevice = deviceOf(card.mountPoint());
    const fs::path spared = card.mountPoint() / "System Volume Information";
    fs::create_directories(spared);
    {
        // erofs whose file data lies in a blob on the card, its primary image on the drive:
        // the kernel names the blob by no link, wherever it lies.
        testing::makeErofs(drive.mountPoint() / "primary.erofs", stills, spared / "blob.erofs");
        ReadOnlyLoop blob((spared / "blob.erofs").string());
        ReadOnlyLoop primary((drive.mountPoint() / "primary.erofs").string());
        ScopedMount view({"-t", "erofs", "-o", "device=" + blob.device(), primary.device()}, drive.mountPoint() / "blob");
        ASSERT_EQ(testing::readFile(view.target() / stills[1].first), stills[1].second);
        EXPECT_EQ(testing::judgedKey(view.target(), cardDevice), "untraced_device");
        // The same files in one image on the drive prove.
        testing::makeErofs(drive.mountPoint() / "whole.erofs", stills);
        ReadOnlyLoop whole((drive.mountPoint() / "whole.erofs").string());
        ScopedMount wholeView({"-t", "erofs", whole.device()}, drive.mountPoint() / "whole");
        EXPECT_EQ(testing::judgedKey(wholeView.target(), cardDevice), "none");
    }
    // ext4 with its journal on a device of its own, followed through the kernel's journal thread.
    for (const fs::path& kept : {spared, drive.mountPoint()}) {
        SCOPED_TRACE(kept.native());
        mustRun({"truncate", "-s", "8M", (kept / "journal.img").string()});
        mustRun({"truncate", "-s", "24M", (drive.mountPoint() / "data.img").string()});
        testing::WritableLoop journal((kept / "journal.img").string(), 0, 0);
        testing::WritableLoop data((drive.mountPoint() / "data.img").string(), 0, 0);
        mustRun({"mkfs.ext4", "-q", "-F", "-b", "4096", "-O", "journal_dev", journal.device()});
        mustRun({"mkfs.ext4", "-q", "-F", "-b", "4096", "-J", "device=" + journal.device(), data.device()});
        ScopedMount view({"-t", "ext4", data.device()}, drive.mountPoint() / "journalled");
        EXPECT_EQ(testing::judgedKey(view.target(), cardDevice), kept == spared ? "image_on_card" : "none");
    }
    // XFS with its log on a device of its own, which the kernel names only by the option's text.
    if (!testing::haveProgram("mkfs.xfs")) {
        std::cout << "mkfs.xfs is not installed; XFS with an external log not tried\n";
        return;
    }
    testing::TempFolder folder;
    mustRun({"truncate", "-s", "320M", (folder / "data.img").string()});
    mustRun({"truncate", "-s", "72M", (folder / "log.img").string()});
    testing::WritableLoop log((folder / "log.img").string(), 0, 0);
    testing::WritableLoop data((folder / "data.img").string(), 0, 0);
    mustRun({"mkfs.xfs", "-q", "-f", "-l", "logdev=" + log.device() + ",size=64m", data.device()});
    ScopedMount view({"-t", "xfs", "-o", "logdev=" + log.device(), data.device()}, folder / "xfs");
    EXPECT_EQ(testing::judgedKey(view.target(), cardDevice), "untraced_device");
}

TEST(SourceTextProofTest, AFuseDriversImageIsAFileItHoldsThatIsTheSourceOrAnImage) {
    TESSALINE_REQUIRE_ROOT();
    if (const std::string reason = testing::archiveFuseUnavailableReason(); !reason.empty()) GTEST_SKIP() << reason;
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD_FUSE");
        LoopVolume drive("ext4", 64, "DRIVE_FUSE");
        const dev_t cardDevice = deviceOf(card.mountPoint());
        const fs::path spared = card.mountPoint() / "System Volume Information";
        testing::makeTarArchive(spared / "card.tar", stills);
        testing::makeTarArchive(drive.mountPoint() / "drive.tar", stills);
        {
            // Read into memory and closed; only its log, on the drive, is held.
            testing::ArchiveFuseMount logged(spared / "card.tar", drive.mountPoint() / "logged",
                                             {.log = drive.mountPoint() / "driver.log"});
            ASSERT_EQ(testing::readFile(logged.target() / stills[0].first), stills[0].second);
            EXPECT_EQ(testing::judgedKey(logged.target(), cardDevice), "unlocated_fuse_image");
            // Its source naming a file of the drive that it does not hold.
            testing::ArchiveFuseMount named(spared / "card.tar", drive.mountPoint() / "named",
                                            {.fsname = (drive.mountPoint() / "drive.tar").string()});
            EXPECT_EQ(testing::judgedKey(named.target(), cardDevice), "unlocated_fuse_image");
        }
        // Held open, the archive is found wherever it lies, the log beside it not counted.
        testing::ArchiveFuseMount heldOnCard(spared / "card.tar", drive.mountPoint() / "held-card",
                                             {.keepArchiveOpen = true, .log = drive.mountPoint() / "driver.log"});
        EXPECT_EQ(testing::judgedKey(heldOnCard.target(), cardDevice), "image_on_card");
        testing::ArchiveFuseMount heldOnDrive(drive.mountPoint() / "drive.tar", drive.mountPoint() / "held-drive",
                                              {.keepArchiveOpen = true, .log = spared / "driver.log"});
        EXPECT_EQ(testing::judgedKey(heldOnDrive.target(), cardDevice), "none");
    }
}

TEST(SourceTextProofTest, PackagedFuseDriversAreFollowedToTheImagesTheyHold) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "CARD_PACKAGED");
    LoopVolume drive("ext4", 96, "DRIVE_PACKAGED");
    const dev_t cardDevice = deviceOf(card.mountPoint());
    const fs::path spared = card.mountPoint() / "System Volume Information";
    testing::TempFolder content;
    for (const auto& [path, bytes] : stills) testing::writeFile(content.path() / path, bytes);
    struct Driver {
        std::string program, maker, image;
    };
    for (const Driver& driver : {Driver{"squashfuse", "mksquashfs", "stills.sqfs"}, Driver{"fuse2fs", "mkfs.ext4", "stills.ext4"},
                                 Driver{"archivemount", "tar", "stills.tar"}}) {
        SCOPED_TRACE(driver.program);
        if (!testing::haveProgram(driver.program) || !testing::haveProgram(driver.maker)) {
            std::cout << driver.program << " or " << driver.maker << " is not installed; not tried\n";
            continue;
        }
        for (const fs::path& kept : {spared, drive.mountPoint()}) {
            const fs::path image = kept / driver.image;
            fs::create_directories(kept);
            if (driver.maker == "mksquashfs")
                mustRun({"mksquashfs", content.path().string(), image.string(), "-quiet", "-noappend"});
            else if (driver.maker == "mkfs.ext4")
                mustRun({"mkfs.ext4", "-q", "-F", "-d", content.path().string(), image.string(), "8M"});
            else
                testing::makeTarArchive(image, stills);
            const fs::path target = drive.mountPoint() / ("by-" + driver.program);
            fs::create_directories(target);
            mustRun({driver.program, image.string(), target.string(), "-o", "ro"});
            const Unmounting unmounting{target};
            EXPECT_EQ(testing::readFile(target / stills[0].first), stills[0].second);
            EXPECT_EQ(testing::judgedKey(target, cardDevice), kept == spared ? "image_on_card" : "none") << image;
        }
    }
}

TEST(SourceTextProofTest, ImagesAndArchivesAreToldByTheirFirstBytesAndLogsAreNot) {
    testing::TempFolder folder;
    const fs::path content = folder / "content";
    for (const auto& [path, bytes] : stills) testing::writeFile(content / path, bytes);
    testing::makeTarArchive(folder / "stills.tar", stills);
    mustRun({"sh", "-c", "gzip -c \"$0\" > \"$1\"", (folder / "stills.tar").string(), (folder / "stills.tar.gz").string()});
    mustRun({"mkfs.ext4", "-q", "-F", "-d", content.string(), (folder / "stills.ext4").string(), "8M"});
    mustRun({"mkfs.vfat", "-C", (folder / "stills.fat").string(), "4096"});
    for (const char* image : {"stills.tar", "stills.tar.gz", "stills.ext4", "stills.fat"})
        EXPECT_TRUE(carriesImageSignature(folder / image)) << image;
    // A driver's log, a cache of the archive's names, an empty file, a folder, nothing.
    testing::writeFile(folder / "driver.log", "070701 serving stills.tar\nBZh9 ustar 1AY&SY\n");
    testing::writeFile(folder / "names.cache", std::string(70000, 'x'));
    testing::writeFile(folder / "empty", "");
    for (const char* other : {"driver.log", "names.cache", "empty", "content", "missing"})
        EXPECT_FALSE(carriesImageSignature(folder / other)) << other;
}

}  // namespace tessaline
