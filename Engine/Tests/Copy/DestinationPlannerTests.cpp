// "Already present" on real volumes: a card file counts as already on the destination only
// when an identical file lies inside the destination folder, reached without a link, on the
// destination drive. A destination folder that is a link to identical files elsewhere, or
// another file system mounted inside the destination, never makes a backup that is not on
// the drive: every file then lands on the drive byte for byte, or fails.

#include "Copy/TemporaryFiles.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"

#include <sys/stat.h>

#include <map>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using namespace tessaline::testing;
using Kind = CopyEngine::FileStatus::Kind;

dev_t deviceOf(const fs::path& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

std::map<std::string, std::string> contentsOf(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), root).native()] = readFile(entry.path());
    return files;
}

class DestinationPlannerTest : public SandboxedTest {
protected:
    fs::path card() const { return sandbox / "CARD"; }

    void makeCard() {
        writePatternFile(card() / "DCIM/100CANON/MVI_0001.MOV", 400'000, 1);
        writePatternFile(card() / "DCIM/100CANON/IMG_0002.JPG", 90'000, 2);
        writePatternFile(card() / "PRIVATE/CLIP.XML", 3'000, 3);
    }
    // The card's DCIM folder, byte for byte, at `folder`.
    void copyDcimTo(const fs::path& folder) {
        fs::create_directories(folder);
        fs::copy(card() / "DCIM", folder, fs::copy_options::recursive);
    }
    CopyEngine::CopyRun copyCard(const fs::path& destination) {
        return CopyEngine().copy(card(), destination, {}, SettleOptions::none(), [] { return false; });
    }

    // Every file called proven is on `drive`'s volume and holds the card's bytes; nothing
    // counts as already present; the files outside DCIM are proven copies.
    void expectOnlyTrueBackups(const CopyEngine::CopyRun& run, const LoopVolume& drive) {
        ASSERT_EQ(run.outcomes.size(), 3u);
        for (const auto& outcome : run.outcomes) {
            SCOPED_TRACE(outcome.relativePath);
            EXPECT_NE(outcome.status.kind, Kind::skippedAlreadyPresent);
            if (outcome.status.isVerifiedPass()) {
                EXPECT_EQ(deviceOf(outcome.destinationURL), deviceOf(drive.mountPoint()));
                EXPECT_EQ(readFile(outcome.destinationURL), readFile(outcome.sourceURL));
            } else {
                EXPECT_EQ(outcome.status.kind, Kind::failed);
            }
            if (outcome.relativePath == "PRIVATE/CLIP.XML") {
                EXPECT_EQ(outcome.status.kind, Kind::copiedVerified);
            }
        }
    }
};

TEST_F(DestinationPlannerTest, ADestinationFolderLinkedToIdenticalFilesOnAnotherDriveIsNoBackup) {
    TESSALINE_REQUIRE_ROOT();
    makeCard();
    LoopVolume drive("ext4", 32, "BACKUP");
    LoopVolume other("ext4", 32, "OTHER");
    copyDcimTo(other.mountPoint() / "Old/DCIM");
    const auto otherBefore = contentsOf(other.mountPoint());
    const fs::path destination = drive.mountPoint() / "Shoot";
    fs::create_directories(destination);
    fs::create_directory_symlink(other.mountPoint() / "Old/DCIM", destination / "DCIM");

    auto run = copyCard(destination);
    expectOnlyTrueBackups(run, drive);
    // Nothing can be written through the link: the DCIM files fail with a reason that says so.
    const std::string leadsOff = "Couldn't create destination folder: " + (destination / "DCIM").string() +
                                 " leads off the destination drive.";
    for (const auto& outcome : run.outcomes) {
        if (outcome.relativePath.starts_with("DCIM/")) {
            EXPECT_EQ(outcome.status.reason, leadsOff);
        }
    }
    EXPECT_EQ(contentsOf(other.mountPoint()), otherBefore);
    EXPECT_TRUE(temporaryFilesIn(drive.mountPoint()).empty());
    EXPECT_TRUE(temporaryFilesIn(other.mountPoint()).empty());
}

TEST_F(DestinationPlannerTest, AnotherFileSystemMountedInsideTheDestinationIsNoBackup) {
    TESSALINE_REQUIRE_ROOT();
    makeCard();
    LoopVolume drive("ext4", 32, "BACKUP");
    copyDcimTo(sandbox / "elsewhere/DCIM");
    const fs::path destination = drive.mountPoint() / "Shoot";
    ScopedMount bound({"--bind", (sandbox / "elsewhere/DCIM").string()}, destination / "DCIM");

    auto run = copyCard(destination);
    expectOnlyTrueBackups(run, drive);
    EXPECT_EQ(contentsOf(sandbox / "elsewhere/DCIM"), contentsOf(card() / "DCIM"));
}

// A link inside the destination onto the drive itself leads onto the destination volume: the
// write path takes it, but the identical files behind it are not counted as present, so the
// card's files are copied beside them under the next free names and proven.
TEST_F(DestinationPlannerTest, IdenticalFilesBehindALinkOnTheSameDriveAreCopiedAgainUnderFreeNames) {
    TESSALINE_REQUIRE_ROOT();
    makeCard();
    LoopVolume drive("ext4", 32, "BACKUP");
    copyDcimTo(drive.mountPoint() / "Old/DCIM");
    const fs::path destination = drive.mountPoint() / "Shoot";
    fs::create_directories(destination);
    fs::create_directory_symlink(drive.mountPoint() / "Old/DCIM", destination / "DCIM");

    auto run = copyCard(destination);
    expectOnlyTrueBackups(run, drive);
    for (const auto& outcome : run.outcomes) EXPECT_EQ(outcome.status.kind, Kind::copiedVerified);
    EXPECT_EQ(readFile(drive.mountPoint() / "Old/DCIM/100CANON/MVI_0001_1.MOV"),
              readFile(card() / "DCIM/100CANON/MVI_0001.MOV"));
}

TEST_F(DestinationPlannerTest, ADestinationThatHoldsIdenticalFilesCountsThemAsPresent) {
    TESSALINE_REQUIRE_ROOT();
    makeCard();
    LoopVolume drive("ext4", 32, "BACKUP");
    const fs::path destination = drive.mountPoint() / "Shoot";
    copyDcimTo(destination / "DCIM");
    const auto before = contentsOf(destination);

    auto run = copyCard(destination);
    ASSERT_EQ(run.outcomes.size(), 3u);
    for (const auto& outcome : run.outcomes) {
        SCOPED_TRACE(outcome.relativePath);
        if (outcome.relativePath == "PRIVATE/CLIP.XML") {
            EXPECT_EQ(outcome.status.kind, Kind::copiedVerified);
            continue;
        }
        EXPECT_EQ(outcome.status.kind, Kind::skippedAlreadyPresent);
        EXPECT_EQ(outcome.destinationURL, destination / outcome.relativePath);
        ASSERT_TRUE(outcome.sourceChecksum);
        EXPECT_EQ(outcome.sourceChecksum, outcome.destinationChecksum);
    }
    // Nothing was written beside the files already there.
    auto after = contentsOf(destination);
    after.erase("PRIVATE/CLIP.XML");
    EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace tessaline
