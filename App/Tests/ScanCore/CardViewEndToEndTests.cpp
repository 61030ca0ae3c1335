// Second views of a card's own bytes, end to end on loop-mounted ext4 and FUSE exFAT cards: a
// read-only loop device over the card's device mounted into a granted drive folder through a
// node made outside /dev, the same view granted as a drive of its own, and a loop over the loop
// of an image kept in a spared folder of the card. The scan names every copy there as not
// counted with its reason (on screen, in the text, PDF and JSON reports), the erase gate and
// the erase worker refuse, nothing is deleted, and a copy into such a view is refused as the
// card.

#include "GrantedDriveScan.hpp"
#include "ScanTestMedia.hpp"

#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/CardViews.hpp"
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
        EXPECT_FALSE(vm.gate(report).isSafe());
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

}  // namespace brindlecove
