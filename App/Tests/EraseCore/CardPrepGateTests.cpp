// The erase-safety gate on real volumes: every standing from real scans and hand-made
// reports, the card confirmed against itself, a card changed or swapped after its scan, the
// acknowledgement's reset and the stale mount-point folder.

#include "Support/EraseFixtures.hpp"

#include "Support/CardScanReport.hpp"
#include "Support/MediaFixtures.hpp"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

namespace brindlecove::testing {
namespace {

namespace fs = std::filesystem;
using tessaline::MatchStatus;
using tessaline::testing::readFile;
using tessaline::testing::writeFile;
using Kind = VerificationStanding::Kind;

class CardPrepGateTest : public AppSandboxedTest {
protected:
    // A card with two stills, both backed up on a drive folder, picked, counted and scanned.
    struct ScannedCard {
        tessaline::testing::LoopVolume& volume;
        fs::path root;
        fs::path drive;
        std::unique_ptr<CardPrepViewModel> vm;
        ReportPtr report;
    };
    ScannedCard scannedCard(const std::string& label) {
        auto& volume = loops.add("ext4", label);
        ScannedCard card{volume, volume.mountPoint(), sandbox / "drive", realCardPrep(), nullptr};
        shootStills(card.root, card.drive, 2);
        pickAndCount(*card.vm, card.root);
        card.report = scanCard(card.root, {card.drive});
        return card;
    }
    LoopVolumeSet loops;
};

TEST_F(CardPrepGateTest, EveryStandingOfARealCard) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("ext4", "EOS_DIGITAL");
    const fs::path root = card.mountPoint();
    const fs::path drive = sandbox / "drive";
    const auto stills = shootStills(root, drive, 2);
    auto vm = realCardPrep();

    EXPECT_EQ(vm->gate(nullptr).kind, Kind::notVerified);  // no card, no report
    pickAndCount(*vm, root);
    ASSERT_FALSE(vm->cardIssue().has_value());
    ASSERT_EQ(vm->preview(), (CardPrepViewModel::Preview{2, 2, int64_t(fs::file_size(stills[0]) + fs::file_size(stills[1]))}))
        << "lost+found and DCIM, two files";

    const ReportPtr safe = scanCard(root, {drive});
    EXPECT_EQ(vm->gate(safe), (VerificationStanding{Kind::safe, 2}));
    // Another spelling of the same folder is the same card; another folder is no scan of it.
    auto respelled = std::make_shared<tessaline::VerificationReport>(*safe);
    respelled->cardPath = root.string() + "/DCIM/../";
    EXPECT_EQ(vm->gate(respelled).kind, Kind::safe);
    respelled->cardPath = sandbox / "elsewhere";
    EXPECT_EQ(vm->gate(respelled).kind, Kind::notVerified);
    // A report without the card's identity, or with another volume's, is of a different card.
    auto anonymous = std::make_shared<tessaline::VerificationReport>(*safe);
    anonymous->cardVolumeIdentity.reset();
    EXPECT_EQ(vm->gate(anonymous).kind, Kind::differentCard);
    anonymous->cardVolumeIdentity = tessaline::VolumeIdentity{std::string("0000-0000"), std::string("EOS_DIGITAL"),
                                                              std::nullopt, std::nullopt};
    EXPECT_EQ(vm->gate(anonymous).kind, Kind::differentCard);

    // One still not on the drive: missing, and missing wins over a mismatch.
    fs::remove(drive / "Shoot/IMG_0002.JPG");
    EXPECT_EQ(vm->gate(scanCard(root, {drive})), (VerificationStanding{Kind::missing, 1}));
    auto mixed = handMadeReport(root, {{stills[0], MatchStatus::nameMatchMetadataMismatch(drive / "x.JPG")},
                                       {stills[1], MatchStatus::missing()}});
    EXPECT_EQ(vm->gate(mixed), (VerificationStanding{Kind::missing, 1}));
    EXPECT_EQ(vm->gate(handMadeReport(root, {{stills[0], MatchStatus::nameMatchMetadataMismatch(drive / "x.JPG")},
                                             {stills[1], MatchStatus::confirmed(drive / "Shoot/IMG_0001.JPG")}})),
              (VerificationStanding{Kind::mismatch, 1}));
    EXPECT_EQ(vm->gate(handMadeReport(root, {})).kind, Kind::notVerified);  // no media

