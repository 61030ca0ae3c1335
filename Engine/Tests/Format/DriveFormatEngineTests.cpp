#include "Tessaline/Format/DriveFormatEngine.hpp"

#include "Support/TestSandbox.hpp"
#include "Tessaline/Volumes/UdevDatabase.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

using tessaline::DiskTool;
using tessaline::DriveFormat;
using tessaline::DriveFormatEngine;
using tessaline::DriveFormatError;
using tessaline::testing::LoopVolume;
using tessaline::testing::ScopedMount;
using tessaline::testing::readFile;
using tessaline::testing::runCommand;
using tessaline::testing::writeFile;
using Kind = DriveFormatError::Kind;
namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> blkid(const std::string& device) {
    auto r = runCommand({"blkid", "-p", "-o", "export", device});
    std::map<std::string, std::string> tags;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value;
        for (size_t i = eq + 1; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            value.push_back(line[i]);
        }
        tags[line.substr(0, eq)] = value;
    }
    return tags;
}

bool mounted(const fs::path& target) {
    return runCommand({"findmnt", "--mountpoint", target.string()}).exitCode == 0;
}

Kind failureKind(const std::function<void()>& action, std::string* message = nullptr) {
    try {
        action();
    } catch (const DriveFormatError& e) {
        if (message) *message = e.what();
        return e.kind();
    }
    ADD_FAILURE() << "no DriveFormatError";
    return Kind::diskutilFailed;
}

bool haveFormatTools() {
    return access("/usr/sbin/mkfs.exfat", X_OK) == 0 && access("/usr/sbin/mkfs.vfat", X_OK) == 0;
}

}  // namespace

class DriveFormatEngineTest : public tessaline::testing::SandboxedTest {};

TEST_F(DriveFormatEngineTest, InspectsALoopMountedVolume) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "MY CARD");
    auto facts = DriveFormatEngine::inspect(card.mountPoint());
    EXPECT_EQ(facts.deviceIdentifier, card.device());
    EXPECT_EQ(facts.volumeName, "MY CARD");
    EXPECT_EQ(facts.mountPoint, card.mountPoint().string());
    EXPECT_EQ(facts.totalBytes, 64 * 1024 * 1024);
    EXPECT_EQ(facts.filesystem, "ext4");
    EXPECT_EQ(facts.fsType, "ext4");
    EXPECT_EQ(facts.deviceType, "loop");
    EXPECT_EQ(facts.uuid, blkid(card.device())["UUID"]);
    EXPECT_FALSE(facts.isInternal);
    // A trailing slash names the same mount point.
    EXPECT_EQ(DriveFormatEngine::inspect(card.mountPoint().string() + "/"), facts);

    LoopVolume exfat("exfat", 64, "EOS_DIGITAL");
    auto exfatFacts = DriveFormatEngine::inspect(exfat.mountPoint());
    EXPECT_EQ(exfatFacts.filesystem, "ExFAT");  // the superblock's type, not the FUSE "fuseblk"
    EXPECT_EQ(exfatFacts.volumeName, "EOS_DIGITAL");
}

TEST_F(DriveFormatEngineTest, AUserWhoCannotProbeIsNeverShownAFormatGuessedFromTheFuseMount) {
    TESSALINE_REQUIRE_ROOT();
    // An exFAT card mounted through FUSE ("fuseblk", as ntfs-3g mounts are too), read by a
    // user whom blkid's probe refuses: the udev database names the format where a udev daemon
    // keeps one; without it nothing does.
    LoopVolume card("exfat", 64, "EOS_DIGITAL");
    struct stat st{};
    ASSERT_EQ(::stat(card.device().c_str(), &st), 0);
    const bool udevKnowsIt = tessaline::udevProperty(st.st_rdev, "ID_FS_TYPE") == std::optional<std::string>("exfat");
    std::optional<tessaline::DiskInfo> info;
    std::string error;
    ASSERT_EQ(::setresuid(65534, 65534, 0), 0);
    try {
        info = tessaline::DiskInfo::read(card.mountPoint(), DiskTool{});
    } catch (const std::exception& e) {
        error = e.what();
    }
    ASSERT_EQ(::setresuid(0, 0, 0), 0);
    ASSERT_TRUE(info.has_value()) << error;
    EXPECT_EQ(info->filesystemUserVisibleName, udevKnowsIt ? "ExFAT" : "unknown");
    EXPECT_EQ(info->fsType, udevKnowsIt ? std::optional<std::string>("exfat") : std::nullopt);
}

