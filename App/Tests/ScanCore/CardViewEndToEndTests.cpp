// Second views of a card's own bytes, end to end on loop-mounted ext4, FUSE exFAT and btrfs
// cards: a read-only loop device over the card's device mounted into a granted drive folder
// through a node made outside /dev, the same view granted as a drive of its own, a loop over
// the loop of an image kept in a spared folder of the card, an image kept in a btrfs card's
// subvolume, a loop over a btrfs card's device at the space of a preallocated file, an image
// attached through an overlay of a card folder, a FUSE driver of a FAT image kept on the
// card, erofs mounted straight from an image file on the card (however its source is named),
// erofs reading a blob device on the card, and a FUSE driver that holds only a log or names a
// drive file. The scan names every copy there as not counted with its reason (on screen, in the
// text, PDF and JSON reports), the erase gate and the erase worker refuse, nothing is deleted,
// and a copy into such a view is refused with that reason. The same images kept on the drive
// prove the card.

#include "GrantedDriveScan.hpp"
#include "ScanTestMedia.hpp"

#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/CardViews.hpp"
#include "Support/EraseFixtures.hpp"
#include "Support/LoopVolumeSet.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Copy/CopyError.hpp"
#include "Tessaline/Report/ReportExporter.hpp"
#include "Tessaline/Support/PathText.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using testing::TestMedia;
using testing::writeDistinctMedia;
using tessaline::ProofGround;
using tessaline::testing::writeFile;
using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;

const std::vector<std::string> cardFiles{"PRIVATE/M4ROOT/CLIP/C0001.MP4", "NOTES.TXT"};

class CardViewEndToEndTest : public testing::AppSandboxedTest {
protected:
    fs::path grantsFile() const { return sandbox / "grants.json"; }

    std::string grant(const fs::path& root) const {
        tessaline::SecurityScopedBookmarkStore(grantsFile()).grant(root);
        return tessaline::SecurityScopedBookmarkStore(grantsFile()).grantedVolumeLabels().back();
    }

    static void shoot(const fs::path& card) {
        writeDistinctMedia(TestMedia::video, card / cardFiles[0], 1);
        writeFile(card / cardFiles[1], "Scene 4, take 2 is the keeper.");
        ::sync();
    }

    // Scans `card` against the drive granted as `label`: nothing proven, and the card's files
    // seen at `view`, the clip and the note, named as not counted for `doubt`, in every form
    // of the report.
    ReportPtr expectNothingProven(const fs::path& card, const std::string& label, const fs::path& view,
                                  ProofGround::Doubt doubt, const QString& where) {
        ReportPtr report = testing::scanAgainstGrantedDrive(card, label, grantsFile());
        if (!report) return report;
        EXPECT_FALSE(report->isSafeToErase());
        EXPECT_EQ(report->missing().size(), 1u);
        EXPECT_EQ(report->otherFilesOnlyOnCard().size(), 1u);
        EXPECT_FALSE(report->drivePaths.empty());
        std::vector<fs::path> named;
        for (const auto& copy : report->uncountedCopies) {
            EXPECT_EQ(copy.doubt, doubt) << copy.path;
            EXPECT_TRUE(tessaline::isSameOrBelow(copy.path, view)) << copy.path;
            named.push_back(copy.path);
        }
        for (const std::string& file : cardFiles)
            EXPECT_NE(std::find(named.begin(), named.end(), view / file), named.end()) << file;
        const std::string reason = ProofGround::reasonText(doubt);
        EXPECT_NE(report->summary().find("not counted  " + (view / cardFiles[1]).string() + "  \u2014 " + reason),
                  std::string::npos);
        EXPECT_NE(tessaline::ReportExporter::json(*report).find("\"reason\": \"" + ProofGround::reasonKey(doubt) + "\""),
                  std::string::npos);
        const fs::path pdf = sandbox / "report.pdf";
        const std::string bytes = tessaline::ReportExporter::pdf(*report);
        std::ofstream(pdf, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        EXPECT_NE(tessaline::testing::pdfText(pdf).find("not counted"), std::string::npos);
        const QStringList lines = ReportTexts::uncountedLines(*report);
        EXPECT_EQ(lines.size(), static_cast<qsizetype>(report->uncountedCopies.size()));
        for (const std::string& file : cardFiles)
            EXPECT_TRUE(lines.contains(where + QStringLiteral(": ") + qtPath(view / file))) << lines.join('\n').toStdString();
        return report;
    }

    // The gate and the erase worker both refuse, and the card keeps its files; a report that
    // took the files at `view` for proof is not called safe either.
    void expectNotErased(const fs::path& card, const ReportPtr& report, const fs::path& view) {
        CardPrepViewModel vm(CardPrepViewModel::Dependencies{});
        vm.takeCard(qtPath(card));
        ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }, 30'000));
        EXPECT_FALSE(testing::verdictOf(vm, report).isSafe());
        vm.setConfirmationText(vm.cardName());
        EXPECT_FALSE(vm.runChecked(report));
        std::vector<tessaline::MatchResult> results = report->results;
        for (auto& result : results) result.status = tessaline::MatchStatus::confirmed(view / cardFiles[0]);
        std::vector<tessaline::OtherFile> others = report->otherFiles;
        for (auto& other : others) other.provenAt = view / cardFiles[1];
        const auto forged = std::make_shared<const tessaline::VerificationReport>(
            card, report->drivePaths, report->generatedAt, std::move(results), std::nullopt, std::vector<fs::path>{},
            std::move(others), report->cardFiles, report->cardFilesMount);
        ASSERT_TRUE(forged->isSafeToErase());
        EXPECT_FALSE(vm.gate(forged).isSafe());
        for (const std::string& file : cardFiles) EXPECT_TRUE(fs::exists(card / file)) << file;
    }

