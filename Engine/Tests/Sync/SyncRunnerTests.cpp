#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Sync/SyncRunner.hpp"

#include "Copy/FaultyCopyIO.hpp"
#include "Support/CacheDropLoop.hpp"
#include "Support/LitterFiles.hpp"
#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;

namespace {

SyncPair pairTo(const fs::path& destination, std::optional<std::string> subpath = std::nullopt) {
    SyncPair pair;
    pair.id = Uuid::random();
    pair.name = "A cam";
    pair.sourceVolumeLabel = "CARD";
    pair.sourceSubpath = std::move(subpath);
    pair.destinationPath = destination.string();
    return pair;
}

const SettleOptions noSettle{0, 0, 0.5};

class SyncRunnerTest : public SandboxedTest {
protected:
    std::shared_ptr<SecurityScopedBookmarkStore> grants =
        std::make_shared<SecurityScopedBookmarkStore>(sandbox / "bookmarks.json");
    SyncRunner runner{grants};
    std::vector<CopyEngine::Event> events;
    CopyEngine::EventHandler record = [this](const CopyEngine::Event& e) { events.push_back(e); };

    template <class T>
    size_t count() const {
        size_t n = 0;
        for (const auto& e : events) n += std::holds_alternative<T>(e);
        return n;
    }
};

}  // namespace

TEST_F(SyncRunnerTest, CopiesOnlyTheSubfolderPlacedRelativeToItAndRecordsTheRun) {
    fs::path card = sandbox / "card";
    writePatternFile(card / "DCIM/100CANON/IMG_0001.CR3", 300000, 1);
    writePatternFile(card / "DCIM/100CANON/MVI_0002.MP4", 500000, 2);
    writeFile(card / "DCIM/100CANON/MVI_0002.THM", "thumb");
    writeFile(card / "MISC/setup.dat", "not below the subfolder");
    fs::create_directories(sandbox / "backup");

    auto result = runner.run(pairTo(sandbox / "backup/Day1", "DCIM"), card, SyncReport::Trigger::mount, noSettle,
                             {}, record);
    EXPECT_EQ(result.run.sourcePath, (card / "DCIM").string());
    EXPECT_EQ(result.run.destinationPath, (sandbox / "backup/Day1").string());
    EXPECT_EQ(result.run.triggeredBy, SyncReport::Trigger::mount);
    EXPECT_EQ(result.run.fileCount, 3);
    EXPECT_EQ(result.run.newFiles, 3);
    EXPECT_EQ(result.run.failedFiles, 0);
    EXPECT_TRUE(result.run.allVerified);
    EXPECT_EQ(result.run.at, result.log.finishedAt);
    EXPECT_EQ(readFile(sandbox / "backup/Day1/100CANON/MVI_0002.MP4"), readFile(card / "DCIM/100CANON/MVI_0002.MP4"));
    EXPECT_EQ(readFile(sandbox / "backup/Day1/100CANON/MVI_0002.THM"), "thumb");
    EXPECT_FALSE(fs::exists(sandbox / "backup/Day1/MISC"));
    EXPECT_FALSE(fs::exists(sandbox / "backup/Day1/DCIM"));
    EXPECT_EQ(count<CopyEngine::SettlingEvent>(), 0u);  // a quiet period of 0 waits for nothing
    EXPECT_EQ(count<CopyEngine::PlannedEvent>(), 1u);
    EXPECT_EQ(count<CopyEngine::FileFinishedEvent>(), 3u);

    // Run again: everything is already there and proven.
    auto again = runner.run(pairTo(sandbox / "backup/Day1", "DCIM"), card, SyncReport::Trigger::scheduled, noSettle);
    EXPECT_EQ(again.run.newFiles, 0);
    EXPECT_EQ(again.run.existingFiles, 3);
    EXPECT_EQ(again.run.bytesCopied, 800005);
    EXPECT_TRUE(again.run.allVerified);
}