TEST_F(DriveFormatEngineTest, ReformatsToExfatAndFat32WithNormalisedLabels) {
    TESSALINE_REQUIRE_ROOT();
    if (!haveFormatTools()) GTEST_SKIP() << "mkfs.exfat or mkfs.vfat is not installed; skipped";
    LoopVolume card("ext4", 64, "OLD");
    writeFile(card.mountPoint() / "DCIM/old.jpg", "old");
    auto facts = DriveFormatEngine::inspect(card.mountPoint());
    std::string out = DriveFormatEngine::reformat(card.mountPoint(), DriveFormat::exfat, "  my card 2024!  ", facts);
    EXPECT_FALSE(out.empty());
    EXPECT_FALSE(mounted(card.mountPoint()));
    auto tags = blkid(card.device());
    EXPECT_EQ(tags["TYPE"], "exfat");
    EXPECT_EQ(tags["LABEL"], "MY CARD 202");

    // From exFAT (a FUSE mount) to FAT32.
    ASSERT_EQ(runCommand({"mount.exfat-fuse", card.device(), card.mountPoint().string()}).exitCode, 0);
    facts = DriveFormatEngine::inspect(card.mountPoint());
    EXPECT_EQ(facts.uuid, tags["UUID"]);
    DriveFormatEngine::reformat(card.mountPoint(), DriveFormat::fat32, "Caf\u00e9_Shots", facts);
    EXPECT_FALSE(mounted(card.mountPoint()));
    tags = blkid(card.device());
    EXPECT_EQ(tags["TYPE"], "vfat");
    EXPECT_EQ(tags["VERSION"], "FAT32");
    EXPECT_EQ(tags["LABEL"], "CAF_SHOTS");
}

TEST_F(DriveFormatEngineTest, UnmountsEveryMountAndReusesTheNameWhenNoneIsTyped) {
    TESSALINE_REQUIRE_ROOT();
    if (!haveFormatTools()) GTEST_SKIP() << "mkfs.exfat or mkfs.vfat is not installed; skipped";
    LoopVolume card("ext4", 64, "Shoot day 3");
    ScopedMount second({card.device()}, sandbox / "second");
    auto facts = DriveFormatEngine::inspect(card.mountPoint());
    DriveFormatEngine::reformat(card.mountPoint(), DriveFormat::exfat, "", facts);
    EXPECT_FALSE(mounted(card.mountPoint()));
    EXPECT_FALSE(mounted(second.target()));
    EXPECT_EQ(blkid(card.device())["LABEL"], "SHOOT DAY 3");
}

TEST_F(DriveFormatEngineTest, RefusesAVolumeThatChangedSinceInspection) {
    TESSALINE_REQUIRE_ROOT();
    if (!haveFormatTools()) GTEST_SKIP() << "mkfs.exfat or mkfs.vfat is not installed; skipped";
    LoopVolume card("ext4", 64, "CARD");
    auto facts = DriveFormatEngine::inspect(card.mountPoint());
    // Another card with the same name in the same reader, mounted at the same place.
    card.unmount();
    ASSERT_EQ(runCommand({"mkfs.ext4", "-q", "-F", "-L", "CARD", card.device()}).exitCode, 0);
    card.remount();
    writeFile(card.mountPoint() / "unbacked.mov", "new footage");
    std::string newUuid = blkid(card.device())["UUID"];
    ASSERT_NE(newUuid, facts.uuid);

    std::string message;
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::reformat(card.mountPoint(), DriveFormat::exfat, "CARD", facts); },
                          &message),
              Kind::volumeChanged);
    EXPECT_EQ(message, "The volume at " + card.mountPoint().string() +
                           " is no longer the one you checked \u2014 nothing was formatted. Choose it again.");
    EXPECT_TRUE(mounted(card.mountPoint()));
    EXPECT_EQ(blkid(card.device())["UUID"], newUuid);
    EXPECT_EQ(readFile(card.mountPoint() / "unbacked.mov"), "new footage");

    // Another device at the same path is refused the same way.
    auto moved = facts;
    moved.uuid = newUuid;
    moved.deviceIdentifier = "/dev/loop999";
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::reformat(card.mountPoint(), DriveFormat::exfat, "CARD", moved); }),
              Kind::volumeChanged);
    EXPECT_EQ(blkid(card.device())["TYPE"], "ext4");
}