    // The Copy section's copy of `card` into `destination`: its failure message, "" when it copied.
    QString copyFailure(const fs::path& card, const fs::path& destination) {
        CopyViewModel::Dependencies dependencies;
        std::vector<fs::path> answers{card, destination};
        dependencies.dialogs.chooseFolder = [answers, n = 0](const FolderRequest&) mutable {
            return std::optional<QString>(qtPath(answers.at(static_cast<size_t>(n++))));
        };
        dependencies.settle = {0.05, 10, 0.02};
        dependencies.archive = [](const tessaline::TransferLog&) { return std::optional<QString>(); };
        CopyViewModel model(std::move(dependencies));
        model.pickCard();
        model.pickDestination();
        model.start();
        EXPECT_TRUE(waitFor([&] { return !model.isRunning(); }, 120'000));
        EXPECT_FALSE(model.lastLog());
        const auto* failed = std::get_if<CopyViewModel::FailedPhase>(&model.phase());
        return failed ? failed->message : QString();
    }

    // The control: the card proven by the copies at `view`, which the report counts.
    void expectProven(const fs::path& card, const std::string& label, const fs::path& view) {
        ReportPtr report = testing::scanAgainstGrantedDrive(card, label, grantsFile());
        ASSERT_TRUE(report);
        EXPECT_TRUE(report->isSafeToErase()) << report->summary();
        EXPECT_TRUE(report->uncountedCopies.empty());
        ASSERT_FALSE(report->otherFiles.empty());
        for (const auto& other : report->otherFiles)
            EXPECT_TRUE(other.provenAt && tessaline::isSameOrBelow(*other.provenAt, view)) << other.url;
    }

    // The whole proof of a view: nothing proven, nothing erased, no copy taken into it.
    void expectViewRefused(const fs::path& card, const std::string& label, const fs::path& view,
                           ProofGround::Doubt doubt, const QString& where) {
        ReportPtr report = expectNothingProven(card, label, view, doubt, where);
        ASSERT_TRUE(report);
        expectNotErased(card, report, view);
        EXPECT_EQ(copyFailure(card, view / "Copy"),
                  QString::fromStdString(tessaline::CopyError::destinationOnCardText(doubt)));
    }

    // The card's files with their bytes, by their paths on the card.
    static std::vector<std::pair<fs::path, std::string>> copiesOf(const fs::path& card) {
        std::vector<std::pair<fs::path, std::string>> copies;
        for (const std::string& file : cardFiles) copies.emplace_back(file, tessaline::testing::readFile(card / file));
        return copies;
    }

    testing::LoopVolumeSet loops;
};

}  // namespace

TEST_F(CardViewEndToEndTest, AViewOfTheCardsOwnDeviceProvesNothingErasesNothingAndTakesNoCopy) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        tessaline::testing::LoopVolume& card = loops.add(fsType, "CARD_" + fsType);
        const fs::path driveRoot = loops.add("ext4", "BACKUP_" + fsType).mountPoint();
        const std::string label = grant(driveRoot);
        shoot(card.mountPoint());