TEST_F(SyncRunnerTest, CopiesEveryFileAnEraseWouldDeleteNotOnlyMediaAndSidecars) {
    fs::path card = sandbox / "card";
    writePatternFile(card / "PRIVATE/M4ROOT/CLIP/C0001.MP4", 40000, 1);
    writeFile(card / "PRIVATE/M4ROOT/CLIP/C0001M01.XML", "<meta/>");
    writeFile(card / "PRIVATE/M4ROOT/THMBNL/C0001T01.JPG", "thumbnail");
    writeFile(card / "PRIVATE/AVCHD/BDMV/INDEX.BDM", "index");
    writeFile(card / "PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", "clip info");
    writeFile(card / "NOTES.TXT", "take 2");
    writeFile(card / ".notes.txt", "hidden note");
    writeFile(card / "MISC/SETTINGS.DAT", "settings");
    writeFile(card / "._C0002.MP4", "not an AppleDouble file");
    writeLitter(card / ".DS_Store");
    writeLitter(card / "PRIVATE/M4ROOT/CLIP/._C0001.MP4");
    writeFile(card / "System Volume Information/IndexerVolumeGuid", "spared");
    fs::create_directories(sandbox / "backup");
    auto result = runner.run(pairTo(sandbox / "backup/A"), card, SyncReport::Trigger::manual, noSettle);
    EXPECT_EQ(result.run.fileCount, 9);
    EXPECT_TRUE(result.run.allVerified);
    for (const std::string name : {"NOTES.TXT", "PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI",
                                   "PRIVATE/M4ROOT/CLIP/C0001M01.XML", "PRIVATE/M4ROOT/THMBNL/C0001T01.JPG",
                                   ".notes.txt", "MISC/SETTINGS.DAT", "._C0002.MP4"})
        EXPECT_EQ(readFile(sandbox / "backup/A" / name), readFile(card / name)) << name;
    EXPECT_FALSE(fs::exists(sandbox / "backup/A/.DS_Store"));
    EXPECT_FALSE(fs::exists(sandbox / "backup/A/PRIVATE/M4ROOT/CLIP/._C0001.MP4"));
    EXPECT_FALSE(fs::exists(sandbox / "backup/A/System Volume Information"));

    // A folder of the card: its part of the set. The system items are the card root's, so a
    // folder of such a name further down is copied like any other.
    writeFile(card / "PRIVATE/lost+found/RECOVERED.BIN", "recovered");
    auto below = runner.run(pairTo(sandbox / "backup/B", "PRIVATE"), card, SyncReport::Trigger::manual, noSettle);
    EXPECT_EQ(below.run.fileCount, 6);
    EXPECT_TRUE(below.run.allVerified);
    EXPECT_EQ(readFile(sandbox / "backup/B/lost+found/RECOVERED.BIN"), "recovered");
    EXPECT_EQ(readFile(sandbox / "backup/B/M4ROOT/THMBNL/C0001T01.JPG"), "thumbnail");
    EXPECT_FALSE(fs::exists(sandbox / "backup/B/M4ROOT/CLIP/._C0001.MP4"));
}