    // A folder the scan could not read: the card is not fully read.
    auto partial = std::make_shared<tessaline::VerificationReport>(*safe);
    partial->unreadableCardFolders = {root / "PRIVATE"};
    EXPECT_EQ(vm->gate(partial), (VerificationStanding{Kind::notFullyRead, 1}));
}

TEST_F(CardPrepGateTest, ACardConfirmedAgainstItselfIsMissing) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("ext4", "CARD");
    const fs::path root = card.mountPoint();
    const auto stills = shootStills(root, root / "backup", 2);  // the "backup" is on the card
    auto vm = realCardPrep();
    pickAndCount(*vm, root);

    // A real scan with the card's own folder as the drive proves nothing.
    EXPECT_FALSE(vm->gate(scanCard(root, {root / "backup"})).isSafe());

    // Reports that claim copies on the card: by path below the card root, through a bind mount
    // of that folder, and through a link to it. Each such clip is missing.
    loops.bindMount(root / "backup", sandbox / "bound");
    fs::create_symlink(root / "backup", sandbox / "linked");
    for (const fs::path& drive : {root / "backup", sandbox / "bound", sandbox / "linked"}) {
        SCOPED_TRACE(drive.string());
        auto report = handMadeReport(root, {{stills[0], MatchStatus::confirmed(drive / "Shoot/IMG_0001.JPG")},
                                            {stills[1], MatchStatus::possibleDuplicate({drive / "Shoot/IMG_0002.JPG",
                                                                                        drive / "Shoot/IMG_0001.JPG"})}});
        EXPECT_EQ(verdictOf(*vm, report), (VerificationStanding{Kind::missing, 2}));
    }
    // One copy off the card is enough for that clip.
    fs::create_directories(sandbox / "drive");
    fs::copy_file(stills[1], sandbox / "drive/IMG_0002.JPG");
    auto report = handMadeReport(root, {{stills[0], MatchStatus::confirmed(sandbox / "bound/Shoot/IMG_0001.JPG")},
                                        {stills[1], MatchStatus::possibleDuplicate({sandbox / "bound/Shoot/IMG_0002.JPG",
                                                                                    sandbox / "drive/IMG_0002.JPG"})}});
    EXPECT_EQ(verdictOf(*vm, report), (VerificationStanding{Kind::missing, 1}));
}

TEST_F(CardPrepGateTest, ACardShotOnSinceItsScanIsNotSafe) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto scanned = scannedCard("EOS_DIGITAL");
    auto& card = scanned.volume;
    const fs::path root = scanned.root, drive = scanned.drive;
    auto& vm = scanned.vm;
    const ReportPtr report = scanned.report;
    ASSERT_TRUE(verdictOf(*vm, report).isSafe());

    // Erased here, then shot again and put back: same volume, same name, an old safe report.
    vm->setConfirmationText("mnt");  // the card's folder name, in another case
    ASSERT_TRUE(vm->runChecked(report));
    ASSERT_TRUE(waitForEraseEnd(*vm));
    ASSERT_TRUE(std::holds_alternative<CardPrepViewModel::Done>(vm->phase()));
    EXPECT_EQ(verdictOf(*vm, report).kind, Kind::erasedSinceScan) << "an erased card is never safe on its old report";
    card.unmount();
    card.remount();
    shootStills(root, {}, 1, 7);
    vm->recount();  // the screen does this when a volume mounts at the card's path
    ASSERT_TRUE(waitFor([&] { return vm->preview() && vm->preview()->fileCount == 1; }));
    EXPECT_EQ(verdictOf(*vm, report).kind, Kind::remounted) << "mounted again since the pick: to be picked again";
    vm->takeCard(qstr(root));
    EXPECT_EQ(verdictOf(*vm, report).kind, Kind::changedSinceScan);

    // A file added after the count, before the click: the worker walks the card again and
    // erases nothing.
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    fs::copy_file(root / "DCIM/100CANON/IMG_0007.JPG", drive / "Shoot/IMG_0007.JPG");
    const ReportPtr fresh = scanCard(root, {drive});
    ASSERT_TRUE(verdictOf(*vm, fresh).isSafe());
    shootStills(root, {}, 1, 8);
    vm->setConfirmationText("MNT");
    ASSERT_TRUE(vm->runChecked(fresh));
    ASSERT_TRUE(waitForEraseEnd(*vm));
    EXPECT_EQ(vm->phase(), CardPrepViewModel::Phase(CardPrepViewModel::Failed{
                               CardPrepViewModel::changedMessage(FileChanges{.added = {1, {"IMG_0008.JPG"}}})}));
    EXPECT_TRUE(std::get<CardPrepViewModel::Failed>(vm->phase()).message.contains("1 file was added (IMG_0008.JPG). Nothing was erased."));
    EXPECT_TRUE(fs::exists(root / "DCIM/100CANON/IMG_0007.JPG"));
    EXPECT_TRUE(fs::exists(root / "DCIM/100CANON/IMG_0008.JPG"));
    EXPECT_EQ(vm->confirmationText(), "");
    ASSERT_TRUE(waitFor([&] { return vm->preview() && vm->preview()->fileCount == 2; }));
    EXPECT_EQ(verdictOf(*vm, fresh).kind, Kind::changedSinceScan);
    EXPECT_FALSE(vm->erasedReports().contains(fresh)) << "an erase refused before deleting marks nothing";
    EXPECT_TRUE(vm->erasedReports().contains(report));
}