TEST_F(DriveFormatEngineTest, TheSameCardMountedAgainIsCheckedAgain) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "CARD");
    auto facts = DriveFormatEngine::inspect(card.mountPoint());
    ASSERT_TRUE(facts.mountId.has_value());
    if (*facts.mountId < (1ULL << 31)) GTEST_SKIP() << "this kernel hands mount IDs out again";
    EXPECT_EQ(DriveFormatEngine::confirmSame(card.mountPoint(), facts), facts);
    // Taken out and put back (it may have been in a camera meanwhile): same device, same UUID.
    card.unmount();
    card.remount();
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::confirmSame(card.mountPoint(), facts); }), Kind::volumeChanged);
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::reformat(card.mountPoint(), DriveFormat::exfat, "X", facts); }),
              Kind::volumeChanged);
    EXPECT_EQ(blkid(card.device())["TYPE"], "ext4");
    EXPECT_TRUE(mounted(card.mountPoint()));
}

TEST_F(DriveFormatEngineTest, MissingFormatProgramFailsBeforeTheUnmount) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "CARD");
    writeFile(card.mountPoint() / "clip.mov", "footage");
    auto facts = DriveFormatEngine::inspect(card.mountPoint());
    DiskTool tool;
    tool.programs.mkfsExfat = sandbox / "no-such/mkfs.exfat";
    std::string message;
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::reformat(card.mountPoint(), DriveFormat::exfat, "X", facts, tool); },
                          &message),
              Kind::formatUnavailable);
    EXPECT_EQ(message, "ExFAT can't be created on this system \u2014 mkfs.exfat is not installed.");
    EXPECT_TRUE(mounted(card.mountPoint()));
    EXPECT_EQ(readFile(card.mountPoint() / "clip.mov"), "footage");

    if (access("/usr/sbin/mkfs.hfsplus", X_OK) != 0) {
        EXPECT_EQ(failureKind([&] { DriveFormatEngine::reformat(card.mountPoint(), DriveFormat::hfsPlus, "X", facts); },
                              &message),
                  Kind::formatUnavailable);
        EXPECT_EQ(message,
                  "Mac OS Extended (Journaled) can't be created on this system \u2014 mkfs.hfsplus is not installed.");
        EXPECT_TRUE(mounted(card.mountPoint()));
    }
    EXPECT_EQ(blkid(card.device())["TYPE"], "ext4");
}

TEST_F(DriveFormatEngineTest, BusyVolumeIsNotFormatted) {
    TESSALINE_REQUIRE_ROOT();
    if (!haveFormatTools()) GTEST_SKIP() << "mkfs.exfat or mkfs.vfat is not installed; skipped";
    LoopVolume card("ext4", 64, "CARD");
    writeFile(card.mountPoint() / "open.mov", "in use");
    auto facts = DriveFormatEngine::inspect(card.mountPoint());
    int fd = open((card.mountPoint() / "open.mov").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::string message;
    Kind kind = failureKind(
        [&] { DriveFormatEngine::reformat(card.mountPoint(), DriveFormat::exfat, "X", facts); }, &message);
    close(fd);
    EXPECT_EQ(kind, Kind::diskutilFailed);
    EXPECT_NE(message.find("umount"), std::string::npos) << message;
    EXPECT_NE(message.find("busy"), std::string::npos) << message;
    EXPECT_TRUE(mounted(card.mountPoint()));
    EXPECT_EQ(blkid(card.device())["TYPE"], "ext4");
}

TEST_F(DriveFormatEngineTest, FailedMkfsMountsTheVolumeBack) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "CARD");
    writeFile(card.mountPoint() / "clip.mov", "footage");
    auto facts = DriveFormatEngine::inspect(card.mountPoint());
    DiskTool tool;
    tool.programs.mkfsExfat = "/bin/false";  // runs, writes nothing, exits 1
    std::string message;
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::reformat(card.mountPoint(), DriveFormat::exfat, "X", facts, tool); },
                          &message),
              Kind::diskutilFailed);
    EXPECT_EQ(message, "false failed (status 1).");
    EXPECT_TRUE(mounted(card.mountPoint()));
    EXPECT_EQ(readFile(card.mountPoint() / "clip.mov"), "footage");
}

