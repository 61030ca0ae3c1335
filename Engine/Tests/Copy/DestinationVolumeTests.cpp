// The copy engine and the volume its destination must be on, on real volumes: a drive pulled
// while a file is planned, a destination where no drive is mounted, and a destination volume
// given by the caller. Every write lands on that volume or nowhere.

#include "Copy/FaultyCopyIO.hpp"
#include "Copy/TemporaryFiles.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using namespace tessaline::testing;
using Kind = CopyEngine::FileStatus::Kind;
using FileStatus = CopyEngine::FileStatus;

// A folder made by the test in a system folder, removed with everything in it at the end.
class ScopedFolder {
public:
    explicit ScopedFolder(fs::path path) : path_(std::move(path)) {}
    ~ScopedFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string uniqueName(const std::string& stem) {
    static int counter = 0;
    return stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

class DestinationVolumeTest : public SandboxedTest {
protected:
    fs::path card() const { return sandbox / "CARD"; }
    MediaFile cardFile(const std::string& name, size_t size, unsigned seed) {
        writePatternFile(card() / name, size, seed);
        return {card() / name, MediaFile::Kind::media, static_cast<int64_t>(size)};
    }
};

TEST_F(DestinationVolumeTest, ADrivePulledWhileAFileIsPlannedGetsNothingOnTheSystemDisk) {
    TESSALINE_REQUIRE_ROOT();
    // The drive already holds a file of the same name and size (other bytes), so the engine
    // reads it to choose between "already present" and the "_1" name, and the drive is
    // pulled then: with the name in the drive's root, and in a folder that the engine must
    // make again after the pull. Last, the drive goes just as the copy's file is created.
    enum class Pull { whileHashingAtRoot, whileHashingInFolder, atTheCreate };
    for (Pull pull : {Pull::whileHashingAtRoot, Pull::whileHashingInFolder, Pull::atTheCreate}) {
        SCOPED_TRACE(static_cast<int>(pull));
        auto drive = std::make_unique<LoopVolume>("ext4", 32, "BACKUP");
        const fs::path mountPoint = drive->mountPoint();
        const std::string name = pull == Pull::whileHashingInFolder ? "DCIM/A.MOV" : "A.MOV";
        fs::remove_all(card());
        auto source = cardFile(name, 300'000, 1);
        writePatternFile(mountPoint / name, 300'000, 2);

        auto io = std::make_shared<FaultyIO>();
        bool pulled = false;
        io->beforeOpen = [&](const char* path, int flags) {
            const bool hashingExisting = (mountPoint / name).native() == path && !(flags & O_CREAT);
            const bool creating = (flags & O_CREAT) != 0;
            if (!pulled && (pull == Pull::atTheCreate ? creating : hashingExisting)) {
                drive->unmountLazily();
                pulled = true;
            }
        };
        auto run = CopyEngine(io).copy({source}, card(), mountPoint, {}, [] { return false; });
        ASSERT_TRUE(pulled);
        ASSERT_EQ(run.outcomes.size(), 1u);
        EXPECT_EQ(run.outcomes[0].status, FileStatus::failed(CopyEngine::destinationGoneText));
        // The empty mount-point folder on the system disk got nothing: no file, no folder.
        EXPECT_TRUE(fs::is_empty(mountPoint));
        drive->remount();
        EXPECT_TRUE(temporaryFilesIn(mountPoint).empty());
        EXPECT_FALSE(fs::exists(mountPoint / CopyEngine::suffixedRelativePath(name, 1)));
    }
}

TEST_F(DestinationVolumeTest, ADestinationWhereNoDriveIsMountedIsRefusedAndNothingIsMade) {
    auto file = cardFile("DCIM/A.MOV", 10'000, 1);
    // Missing folders whose nearest existing folder is where drives get mounted.
    ScopedFolder noDrive(fs::path("/mnt") / uniqueName("brindlecove-no-drive"));
    ScopedFolder noUser(fs::path("/media") / uniqueName("brindlecove-user"));
    for (fs::path destination : {noDrive.path() / "Backup", noUser.path() / "DRIVE" / "Backup"}) {
        SCOPED_TRACE(destination);
        const std::string sentence =
            "The destination folder " + destination.native() + " isn't available — is the drive connected?";
        try {
            CopyEngine().copy(card(), destination, {}, SettleOptions::none(), [] { return false; });
            ADD_FAILURE() << "the card copy went ahead";
        } catch (const CopyError& error) {
            EXPECT_EQ(error.kind(), CopyError::Kind::destinationNotConnected);
            EXPECT_EQ(error.destination(), destination);
            EXPECT_EQ(std::string(error.what()), sentence);
        }
        auto run = CopyEngine().copy({file}, card(), destination, {}, [] { return false; });
        ASSERT_EQ(run.outcomes.size(), 1u);
        EXPECT_EQ(run.outcomes[0].status, FileStatus::failed(sentence));
        EXPECT_FALSE(fs::exists(destination.parent_path()));
        EXPECT_FALSE(fs::exists(destination.parent_path().parent_path() / "DRIVE"));
    }
}

TEST_F(DestinationVolumeTest, AnEmptyMountPointFolderIsNoDriveButADriveMountedThereIs) {
    TESSALINE_REQUIRE_ROOT();
    auto file = cardFile("DCIM/A.MOV", 10'000, 1);
    ScopedFolder mountPoint("/mnt/" + uniqueName("brindlecove-drive"));
    fs::create_directory(mountPoint.path());
    for (fs::path destination : {mountPoint.path(), mountPoint.path() / "Backup"}) {
        SCOPED_TRACE(destination);
        auto run = CopyEngine().copy({file}, card(), destination, {}, [] { return false; });
        ASSERT_EQ(run.outcomes.size(), 1u);
        EXPECT_EQ(run.outcomes[0].status.kind, Kind::failed);
        EXPECT_TRUE(fs::is_empty(mountPoint.path()));
    }
    {
        ScopedMount drive({"-t", "tmpfs", "-o", "size=8m", "tmpfs"}, mountPoint.path());
        auto run = CopyEngine().copy({file}, card(), mountPoint.path() / "Backup", {}, [] { return false; });
        ASSERT_EQ(run.outcomes.size(), 1u);
        EXPECT_EQ(run.outcomes[0].status.kind, Kind::copiedVerified);
        EXPECT_EQ(readFile(mountPoint.path() / "Backup/DCIM/A.MOV"), readFile(file.url));
    }
    EXPECT_TRUE(fs::is_empty(mountPoint.path()));
}

TEST_F(DestinationVolumeTest, AGivenDestinationVolumeIsHeldToEveryWrite) {
    TESSALINE_REQUIRE_ROOT();
    auto first = cardFile("DCIM/A.MOV", 50'000, 1);
    auto second = cardFile("DCIM/B.MOV", 50'000, 2);
    auto expected = std::make_unique<LoopVolume>("ext4", 32, "EXPECTED");
    LoopVolume other("ext4", 32, "OTHER");
    auto pin = VolumePin::of(expected->mountPoint());
    ASSERT_TRUE(pin);
    CopyEngine::Options options;
    options.destinationVolume = pin;

    // The right volume: copied and proven.
    auto good = CopyEngine().copy({first, second}, card(), expected->mountPoint() / "Sync", options,
                                  [] { return false; });
    for (const auto& outcome : good.outcomes) EXPECT_EQ(outcome.status.kind, Kind::copiedVerified);

    // Another volume: nothing is made there.
    auto wrong = CopyEngine().copy({first, second}, card(), other.mountPoint() / "Sync", options,
                                   [] { return false; });
    for (const auto& outcome : wrong.outcomes)
        EXPECT_EQ(outcome.status, FileStatus::failed(CopyEngine::destinationGoneText));
    EXPECT_FALSE(fs::exists(other.mountPoint() / "Sync"));

    // The expected volume pulled and something else mounted in its place: nothing goes there.
    const fs::path place = expected->mountPoint();
    expected->unmount();
    ScopedMount stranger({"-t", "tmpfs", "-o", "size=8m", "tmpfs"}, place);
    auto replaced = CopyEngine().copy({first, second}, card(), place / "Sync", options, [] { return false; });
    for (const auto& outcome : replaced.outcomes)
        EXPECT_EQ(outcome.status, FileStatus::failed(CopyEngine::destinationGoneText));
    EXPECT_TRUE(fs::is_empty(place));
    stranger.unmount();

    // The volume pulled after the first file was written: the first is not proven, the
    // second never starts, and the folder left behind on the system disk gets nothing.
    expected->remount();
    auto again = VolumePin::of(expected->mountPoint());
    ASSERT_TRUE(again);
    options.destinationVolume = again;
    auto io = std::make_shared<FaultyIO>();
    io->afterFutimens = [&](int call) {
        if (call == 1) expected->unmountLazily();
    };
    auto pulled = CopyEngine(io).copy({first, second}, card(), place / "Later", options, [] { return false; });
    ASSERT_EQ(pulled.outcomes.size(), 2u);
    for (const auto& outcome : pulled.outcomes)
        EXPECT_EQ(outcome.status, FileStatus::failed(CopyEngine::destinationGoneText));
    EXPECT_TRUE(fs::is_empty(place));
}

}  // namespace
}  // namespace tessaline