// A sync onto a FUSE exFAT drive while the kernel forgets its entries (the drive numbers its
// files afresh): every file proven, and the history records it so; run again, all present.
TEST_F(SyncRunnerTest, ASyncOntoExfatIsProvenWhileTheKernelForgetsItsFiles) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("exfat", 96, "SHUTTLE");
    const fs::path card = sandbox / "card";
    for (int i = 0; i < 150; ++i)
        writePatternFile(card / "DCIM/100CANON" / ("IMG_" + std::to_string(1000 + i) + ".CR3"), 20'000, i);
    writePatternFile(card / "DCIM/100CANON/MVI_0001.MP4", 12 << 20, 1);
    writePatternFile(card / "DCIM/100CANON/MVI_0002.MP4", 12 << 20, 2);
    auto io = std::make_shared<FaultyIO>();
    // Besides the loop, a drop as every 10th proven copy takes its name.
    int renames = 0;
    io->beforeRename = [&](const char*, const char*) {
        if (++renames % 10 == 0) CacheDropLoop::dropNow();
    };
    SyncRunner dropping{grants, CopyEngine(io)};
    for (const bool again : {false, true}) {
        SCOPED_TRACE(again ? "again" : "first");
        CacheDropLoop drops;
        auto result = dropping.run(pairTo(drive.mountPoint() / "Day1"), card, SyncReport::Trigger::mount, noSettle);
        EXPECT_EQ(result.run.fileCount, 152);
        EXPECT_EQ(result.run.newFiles, again ? 0 : 152);
        EXPECT_EQ(result.run.existingFiles, again ? 152 : 0);
        EXPECT_EQ(result.run.failedFiles, 0);
        EXPECT_TRUE(result.run.allVerified);
        for (const auto& note : result.log.cardFileNotes)
            ADD_FAILURE() << "card file note: " << note.relativePath << " " << note.reason << " " << note.storedAs;
    }
    EXPECT_EQ(readFile(drive.mountPoint() / "Day1/DCIM/100CANON/MVI_0002.MP4"),
              readFile(card / "DCIM/100CANON/MVI_0002.MP4"));
}

// A sync from a FUSE exFAT card onto a drive that holds every file, run again and again while
// the kernel forgets everything every 50 ms (the card numbers its files afresh while their
// copies on the drive are read): every file already there, nothing new, nothing failed.
TEST_F(SyncRunnerTest, ASecondSyncFromARenumberingCardFindsEveryFilePresent) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("exfat", 96, "CARD");
    LoopVolume drive("ext4", 96, "SHUTTLE");
    for (int i = 0; i < 150; ++i)
        writePatternFile(card.mountPoint() / "DCIM/100CANON" / ("IMG_" + std::to_string(1000 + i) + ".CR3"),
                         20'000 + i, i);
    for (int i = 1; i <= 6; ++i)
        writePatternFile(card.mountPoint() / "PRIVATE/CLIP" / ("C000" + std::to_string(i) + ".MP4"), 6 << 20, i);
    const SyncPair pair = pairTo(drive.mountPoint() / "Day1");
    const auto first = runner.run(pair, card.mountPoint(), SyncReport::Trigger::mount, noSettle);
    ASSERT_EQ(first.run.newFiles, 156);
    ASSERT_TRUE(first.run.allVerified);
    auto filesOnDrive = [&] {
        size_t count = 0;
        for (auto& entry : fs::recursive_directory_iterator(drive.mountPoint() / "Day1"))
            count += entry.is_regular_file();
        return count;
    };
    const size_t onDrive = filesOnDrive();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        CacheDropLoop drops(std::chrono::milliseconds(50), std::chrono::seconds(120), 3);
        const auto again = runner.run(pair, card.mountPoint(), SyncReport::Trigger::mount, noSettle);
        EXPECT_EQ(again.run.fileCount, 156);
        EXPECT_EQ(again.run.newFiles, 0);
        EXPECT_EQ(again.run.existingFiles, 156);
        EXPECT_EQ(again.run.failedFiles, 0);
        EXPECT_TRUE(again.run.allVerified);
        for (const auto& note : again.log.cardFileNotes)
            ADD_FAILURE() << "card file note: " << note.relativePath << " " << note.reason;
        EXPECT_EQ(filesOnDrive(), onDrive) << "files written again under new names";
    }
}

TEST_F(SyncRunnerTest, ADisconnectedDestinationFailsBeforeAnythingHappens) {
    fs::path card = sandbox / "card";
    writeFile(card / "A001.MOV", "clip");
    fs::path destination = sandbox / "gone/Footage/Day1";
    try {
        runner.run(pairTo(destination), card, SyncReport::Trigger::mount, SettleOptions{2, 10, 0.5}, {}, record);
        FAIL() << "ran without a destination";
    } catch (const SyncRunner::SyncError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "The destination drive for " + destination.string() + " isn't connected — plug it in and re-run.");
        EXPECT_EQ(e.path(), destination.string());
    }
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(fs::exists(sandbox / "gone"));
}