        // Read-only, through a node made outside /dev, into a folder of the granted drive.
        tessaline::testing::ReadOnlyLoop overCard(card.device());
        auto view = tessaline::testing::mountReadOnly(
            fsType, tessaline::testing::nodeOutsideDev(overCard.device(), sandbox / fsType / "nodes/view"),
            driveRoot / "View");
        ASSERT_TRUE(fs::exists(view->target() / cardFiles[0]));
        ReportPtr report = expectNothingProven(card.mountPoint(), label, view->target(), ProofGround::Doubt::viewOfCard,
                                               QStringLiteral("On a second view of the card"));
        ASSERT_TRUE(report);
        expectNotErased(card.mountPoint(), report, view->target());
        EXPECT_EQ(copyFailure(card.mountPoint(), view->target() / "Copy"),
                  QString::fromStdString(tessaline::CopyError::destinationOnCardText(ProofGround::Doubt::viewOfCard)));

        // The view granted as a drive of its own: the grant, kept by the file system's UUID,
        // leads to the card itself, which is no drive.
        report = testing::scanAgainstGrantedDrive(card.mountPoint(), grant(view->target()), grantsFile());
        ASSERT_TRUE(report);
        EXPECT_TRUE(report->drivePaths.empty());
        EXPECT_FALSE(report->isSafeToErase());
        expectNotErased(card.mountPoint(), report, view->target());
    }
}

TEST_F(CardViewEndToEndTest, ALoopOverTheLoopOfAnImageKeptOnTheCardProvesNothing) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        const fs::path card = loops.add(fsType, "CARD_" + fsType).mountPoint();
        const fs::path driveRoot = loops.add("ext4", "BACKUP_" + fsType).mountPoint();
        const std::string label = grant(driveRoot);
        shoot(card);
        // An image of the card in a spared folder, which the erase neither proves nor deletes.
        fs::create_directories(card / "System Volume Information");
        tessaline::testing::LoopVolume image("ext4", 16, "IMAGE", true, card / "System Volume Information/card.img");
        for (const std::string& file : cardFiles) testing::copyFile(card / file, image.mountPoint() / file);
        ::sync();
        tessaline::testing::ReadOnlyLoop outer(image.device());
        auto view = tessaline::testing::mountReadOnly("ext4", outer.device(), driveRoot / "Image");

        ReportPtr report = expectNothingProven(card, label, view->target(), ProofGround::Doubt::imageOnCard,
                                                QStringLiteral("In a disk image on the card"));
        ASSERT_TRUE(report);
        expectNotErased(card, report, view->target());
        EXPECT_EQ(copyFailure(card, image.mountPoint() / "Copy"),
                  QString::fromStdString(tessaline::CopyError::destinationOnCardText(ProofGround::Doubt::imageOnCard)));
    }
}

