// Every file an erase deletes, as it is when the erase starts, end to end on loop-mounted
// exFAT and ext4 cards: files the scanner passes over (hidden and junk-named folders, junk
// types) must be proven like any other, a card copied whole proves them, OS litter does not
// count, and a file rewritten at the same size after the scan (or while it is read) is never
// vouched for by the gate, its count or the erase worker's last walk.

#include "ScanTestMedia.hpp"

#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ScanRun.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/LoopVolumeSet.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <fcntl.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using testing::TestMedia;
using testing::writeDistinctMedia;
using tessaline::testing::readFile;
using tessaline::testing::writeFile;
using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;
using Kind = VerificationStanding::Kind;

// The files the scanner passes over, none of them on a drive at first.
const std::vector<std::string> passedOver{"DCIM/100MEDIA/MISC/C0002.MP4", "DCIM/.pending/C0003.MP4",
                                          "Footage/THMBNL/A0004.MOV",     "Camera settings.ini",
                                          "Shot list.plist",              "DCIM/takes.db"};

// Rewrites a file in place with bytes of the same length, its modification time a minute on.
void rewriteSameSize(const fs::path& file) {
    std::string bytes = readFile(file);
    ASSERT_FALSE(bytes.empty());
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x5a);
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    std::fstream(file, std::ios::in | std::ios::out | std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    const struct timespec times[2] = {before.st_atim, {before.st_mtim.tv_sec + 60, before.st_mtim.tv_nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// Reads the card's clips through the native reader, calling `during` once, before the first.
class ReaderWithHook : public tessaline::MetadataReader {
public:
    explicit ReaderWithHook(std::function<void()> during) : during_(std::move(during)) {}
    tessaline::Fingerprint fingerprint(const fs::path& url) override {
        if (during_) std::exchange(during_, {})();
        return inner_.fingerprint(url);
    }

private:
    std::function<void()> during_;
    tessaline::NativeMetadataReader inner_;
};

class PassedOverFilesTest : public testing::AppSandboxedTest {
protected:
    struct Setup {
        fs::path card, driveRoot;
        std::string label;
    };

    Setup volumes(const std::string& fsType) {
        Setup setup;
        setup.card = loops.add(fsType, "CARD_" + fsType).mountPoint();
        setup.driveRoot = loops.add("ext4", "BACKUP_" + fsType).mountPoint();
        tessaline::SecurityScopedBookmarkStore(grantsFile()).grant(setup.driveRoot);
        setup.label = tessaline::SecurityScopedBookmarkStore(grantsFile()).grantedVolumeLabels().back();
        return setup;
    }

    fs::path grantsFile() const { return sandbox / "grants.json"; }

    ReportPtr scan(const fs::path& card, const std::string& label, std::function<void()> during = {}) const {
        ScanRun::Environment environment;
        environment.bookmarkStoreURL = grantsFile();
        environment.openCache = [] { return nullptr; };
        environment.fingerprintThreads = 1;
        if (during)
            environment.makeReader = [during] { return std::make_shared<ReaderWithHook>(during); };
        auto outcome = ScanRun::perform({card, {label}, false, false}, environment, {}, {});
        auto* report = std::get_if<ReportPtr>(&outcome);
        EXPECT_TRUE(report) << std::get<ScanFailure>(outcome).message;
        return report ? *report : nullptr;
    }

    // One clip, backed up on the drive.
    static void shootClip(const fs::path& card, const fs::path& driveRoot) {
        writeDistinctMedia(TestMedia::video, card / "PRIVATE/M4ROOT/CLIP/C0001.MP4", 1);
        testing::copyFile(card / "PRIVATE/M4ROOT/CLIP/C0001.MP4", driveRoot / "Shoot/C0001.MP4");
    }

    static std::vector<std::string> onlyOnCard(const tessaline::VerificationReport& report) {
        std::vector<std::string> places;
        for (const auto& file : report.otherFilesOnlyOnCard()) places.push_back(report.placeOnCard(file.url));
        std::sort(places.begin(), places.end());
        return places;
    }

    static void copyWhole(const fs::path& from, const fs::path& to) {
        const std::string command = "cp -a '" + from.string() + "/.' '" + to.string() + "'";
        fs::create_directories(to);
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    std::unique_ptr<CardPrepViewModel> eraser(const fs::path& card) const {
        auto vm = std::make_unique<CardPrepViewModel>(CardPrepViewModel::Dependencies{});
        vm->takeCard(qtPath(card));
        EXPECT_TRUE(waitFor([&] { return !vm->isBusy(); }, 30'000));
        return vm;
    }

    testing::LoopVolumeSet loops;
};

}  // namespace

TEST_F(PassedOverFilesTest, FilesTheScannerPassesOverMustBeOnADriveAndACardCopiedWholeProvesThem) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const Setup setup = volumes(fsType);
        shootClip(setup.card, setup.driveRoot);
        for (size_t i = 0; i < passedOver.size(); ++i) {
            if (passedOver[i].ends_with(".MP4") || passedOver[i].ends_with(".MOV"))
                writeDistinctMedia(TestMedia::video, setup.card / passedOver[i], int(i) + 2);
            else
                writeFile(setup.card / passedOver[i], "settings " + std::to_string(i));
        }

        ReportPtr report = scan(setup.card, setup.label);
        ASSERT_TRUE(report);
        std::vector<std::string> expected = passedOver;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(onlyOnCard(*report), expected);
        EXPECT_FALSE(report->isSafeToErase());
        ASSERT_TRUE(report->cardFiles);
        EXPECT_EQ(report->cardFiles->size(), 7u);

        auto vm = eraser(setup.card);
        const VerificationStanding standing = vm->gate(report);
        EXPECT_EQ(standing.kind, Kind::otherFilesOnlyOnCard);
        EXPECT_EQ(standing.files, 6);
        vm->setConfirmationText(vm->cardName());
        EXPECT_FALSE(vm->runChecked(report));
        for (const auto& file : passedOver) EXPECT_TRUE(fs::exists(setup.card / file)) << file;

        // Copied whole, hidden and junk-named folders and all: every file proves.
        copyWhole(setup.card, setup.driveRoot / "Card copy");
        report = scan(setup.card, setup.label);
        ASSERT_TRUE(report);
        EXPECT_TRUE(onlyOnCard(*report).empty());
        EXPECT_TRUE(report->isSafeToErase());
        EXPECT_TRUE(vm->gate(report).isSafe());
    }
}

TEST_F(PassedOverFilesTest, LitterOperatingSystemsMakeDoesNotCount) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const Setup setup = volumes(fsType);
        shootClip(setup.card, setup.driveRoot);
        for (const char* litter : {".DS_Store", "PRIVATE/M4ROOT/CLIP/._C0001.MP4", "Thumbs.db", ".Trashes/x",
                                   ".Spotlight-V100/y"})
            writeFile(setup.card / litter, "made by a computer");
        const ReportPtr report = scan(setup.card, setup.label);
        ASSERT_TRUE(report);
        EXPECT_TRUE(report->isSafeToErase());
        EXPECT_TRUE(report->otherFiles.empty());
        EXPECT_TRUE(eraser(setup.card)->gate(report).isSafe());
    }
}

TEST_F(PassedOverFilesTest, AFileRewrittenAtTheSameSizeAfterTheScanIsNeverErased) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        for (const std::string changed : {"PRIVATE/M4ROOT/CLIP/C0001.MP4", "NOTES.TXT"}) {
            SCOPED_TRACE(fsType + " " + changed);
            const Setup setup = volumes(fsType);
            shootClip(setup.card, setup.driveRoot);
            writeFile(setup.card / "NOTES.TXT", "Scene 4, take 2 is the keeper.");
            writeFile(setup.driveRoot / "Shoot/NOTES.TXT", "Scene 4, take 2 is the keeper.");
            const ReportPtr report = scan(setup.card, setup.label);
            ASSERT_TRUE(report && report->isSafeToErase());

            // The gate's count taken before the change: safe until it counts again.
            auto vm = eraser(setup.card);
            ASSERT_TRUE(vm->gate(report).isSafe());
            const std::string before = readFile(setup.card / changed);
            rewriteSameSize(setup.card / changed);
            ASSERT_EQ(fs::file_size(setup.card / changed), before.size());

            // The worker's walk just before deleting refuses and names the file.
            CardPrepViewModel stale(CardPrepViewModel::Dependencies{});
            stale.takeCard(qtPath(setup.card));
            vm->setConfirmationText(vm->cardName());
            ASSERT_TRUE(vm->runChecked(report)) << "the count was taken before the change";
            ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }, 30'000));
            ASSERT_TRUE(std::holds_alternative<CardPrepViewModel::Failed>(vm->phase()));
            EXPECT_EQ(std::get<CardPrepViewModel::Failed>(vm->phase()).message, CardPrepViewModel::changedMessage({changed}));
            EXPECT_NE(readFile(setup.card / changed), before);
            EXPECT_TRUE(fs::exists(setup.card / "PRIVATE/M4ROOT/CLIP/C0001.MP4"));
            EXPECT_TRUE(fs::exists(setup.card / "NOTES.TXT"));

            // Counted again, the gate names it; also after an eject and re-insert.
            ASSERT_TRUE(waitFor([&] { return !stale.isBusy(); }, 30'000));
            VerificationStanding standing = stale.gate(report);
            EXPECT_EQ(standing.kind, Kind::changedSinceScan);
            EXPECT_EQ(standing.fileNames, std::vector<std::string>{fs::path(changed).filename().string()});
        }
    }
}

TEST_F(PassedOverFilesTest, AFileChangedBetweenItsRecordAndItsHashIsNotProven) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const Setup setup = volumes("ext4");
    shootClip(setup.card, setup.driveRoot);
    writeFile(setup.card / "NOTES.TXT", "Scene 4, take 2 is the keeper.");
    writeFile(setup.driveRoot / "Shoot/NOTES.TXT", "Scene 4, take 2 is the keeper.");
    // While the clips are read (after the record, before any hash), the note is rewritten at
    // its size on the card and on the drive alike: the bytes agree, the record does not.
    const ReportPtr report = scan(setup.card, setup.label, [&] {
        rewriteSameSize(setup.card / "NOTES.TXT");
        testing::copyFile(setup.card / "NOTES.TXT", setup.driveRoot / "Shoot/NOTES.TXT");
    });
    ASSERT_TRUE(report);
    EXPECT_EQ(onlyOnCard(*report), std::vector<std::string>{"NOTES.TXT"});
    EXPECT_FALSE(report->isSafeToErase());
    EXPECT_EQ(report->confirmed().size(), 1u) << "the clip itself did not change";
}

}  // namespace brindlecove