TEST_F(CardPrepGateTest, AnErasedCardWrittenOnWhileMountedIsCountedAgainAndAnEjectedOneIsNotInserted) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto scanned = scannedCard("EOS_DIGITAL");
    auto& vm = scanned.vm;
    const ReportPtr report = scanned.report;
    vm->setConfirmationText("mnt");
    ASSERT_TRUE(vm->runChecked(report));
    ASSERT_TRUE(waitForEraseEnd(*vm));
    ASSERT_TRUE(std::holds_alternative<CardPrepViewModel::Done>(vm->phase()));
    EXPECT_EQ(vm->preview(), (CardPrepViewModel::Preview{0, 0, 0}));
    EXPECT_EQ(verdictOf(*vm, report), (VerificationStanding{Kind::erasedSinceScan, 0}))
        << "an erased card is never safe on its old report, and its erase is no change since the scan";

    // Footage copied onto the card, into a folder of its own, while it stays mounted: the
    // card is counted again by itself and the old verdict no longer vouches for it.
    shootStills(scanned.root, {}, 1, 7);
    ASSERT_TRUE(waitFor([&] { return vm->preview() && vm->preview()->fileCount == 1; }));
    EXPECT_EQ(verdictOf(*vm, report).kind, Kind::changedSinceScan);
    EXPECT_TRUE(std::holds_alternative<CardPrepViewModel::Idle>(vm->phase()))
        << "the erase's outcome was about a card that now holds something else";
    writeFile(scanned.root / "DCIM/100CANON/IMG_0007.XMP", "a sidecar beside it");
    ASSERT_TRUE(waitFor([&] { return vm->preview() && vm->preview()->fileCount == 2; })) << vm->preview()->fileCount;

    // Ejected: nothing is mounted at the card's folder, which is no other card either.
    // Its empty folder left behind is not counted as the card: put back, it stands as before.
    scanned.volume.unmount();
    EXPECT_EQ(verdictOf(*vm, report).kind, Kind::notInserted);
    vm->recount();
    EXPECT_FALSE(vm->isBusy());
    scanned.volume.remount();
    EXPECT_EQ(verdictOf(*vm, report).kind, Kind::remounted) << "mounted again since the pick";
    EXPECT_EQ(vm->preview()->fileCount, 2);
    vm->takeCard(qstr(scanned.root));
    EXPECT_EQ(verdictOf(*vm, report).kind, Kind::changedSinceScan);
}

TEST_F(CardPrepGateTest, ASameNamedCardSwappedInAfterTheScanIsNeverErased) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto scanned = scannedCard("EOS_DIGITAL");
    auto& cardA = scanned.volume;
    auto& cardB = loops.add("ext4", "EOS_DIGITAL", 64, false);
    const fs::path place = scanned.root;
    auto& vm = scanned.vm;
    const ReportPtr report = scanned.report;
    ASSERT_TRUE(verdictOf(*vm, report).isSafe());
    vm->setConfirmationText("mnt");

    cardA.unmount();
    loops.mountAt(cardB, "ext4", place);
    writeFile(place / "DCIM/B_0001.JPG", "card B, never scanned");
    // The button drawn a moment ago said safe; the gate sees the other mount at once, and
    // the click refuses even acknowledged: the card is to be picked again.
    EXPECT_EQ(verdictOf(*vm, report).kind, Kind::remounted);
    EXPECT_FALSE(vm->runChecked(report));
    vm->setAcknowledgedUnverified(true);
    EXPECT_FALSE(vm->canRun(verdictOf(*vm, report)));
    EXPECT_FALSE(vm->runChecked(report));
    EXPECT_EQ(readFile(place / "DCIM/B_0001.JPG"), "card B, never scanned");
    // Picked again, it is what it is: another card than the scanned one.
    vm->takeCard(qstr(place));
    EXPECT_EQ(verdictOf(*vm, report).kind, Kind::differentCard);
}