TEST_F(CardViewEndToEndTest, AnImageKeptInABtrfsCardsSubvolumeOrItsSpaceProvesNothing) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    if (!tessaline::testing::haveProgram("mkfs.btrfs")) GTEST_SKIP() << "mkfs.btrfs is not installed";
    tessaline::testing::LoopVolume& cardVolume = loops.add("btrfs", "CARD_btrfs", 256);
    const fs::path card = cardVolume.mountPoint();
    const fs::path driveRoot = loops.add("ext4", "BACKUP_btrfs").mountPoint();
    const std::string label = grant(driveRoot);
    shoot(card);
    const fs::path spared = card / "System Volume Information";
    tessaline::testing::makeBtrfsSubvolume(spared);
    {
        // An ext4 image with the card's files, kept in the card's subvolume, mounted into the drive.
        tessaline::testing::LoopVolume image("ext4", 16, "IMAGE", true, spared / "card.img");
        for (const std::string& file : cardFiles) testing::copyFile(card / file, image.mountPoint() / file);
        ::sync();
        tessaline::testing::ScopedMount view({"-t", "ext4", image.device()}, driveRoot / "Image");
        expectViewRefused(card, label, view.target(), ProofGround::Doubt::imageOnCard,
                          QStringLiteral("In a disk image on the card"));
    }
    {
        // The space of a file preallocated on the card, formatted through a loop over the card's
        // own device at its offset, with the card's files copied in, then mounted into the drive.
        const uint64_t bytes = 24 << 20;
        const uint64_t start = tessaline::testing::preallocatedSpace(spared / "space", bytes);
        {
            tessaline::testing::WritableLoop space(cardVolume.device(), start, bytes);
            ASSERT_EQ(tessaline::testing::runCommand({"mkfs.ext4", "-q", space.device()}).exitCode, 0);
            tessaline::testing::ScopedMount written({"-t", "ext4", space.device()}, sandbox / "space");
            for (const std::string& file : cardFiles) testing::copyFile(card / file, written.target() / file);
        }
        tessaline::testing::ReadOnlyLoop overSpace(cardVolume.device(), start, bytes);
        auto view = tessaline::testing::mountReadOnly("ext4", overSpace.device(), driveRoot / "Space");
        ASSERT_TRUE(fs::exists(view->target() / cardFiles[0]));
        expectViewRefused(card, label, view->target(), ProofGround::Doubt::viewOfCard,
                          QStringLiteral("On a second view of the card"));
    }
    // Control: the same image kept on the drive proves the card.
    tessaline::testing::LoopVolume image("ext4", 16, "IMAGE", true, driveRoot / "drive.img");
    for (const std::string& file : cardFiles) testing::copyFile(card / file, image.mountPoint() / file);
    ::sync();
    tessaline::testing::ScopedMount view({"-t", "ext4", image.device()}, driveRoot / "Image");
    expectProven(card, label, view.target());
}

TEST_F(CardViewEndToEndTest, AnImageAttachedThroughAnOverlayOfACardFolderProvesNothing) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const auto [card, driveRoot, label] = testing::cardAndGrantedDrive(loops, "ext4", grantsFile());
    shoot(card);
    fs::create_directories(sandbox / "empty");
    for (const fs::path& kept : {card / "System Volume Information", driveRoot / "Images"}) {
        SCOPED_TRACE(kept.native());
        fs::create_directories(kept);
        {
            tessaline::testing::LoopVolume image("ext4", 16, "IMAGE", true, kept / "card.img");
            for (const std::string& file : cardFiles) testing::copyFile(card / file, image.mountPoint() / file);
        }
        tessaline::testing::ScopedMount overlay(
            {"-t", "overlay", "overlay", "-o", "lowerdir=" + kept.string() + ":" + (sandbox / "empty").string()},
            sandbox / "overlay");
        const bool onCard = kept.parent_path() == card;
        // Through the overlay, an image whose file lies on the overlay: never counted. Attached
        // from where it is kept, on the drive: it proves the card.
        tessaline::testing::ReadOnlyLoop loop(((onCard ? overlay.target() : kept) / "card.img").string());
        auto view = tessaline::testing::mountReadOnly("ext4", loop.device(), driveRoot / "Image");
        if (onCard)
            expectViewRefused(card, label, view->target(), ProofGround::Doubt::overlay, QStringLiteral("On an overlay"));
        else
            expectProven(card, label, view->target());
    }
}