TEST_F(DriveFormatEngineTest, FailedMkfsOnACardThatCannotBeMountedBackSaysItIsLeftUnmounted) {
    TESSALINE_REQUIRE_ROOT();
    if (access("/usr/bin/fusefat", X_OK) != 0) GTEST_SKIP() << "fusefat is not installed (package fusefat)";
    // A FAT32 card mounted through FUSE: this kernel has no FAT driver, so a plain mount of it
    // fails after the unmount.
    LoopVolume card("vfat", 64, "FATCARD", /*mount=*/false);
    const fs::path place = sandbox / "FATCARD";
    fs::create_directories(place);
    ASSERT_EQ(runCommand({"fusefat", "-o", "ro,blkdev,fsname=" + card.device(), card.device(), place.string()}).exitCode, 0);
    struct Unmount {
        fs::path target;
        ~Unmount() {
            if (runCommand({"findmnt", "--mountpoint", target.string()}).exitCode == 0) runCommand({"umount", target.string()});
        }
    } unmount{place};
    auto facts = DriveFormatEngine::inspect(place);
    DiskTool tool;
    tool.programs.mkfsExfat = "/bin/false";
    std::string message;
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::reformat(place, DriveFormat::exfat, "X", facts, tool); }, &message),
              Kind::diskutilFailed);
    EXPECT_FALSE(mounted(place));
    EXPECT_EQ(message.rfind("false failed (status 1). \u201cFATCARD\u201d is left unmounted \u2014 mounting it again failed: mount: ", 0), 0u)
        << message;
    EXPECT_EQ(blkid(card.device())["TYPE"], "vfat");
}

TEST_F(DriveFormatEngineTest, AProbeRefusedAfterTheUnmountMountsTheCardBackAndARefusedOneBeforeUnmountsNothing) {
    TESSALINE_REQUIRE_ROOT();
    if (!haveFormatTools()) GTEST_SKIP() << "mkfs.exfat or mkfs.vfat is not installed; skipped";
    LoopVolume card("ext4", 64, "CARD");
    writeFile(card.mountPoint() / "clip.mov", "footage");
    auto facts = DriveFormatEngine::inspect(card.mountPoint());
    auto reformat = [&](const DiskTool& tool, std::string* message) {
        return failureKind([&] { DriveFormatEngine::reformat(card.mountPoint(), DriveFormat::exfat, "X", facts, tool); },
                           message);
    };
    // The probe is refused once the card is unmounted, as for a process whose privileges were
    // dropped meanwhile: nothing is formatted and the card is mounted back where it was.
    DiskTool tool;
    std::vector<std::string> ran;
    bool unmountedYet = false;
    tool.runner = [&](const fs::path& program, const std::vector<std::string>& arguments) {
        ran.push_back(program.filename().string());
        if (program.filename() == "umount") unmountedYet = true;
        if (program.filename() == "blkid" && unmountedYet) {
            tessaline::ToolRun refused;
            refused.program = program;
            refused.exitStatus = 2;
            refused.standardError = "blkid: " + card.device() + ": Permission denied\n";
            return refused;
        }
        return tessaline::runDiskToolProgram(program, arguments);
    };
    std::string message;
    EXPECT_EQ(reformat(tool, &message), Kind::diskutilFailed);
    EXPECT_EQ(message, "Couldn't check the volume at " + card.mountPoint().string() +
                           " again after unmounting it: blkid: " + card.device() +
                           ": Permission denied \u2014 nothing was formatted.");
    EXPECT_TRUE(mounted(card.mountPoint()));
    EXPECT_EQ(readFile(card.mountPoint() / "clip.mov"), "footage");
    EXPECT_EQ(std::count(ran.begin(), ran.end(), "mkfs.exfat"), 0);

    // Refused before the unmount: nothing is unmounted at all.
    facts = DriveFormatEngine::inspect(card.mountPoint());
    ran.clear();
    unmountedYet = true;
    EXPECT_EQ(reformat(tool, &message), Kind::diskutilFailed);
    EXPECT_EQ(message.rfind("Couldn't check the volume at " + card.mountPoint().string() + ": blkid: ", 0), 0u) << message;
    EXPECT_EQ(std::count(ran.begin(), ran.end(), "umount"), 0);
    EXPECT_TRUE(mounted(card.mountPoint()));
    EXPECT_EQ(blkid(card.device())["TYPE"], "ext4");
}