TEST_F(SyncRunnerTest, ASubfolderOutsideTheSourceIsRefusedAsAFailedRun) {
    writeFile(sandbox / "card/A001.MOV", "clip");
    writeFile(sandbox / "secret/key", "private");
    fs::create_directories(sandbox / "backup");
    for (const char* hostile : {"../secret", "/etc", "DCIM/../../secret"}) {
        SCOPED_TRACE(hostile);
        auto result = runner.run(pairTo(sandbox / "backup", hostile), sandbox / "card", SyncReport::Trigger::manual,
                                 noSettle, {}, record);
        const std::string folder = (sandbox / "card" / hostile).string();
        EXPECT_EQ(result.failure, "The source folder " + folder + " lies outside the card, so nothing was copied.");
        EXPECT_EQ(result.run.sourcePath, folder);
        EXPECT_EQ(result.run.failedFiles, 1);
        EXPECT_FALSE(result.run.allVerified);
    }
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(fs::is_empty(sandbox / "backup"));
}

TEST_F(SyncRunnerTest, AStopInsideAFileCutsItOffAndTheRunIsStopped) {
    // The clip comes first in copy order, so its progress is live (a later file of a batch is
    // written ahead with its events held back).
    writePatternFile(sandbox / "card/DCIM/A001.MOV", 40 << 20, 2);  // five chunks
    writeFile(sandbox / "card/DCIM/A002.JPG", "still");
    fs::create_directories(sandbox / "backup");
    bool stop = false;
    auto result = runner.run(pairTo(sandbox / "backup/Day1"), sandbox / "card", SyncReport::Trigger::mount, noSettle,
                             [&] { return stop; },
                             [&](const CopyEngine::Event& event) {
                                 events.push_back(event);
                                 if (auto* e = std::get_if<CopyEngine::FileProgressEvent>(&event))
                                     stop = stop || e->bytesCopiedThisFile >= (8 << 20);
                             });
    EXPECT_TRUE(result.log.wasCancelled);
    EXPECT_EQ(result.log.plannedFileCount, 2);
    EXPECT_TRUE(result.log.outcomes.empty());
    EXPECT_FALSE(result.run.allVerified);
    EXPECT_EQ(count<CopyEngine::FileProgressEvent>(), 1u);
    EXPECT_EQ(count<CopyEngine::FileFinishedEvent>(), 0u);
    EXPECT_EQ(count<CopyEngine::CancelledEvent>(), 1u);
    EXPECT_FALSE(fs::exists(sandbox / "backup/Day1/DCIM/A001.MOV"));
    for (const auto& entry : fs::recursive_directory_iterator(sandbox / "backup"))
        EXPECT_FALSE(entry.path().filename().native().ends_with(".part")) << entry.path();
}

TEST_F(SyncRunnerTest, AStopDuringTheSettleWaitCopiesNothingAndIsNotVerified) {
    writeFile(sandbox / "card/A001.MOV", "clip");
    fs::create_directories(sandbox / "backup");
    auto result = runner.run(pairTo(sandbox / "backup"), sandbox / "card", SyncReport::Trigger::mount,
                             SettleOptions{30, 60, 0.5}, [] { return true; }, record);
    EXPECT_TRUE(result.log.wasCancelled);
    EXPECT_TRUE(result.log.outcomes.empty());
    EXPECT_EQ(result.log.plannedFileCount, 0);
    EXPECT_EQ(result.log.plannedBytes, 0);
    EXPECT_FALSE(result.run.allVerified);
    EXPECT_EQ(result.run.fileCount, 0);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<CopyEngine::CancelledEvent>(events[0]));
    EXPECT_TRUE(fs::is_empty(sandbox / "backup"));
}