TEST_F(CardViewEndToEndTest, AFuseDriverOfAnImageKeptOnTheCardProvesNothing) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    if (!tessaline::testing::haveProgram("fusefat")) GTEST_SKIP() << "fusefat is not installed";
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        const auto [card, driveRoot, label] = testing::cardAndGrantedDrive(loops, fsType, grantsFile());
        shoot(card);
        fs::create_directories(card / "System Volume Information");
        tessaline::testing::makeFatImage(card / "System Volume Information/card.img", 40, copiesOf(card));
        {
            auto view = tessaline::testing::mountFatImage(card / "System Volume Information/card.img",
                                                          driveRoot / "Image");
            expectViewRefused(card, label, view->target(), ProofGround::Doubt::imageOnCard,
                              QStringLiteral("In a disk image on the card"));
        }
        // Control: the same image kept on the drive proves the card.
        tessaline::testing::makeFatImage(driveRoot / "drive.img", 40, copiesOf(card));
        auto view = tessaline::testing::mountFatImage(driveRoot / "drive.img", driveRoot / "Image");
        expectProven(card, label, view->target());
    }
}

TEST_F(CardViewEndToEndTest, AnErofsMountedStraightFromAFileProvesNothingWhateverItsSourceTextNames) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    if (!tessaline::testing::haveProgram("mkfs.erofs")) GTEST_SKIP() << "mkfs.erofs is not installed; skipped";
    const QString where = QStringLiteral("On a file system mounted from a file that can't be followed");
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        const auto [card, driveRoot, label] = testing::cardAndGrantedDrive(loops, fsType, grantsFile());
        shoot(card);
        const fs::path spared = card / "System Volume Information";
        fs::create_directories(spared);
        tessaline::testing::makeErofs(spared / "card.erofs", copiesOf(card));
        tessaline::testing::makeErofs(driveRoot / "drive.erofs", copiesOf(card));
        const fs::path view = driveRoot / "Image";
        {
            tessaline::testing::ErofsFileMount relative("card.erofs", view, spared);
            if (!relative.failure().empty())
                GTEST_SKIP() << "this kernel does not mount erofs straight from a file (" << relative.failure()
                             << "); skipped";
            expectViewRefused(card, label, view, ProofGround::Doubt::untracedFileMount, where);
        }
        {
            tessaline::testing::ErofsFileMount byDescriptor("/proc/self/fd/777", view, "/", spared / "card.erofs");
            ASSERT_EQ(byDescriptor.failure(), "");
            expectViewRefused(card, label, view, ProofGround::Doubt::untracedFileMount, where);
        }
        {
            // A link to the card's image, pointed at the drive's own image since.
            fs::create_symlink(spared / "card.erofs", sandbox / (fsType + ".link"));
            tessaline::testing::ErofsFileMount linked((sandbox / (fsType + ".link")).string(), view, "/");
            ASSERT_EQ(linked.failure(), "");
            fs::remove(sandbox / (fsType + ".link"));
            fs::create_symlink(driveRoot / "drive.erofs", sandbox / (fsType + ".link"));
            expectViewRefused(card, label, view, ProofGround::Doubt::untracedFileMount, where);
        }
        {
            // Deleted once mounted: the copies lie nowhere once it is unmounted.
            fs::copy_file(spared / "card.erofs", spared / "gone.erofs");
            tessaline::testing::ErofsFileMount deleted((spared / "gone.erofs").string(), view, "/");
            ASSERT_EQ(deleted.failure(), "");
            fs::remove(spared / "gone.erofs");
            expectViewRefused(card, label, view, ProofGround::Doubt::untracedFileMount, where);
        }
        // Control: the drive's image attached through a loop device proves the card.
        tessaline::testing::ReadOnlyLoop loop((driveRoot / "drive.erofs").string());
        tessaline::testing::ScopedMount looped({"-t", "erofs", loop.device()}, view);
        expectProven(card, label, view);
    }
}