TEST_F(DriveFormatEngineTest, RefusesWhatIsNotAnExternalVolume) {
    TESSALINE_REQUIRE_ROOT();
    EXPECT_EQ(failureKind([] { DriveFormatEngine::inspect("/"); }), Kind::refusedInternal);

    LoopVolume card("ext4", 64, "CARD");
    fs::create_directories(card.mountPoint() / "DCIM");
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::inspect(card.mountPoint() / "DCIM"); }), Kind::cannotInspect);
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::inspect(sandbox.path()); }), Kind::cannotInspect);
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::inspect(sandbox / "missing"); }), Kind::cannotInspect);

    ScopedMount bound({"--bind", (card.mountPoint() / "DCIM").string()}, sandbox / "bound");
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::inspect(bound.target()); }), Kind::cannotInspect);
    ScopedMount memory({"-t", "tmpfs", "tmpfs"}, sandbox / "tmpfs");
    std::string message;
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::inspect(memory.target()); }, &message), Kind::cannotInspect);
    EXPECT_EQ(message, "Couldn't identify the volume at " + memory.target().string() +
                           " \u2014 not reformatting something unidentified.");
    ScopedMount rootAgain({"--bind", "/"}, sandbox / "rootfs");
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::inspect(rootAgain.target()); }), Kind::refusedInternal);
}

TEST_F(DriveFormatEngineTest, RefusesAVolumeOnTheSystemDisk) {
    TESSALINE_REQUIRE_ROOT();
    std::unique_ptr<tessaline::testing::SwapDiskVolume> disk;
    try {
        disk = std::make_unique<tessaline::testing::SwapDiskVolume>("DATA");
    } catch (const std::exception& e) {
        GTEST_SKIP() << "cannot make a disk with active swap here: " << e.what();
    }
    std::string message;
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::inspect(disk->mountPoint()); }, &message), Kind::refusedInternal);
    EXPECT_EQ(message, "\"DATA\" is an internal disk. Brindlecove only reformats external drives and cards.");
    EXPECT_EQ(blkid(disk->dataPartition())["TYPE"], "ext4");
}

TEST_F(DriveFormatEngineTest, ChecksTheSuperblockAgainAfterTheUnmount) {
    TESSALINE_REQUIRE_ROOT();
    if (!haveFormatTools()) GTEST_SKIP() << "mkfs.exfat or mkfs.vfat is not installed; skipped";
    LoopVolume card("ext4", 64, "CARD");
    auto facts = DriveFormatEngine::inspect(card.mountPoint());
    // The card is swapped for another one while it is being unmounted.
    DiskTool tool;
    std::vector<std::string> ran;
    tool.runner = [&](const fs::path& program, const std::vector<std::string>& arguments) {
        ran.push_back(program.filename().string());
        tessaline::ToolRun run = tessaline::runDiskToolProgram(program, arguments);
        if (program.filename() == "umount")
            runCommand({"mkfs.ext4", "-q", "-F", "-L", "CARD", card.device()});
        return run;
    };
    std::string message;
    EXPECT_EQ(failureKind([&] { DriveFormatEngine::reformat(card.mountPoint(), DriveFormat::exfat, "X", facts, tool); },
                          &message),
              Kind::volumeChanged);
    EXPECT_EQ(blkid(card.device())["TYPE"], "ext4");
    EXPECT_EQ(std::count(ran.begin(), ran.end(), "mkfs.exfat"), 0);
    EXPECT_EQ(std::count(ran.begin(), ran.end(), "mount"), 0);  // another card is not mounted back
    // ...but the user is told it is not mounted, and how to mount it.
    EXPECT_EQ(message, "The volume at " + card.mountPoint().string() +
                           " is no longer the one you checked \u2014 nothing was formatted. Choose it again. "
                           "\u201cCARD\u201d is left unmounted. To mount it, unplug it and plug it in again, or run: mount " +
                           card.device() + " " + card.mountPoint().string());
}