TEST_F(CardPrepGateTest, ACardSwappedBetweenTheClickAndTheWorkerIsNeverErased) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& cardA = loops.add("ext4", "EOS_DIGITAL");
    auto& cardB = loops.add("ext4", "EOS_DIGITAL", 64, false);
    const fs::path place = cardA.mountPoint();
    const fs::path drive = sandbox / "drive";
    shootStills(place, drive, 2);
    ASSERT_EQ(tessaline::testing::runCommand({"mkfs.ext4", "-q", "-F", "-L", "EOS_DIGITAL", "-U",
                                              *tessaline::VolumeIdentity::read(place)->uuid, cardB.device()})
                  .exitCode,
              0)
        << "a clone of card A: same UUID, same name";
    // The worker's check of the card (after the pick's, the gate's and the click's, all on the
    // main thread) happens after the swap.
    CardPrepBackend backend = CardPrepBackend::standard();
    std::atomic<bool> swapped{false};
    backend.validate = [&, real = backend.validate](const fs::path& card) {
        if (QThread::currentThread() != qApp->thread() && !swapped.exchange(true)) {
            cardA.unmount();
            loops.mountAt(cardB, "ext4", place);
            writeFile(place / "DCIM/B_0001.JPG", "card B");
        }
        return real(card);
    };
    auto vm = realCardPrep(backend);
    pickAndCount(*vm, place);
    const ReportPtr report = scanCard(place, {drive});
    vm->setConfirmationText("MNT");
    ASSERT_TRUE(vm->runChecked(report));
    ASSERT_TRUE(waitForEraseEnd(*vm));
    EXPECT_EQ(vm->phase(), CardPrepViewModel::Phase(CardPrepViewModel::Failed{CardPrepViewModel::swappedMessage()}));
    EXPECT_EQ(readFile(place / "DCIM/B_0001.JPG"), "card B");
}

TEST_F(CardPrepGateTest, TheAcknowledgementHoldsOnlyForTheReportAndStandingItWasGivenFor) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("ext4", "CARD");
    const fs::path root = card.mountPoint();
    const fs::path drive = sandbox / "drive";
    const auto stills = shootStills(root, drive, 2);
    fs::remove(drive / "Shoot/IMG_0002.JPG");
    auto vm = realCardPrep();
    pickAndCount(*vm, root);
    vm->setConfirmationText("mnt");

    // Acknowledged while nothing was scanned; a scan then finds a clip only on the card.
    EXPECT_EQ(vm->gate(nullptr).kind, Kind::notVerified);
    vm->setAcknowledgedUnverified(true);
    EXPECT_TRUE(vm->canRun(vm->gate(nullptr)));
    const ReportPtr missing = scanCard(root, {drive});
    EXPECT_EQ(vm->gate(missing).kind, Kind::missing);
    EXPECT_FALSE(vm->acknowledgedUnverified());
    EXPECT_FALSE(vm->canRun(vm->gate(missing)));

    // Acknowledged for this report; the same report read against a card that changed case.
    vm->setAcknowledgedUnverified(true);
    EXPECT_TRUE(vm->canRun(vm->gate(missing)));
    const ReportPtr again = scanCard(root, {drive});  // a new scan with the same verdict
    EXPECT_FALSE(vm->runChecked(again));
    EXPECT_FALSE(vm->acknowledgedUnverified());
    EXPECT_TRUE(fs::exists(stills[0]));

    // Picking a card clears it too.
    vm->setAcknowledgedUnverified(true);
    pickAndCount(*vm, root);
    EXPECT_FALSE(vm->acknowledgedUnverified());
}

TEST_F(CardPrepGateTest, AStaleMountPointFolderIsRefused) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("ext4", "CARD");
    const fs::path root = card.mountPoint();
    shootStills(root, {}, 1);
    auto vm = realCardPrep();
    pickAndCount(*vm, root);
    vm->setConfirmationText("mnt");
    vm->gate(nullptr);
    vm->setAcknowledgedUnverified(true);

    card.unmount();  // pulled; the empty mount-point folder stays on the system disk
    writeFile(root / "system-file.txt", "not a card");
    // Not inserted: the acknowledgement enables nothing, and the click erases nothing.
    const auto standing = vm->gate(nullptr);
    EXPECT_EQ(standing.kind, Kind::notInserted);
    EXPECT_FALSE(vm->canRun(standing));
    EXPECT_FALSE(vm->runChecked(nullptr)) << "refused at the click";
    EXPECT_FALSE(std::holds_alternative<CardPrepViewModel::Running>(vm->phase()));
    EXPECT_EQ(readFile(root / "system-file.txt"), "not a card");
    fs::remove(root / "system-file.txt");
}

}  // namespace
}  // namespace brindlecove::testing