TEST_F(SyncRunnerTest, AGrantedDestinationIsOpenedAndADifferentDriveWithItsNameIsRefused) {
    TESSALINE_REQUIRE_ROOT();
    std::string label = "BCGRANT" + std::to_string(::getpid() % 100000);
    LoopVolume drive("ext4", 32, label);
    grants->grant(drive.mountPoint());
    writeFile(sandbox / "card/A001.MOV", "clip one");
    SyncPair pair = pairTo(drive.mountPoint() / "Footage");
    auto result = runner.run(pair, sandbox / "card", SyncReport::Trigger::mount, noSettle);
    EXPECT_TRUE(result.run.allVerified);
    EXPECT_EQ(readFile(drive.mountPoint() / "Footage/A001.MOV"), "clip one");

    // Another drive formatted with the same name now sits at the same place: the grant's
    // file system is gone, so the run must not write onto the stranger.
    drive.unmount();
    auto format = runCommand({"mkfs.ext4", "-q", "-F", "-L", label, drive.device()});
    ASSERT_EQ(format.exitCode, 0) << format.output;
    drive.remount();
    EXPECT_THROW(runner.run(pair, sandbox / "card", SyncReport::Trigger::mount, noSettle), BookmarkError);
    EXPECT_FALSE(fs::exists(drive.mountPoint() / "Footage"));
}

TEST_F(SyncRunnerTest, ADriveBearingTheGrantedNameIsRefusedWhileTheGrantedOneIsMountedElsewhere) {
    TESSALINE_REQUIRE_ROOT();
    std::string label = "BCIMPOST" + std::to_string(::getpid() % 100000);
    LoopVolume grantedDrive("ext4", 32, label);
    LoopVolume impostor("ext4", 32, label);
    grants->grant(grantedDrive.mountPoint());
    writeFile(sandbox / "card/A001.MOV", "clip one");
    SyncPair pair = pairTo(impostor.mountPoint() / "Footage");
    try {
        runner.run(pair, sandbox / "card", SyncReport::Trigger::mount, SettleOptions{2, 10, 0.5}, {}, record);
        FAIL() << "copied onto a drive that only bears the granted name";
    } catch (const SyncRunner::SyncError& e) {
        EXPECT_EQ(e.kind(), SyncRunner::SyncError::Kind::notTheGrantedDrive);
        EXPECT_EQ(std::string(e.what()), "The drive at " + pair.destinationPath + " is not the granted “" + label +
                                             "” — connect the right drive and re-run.");
    }
    EXPECT_TRUE(events.empty());  // refused before the settle wait
    EXPECT_FALSE(fs::exists(impostor.mountPoint() / "Footage"));
    EXPECT_FALSE(fs::exists(grantedDrive.mountPoint() / "Footage"));

    // The granted drive at the pair's path is accepted.
    auto result = runner.run(pairTo(grantedDrive.mountPoint() / "Footage"), sandbox / "card",
                             SyncReport::Trigger::mount, noSettle);
    EXPECT_TRUE(result.run.allVerified);
    EXPECT_EQ(readFile(grantedDrive.mountPoint() / "Footage/A001.MOV"), "clip one");
}