TEST_F(CardViewEndToEndTest, AnErofsReadingABlobDeviceOnTheCardProvesNothing) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    if (!tessaline::testing::haveProgram("mkfs.erofs")) GTEST_SKIP() << "mkfs.erofs is not installed; skipped";
    const auto [card, driveRoot, label] = testing::cardAndGrantedDrive(loops, "ext4", grantsFile());
    shoot(card);
    fs::create_directories(card / "System Volume Information");
    // The primary image on the drive, the files' data in a blob on the card.
    tessaline::testing::makeErofs(driveRoot / "primary.erofs", copiesOf(card), card / "System Volume Information/blob.erofs");
    tessaline::testing::ReadOnlyLoop blob((card / "System Volume Information/blob.erofs").string());
    tessaline::testing::ReadOnlyLoop primary((driveRoot / "primary.erofs").string());
    {
        tessaline::testing::ScopedMount view({"-t", "erofs", "-o", "device=" + blob.device(), primary.device()},
                                             driveRoot / "Image");
        ASSERT_EQ(tessaline::testing::readFile(view.target() / cardFiles[1]), tessaline::testing::readFile(card / cardFiles[1]));
        expectViewRefused(card, label, view.target(), ProofGround::Doubt::untracedDevice,
                          QStringLiteral("On a file system that can't be followed to its disk"));
    }
    // Control: the files in one image on the drive prove the card.
    tessaline::testing::makeErofs(driveRoot / "whole.erofs", copiesOf(card));
    tessaline::testing::ReadOnlyLoop whole((driveRoot / "whole.erofs").string());
    tessaline::testing::ScopedMount view({"-t", "erofs", whole.device()}, driveRoot / "Image");
    expectProven(card, label, view.target());
}

TEST_F(CardViewEndToEndTest, AFuseDriverHoldingOnlyALogOrNamingADriveFileProvesNothing) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    if (const std::string reason = tessaline::testing::archiveFuseUnavailableReason(); !reason.empty())
        GTEST_SKIP() << reason;
    const QString where = QStringLiteral("In a FUSE disk image that can't be located");
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        const auto [card, driveRoot, label] = testing::cardAndGrantedDrive(loops, fsType, grantsFile());
        shoot(card);
        const fs::path archive = card / "System Volume Information/card.tar";
        tessaline::testing::makeTarArchive(archive, copiesOf(card));
        tessaline::testing::makeTarArchive(driveRoot / "drive.tar", copiesOf(card));
        {
            // Read into memory and closed; its log, on the drive, held open.
            tessaline::testing::ArchiveFuseMount logged(archive, driveRoot / "Image", {.log = driveRoot / "driver.log"});
            expectViewRefused(card, label, logged.target(), ProofGround::Doubt::unlocatedFuseImage, where);
        }
        {
            // Its source naming an archive on the drive that it does not hold.
            tessaline::testing::ArchiveFuseMount named(archive, driveRoot / "Image",
                                                       {.fsname = (driveRoot / "drive.tar").string()});
            expectViewRefused(card, label, named.target(), ProofGround::Doubt::unlocatedFuseImage, where);
        }
        // Controls: the drive's archive held by the same driver, and a packaged driver of an
        // image on the drive, prove the card.
        {
            tessaline::testing::ArchiveFuseMount held(driveRoot / "drive.tar", driveRoot / "Image",
                                                      {.keepArchiveOpen = true, .log = sandbox / "driver.log"});
            expectProven(card, label, held.target());
        }
        if (tessaline::testing::haveProgram("squashfuse") && tessaline::testing::haveProgram("mksquashfs")) {
            tessaline::testing::TempFolder content;
            for (const auto& [path, bytes] : copiesOf(card)) tessaline::testing::writeFile(content.path() / path, bytes);
            ASSERT_EQ(tessaline::testing::runCommand({"mksquashfs", content.path().string(),
                                                      (driveRoot / "drive.sqfs").string(), "-quiet", "-noappend"})
                          .exitCode,
                      0);
            fs::create_directories(driveRoot / "Squash");
            ASSERT_EQ(tessaline::testing::runCommand(
                          {"squashfuse", (driveRoot / "drive.sqfs").string(), (driveRoot / "Squash").string()})
                          .exitCode,
                      0);
            expectProven(card, label, driveRoot / "Squash");
            tessaline::testing::runCommand({"umount", (driveRoot / "Squash").string()});
        }
    }
}

}  // namespace brindlecove