TEST_F(SyncRunnerTest, ADestinationDrivePulledDuringTheSettleWaitReceivesNothingAndNothingLandsOnTheSystemDisk) {
    TESSALINE_REQUIRE_ROOT();
    std::string label = "BCPULL" + std::to_string(::getpid() % 100000);
    LoopVolume drive("ext4", 32, label);
    for (int i = 0; i < 3; ++i) writePatternFile(sandbox / ("card/DCIM/C000" + std::to_string(i) + ".MP4"), 100'000, i);
    SyncPair pair = pairTo(drive.mountPoint() / "Footage");
    bool pulled = false;
    auto result = runner.run(pair, sandbox / "card", SyncReport::Trigger::mount, SettleOptions{1, 10, 0.2}, {},
                             [&](const CopyEngine::Event& e) {
                                 events.push_back(e);
                                 if (!pulled && std::holds_alternative<CopyEngine::SettlingEvent>(e)) {
                                     drive.unmount();  // the empty mount folder stays behind
                                     pulled = true;
                                 }
                             });
    ASSERT_TRUE(pulled);
    EXPECT_TRUE(fs::is_empty(drive.mountPoint())) << "the copy fell through onto the system disk";
    EXPECT_FALSE(result.run.allVerified);
    EXPECT_EQ(result.run.newFiles, 0);
    EXPECT_EQ(result.run.failedFiles, 3);
    for (const auto& outcome : result.log.outcomes) {
        EXPECT_EQ(outcome.status.kind, CopyEngine::FileStatus::Kind::failed);
        EXPECT_EQ(outcome.status.reason, std::string(CopyEngine::destinationGoneText));
    }
}

// A destination that is a folder of the source card bound elsewhere is the card by its place
// in the card's file system, however its path reads: the run is refused before anything is
// written. A folder of the card beside the pair's source folder is another folder.
TEST_F(SyncRunnerTest, ADestinationBoundFromAFolderOfTheSourceCardIsRefused) {
    TESSALINE_REQUIRE_ROOT();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD");
        const fs::path root = card.mountPoint();
        writePatternFile(root / "DCIM/100CANON/MVI_0001.MOV", 60'000, 1);
        fs::create_directories(root / "DCIM/backup");
        fs::create_directories(root / "PRIVATE/backup");
        ScopedMount inSource({"--bind", (root / "DCIM/backup").string()}, sandbox / fsType / "bound");
        ScopedMount besideSource({"--bind", (root / "PRIVATE/backup").string()}, sandbox / fsType / "beside");

        for (const auto& subpath : {std::optional<std::string>(), std::optional<std::string>("DCIM")}) {
            try {
                // Refused before the settle wait: no event at all.
                auto result = runner.run(pairTo(inSource.target() / "Day1", subpath), root, SyncReport::Trigger::mount,
                                         SettleOptions{2, 10, 0.5}, {}, record);
                ADD_FAILURE() << "synced the card onto itself, all verified: " << result.run.allVerified;
            } catch (const CopyError& e) {
                EXPECT_EQ(e.kind(), CopyError::Kind::destinationInsideSource);
            }
        }
        EXPECT_TRUE(fs::is_empty(root / "DCIM/backup"));
        EXPECT_TRUE(events.empty());

        auto result = runner.run(pairTo(besideSource.target() / "Day1", "DCIM"), root, SyncReport::Trigger::mount,
                                 noSettle);
        EXPECT_TRUE(result.run.allVerified);
        EXPECT_EQ(readFile(root / "PRIVATE/backup/Day1/100CANON/MVI_0001.MOV"),
                  readFile(root / "DCIM/100CANON/MVI_0001.MOV"));
    }
}

// A card whose folders lead off it (a link planted on the card, another drive mounted on a
// folder of it) never has a sync read what they lead to: the run copies nothing and counts
// as a failed run. Links inside the folder copied stay unfollowed, as the scan has them.
TEST_F(SyncRunnerTest, ASourceFolderLeadingOffTheCardIsNeverReadAndTheRunFails) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, "CARD");
    const fs::path root = card.mountPoint();
    writePatternFile(sandbox / "home/Documents/tax.MOV", 50'000, 9);
    writePatternFile(root / "PRIVATE/M4ROOT/CLIP/C0001.MP4", 60'000, 1);
    fs::create_directory_symlink(sandbox / "home", root / "DCIM");
    fs::create_directory_symlink(sandbox / "home", root / "PRIVATE/M4ROOT/THMBNL");
    fs::create_directories(sandbox / "mounted");
    writePatternFile(sandbox / "mounted/stranger.MOV", 40'000, 8);
    ScopedMount other({"--bind", (sandbox / "mounted").string()}, root / "AVF_INFO");
    fs::create_directories(sandbox / "backup");

    struct Case {
        std::string subpath;
        std::string why;
    };
    for (const Case& c : {Case{"DCIM", "leads off the card through a link"},
                          Case{"DCIM/Documents", "leads off the card through a link"},
                          Case{"PRIVATE/M4ROOT/THMBNL", "leads off the card through a link"},
                          Case{"AVF_INFO", "is on another drive than the card"}}) {
        SCOPED_TRACE(c.subpath);
        events.clear();
        auto result = runner.run(pairTo(sandbox / "backup/Day1", c.subpath), root, SyncReport::Trigger::mount,
                                 SettleOptions{2, 10, 0.5}, {}, record);
        const fs::path folder = root / c.subpath;
        EXPECT_EQ(result.failure, "The source folder " + folder.string() + " " + c.why + ", so nothing was copied.");
        EXPECT_TRUE(events.empty());  // not even the settle wait looked at it
        EXPECT_FALSE(fs::exists(sandbox / "backup/Day1"));
        EXPECT_EQ(result.run.sourcePath, folder.string());
        EXPECT_EQ(result.run.fileCount, 1);
        EXPECT_EQ(result.run.failedFiles, 1);
        EXPECT_EQ(result.run.newFiles, 0);
        EXPECT_FALSE(result.run.allVerified);
        ASSERT_EQ(result.log.outcomes.size(), 1u);
        EXPECT_EQ(result.log.outcomes[0].status, CopyEngine::FileStatus::failed(*result.failure));
    }

    // The whole card, and a real folder of it, copy as always; the links inside are not followed.
    for (const auto& subpath : {std::optional<std::string>(), std::optional<std::string>("PRIVATE")}) {
        auto result = runner.run(pairTo(sandbox / "backup/Whole", subpath), root, SyncReport::Trigger::mount, noSettle);
        EXPECT_FALSE(result.failure);
        EXPECT_TRUE(result.run.allVerified);
    }
    EXPECT_EQ(readFile(sandbox / "backup/Whole/PRIVATE/M4ROOT/CLIP/C0001.MP4"),
              readFile(root / "PRIVATE/M4ROOT/CLIP/C0001.MP4"));
    for (auto& entry : fs::recursive_directory_iterator(sandbox / "backup"))
        EXPECT_NE(entry.path().filename(), "tax.MOV") << entry.path();
}

// The folder is looked at again once the card has settled: a link put in its place while the
// run waited is refused the same way, before the scan.
TEST_F(SyncRunnerTest, ALinkPutInPlaceDuringTheSettleWaitIsRefusedBeforeTheScan) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, "CARD");
    const fs::path root = card.mountPoint();
    writePatternFile(root / "DCIM/100CANON/IMG_0001.CR3", 40'000, 1);
    writePatternFile(sandbox / "home/tax.MOV", 30'000, 2);
    fs::create_directories(sandbox / "backup");
    bool swapped = false;
    auto result = runner.run(pairTo(sandbox / "backup/Day1", "DCIM"), root, SyncReport::Trigger::mount,
                             SettleOptions{0.5, 10, 0.1}, {}, [&](const CopyEngine::Event& e) {
                                 events.push_back(e);
                                 if (!swapped && std::holds_alternative<CopyEngine::SettlingEvent>(e)) {
                                     fs::rename(root / "DCIM", root / "OLD");
                                     fs::create_directory_symlink(sandbox / "home", root / "DCIM");
                                     swapped = true;
                                 }
                             });
    ASSERT_TRUE(swapped);
    EXPECT_EQ(result.failure, "The source folder " + (root / "DCIM").string() +
                                  " leads off the card through a link, so nothing was copied.");
    EXPECT_EQ(count<CopyEngine::PlannedEvent>(), 0u);
    EXPECT_FALSE(fs::exists(sandbox / "backup/Day1"));
    EXPECT_EQ(result.run.failedFiles, 1);
}
