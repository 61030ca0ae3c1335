// The Erase Card section's widgets, offscreen: the banner for every standing and card issue,
// the enabled state of Erase, the acknowledgement, the counting row, the outcomes, and the
// click that re-checks the gate. The card's system facts come from a scripted backend (a
// sandbox folder standing in for a card, an identity the test changes); the real volumes are
// exercised by the view model tests.

#include "CardPrepViewFixture.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>

namespace brindlecove::testing {
namespace {

TEST_F(CardPrepViewTest, BeforeAnyPick) {
    EXPECT_TRUE(shown("erase.noCard"));
    EXPECT_EQ(find<QLabel>("erase.noCard")->text(), "No card selected.");
    EXPECT_EQ(banner()->text(),
              QString::fromUtf8("No card picked yet. Choose the card to erase \u2014 its last scan is checked here."));
    EXPECT_FALSE(banner()->color().isValid()) << "the secondary tone";
    EXPECT_FALSE(banner()->isEmphasized());
    EXPECT_FALSE(shown("erase.acknowledgeRow"));
    EXPECT_FALSE(find<QLineEdit>("erase.confirmation")->isEnabled());
    EXPECT_EQ(find<QLineEdit>("erase.confirmation")->placeholderText(), QString::fromUtf8("Type the card's name (\u2026) to confirm"));
    EXPECT_FALSE(find<QPushButton>("erase.run")->isEnabled());
    EXPECT_FALSE(shown("erase.outcome"));
    EXPECT_FALSE(shown("erase.running"));
    EXPECT_FALSE(shown("erase.stop"));
    EXPECT_FALSE(shown("erase.warning"));
    EXPECT_EQ(find<QComboBox>("erase.profile")->currentText(), "Sony Alpha (XAVC / stills)");
    EXPECT_EQ(find<QLabel>("erase.profileFolders")->text(),
              QString::fromUtf8("Creates: DCIM/100MSDCF \u00b7 PRIVATE/M4ROOT/CLIP \u00b7 PRIVATE/M4ROOT/SUB \u00b7 "
                                "PRIVATE/M4ROOT/THMBNL \u00b7 PRIVATE/M4ROOT/GENERAL"));
}

TEST_F(CardPrepViewTest, TheBannerAndTheEraseButtonFollowEveryStanding) {
    pick();
    EXPECT_EQ(find<QLabel>("erase.contents")->text(), QString::fromUtf8("2 files \u00b7 ") + Formats::fileByteCount(2'500'000));
    EXPECT_EQ(find<SymbolLabel>("erase.warning")->text(),
              QString::fromUtf8("This permanently deletes all 2 files (2.5 MB) on \u201cCARD\u201d. There is no undo."));
    EXPECT_EQ(find<QLineEdit>("erase.confirmation")->placeholderText(), "Type the card's name (CARD) to confirm");
    type("erase.confirmation", "card");

    struct Case {
        ReportPtr report;
        QString symbol;
        QString text;
        QColor color;
        bool emphasized;
    };
    const fs::path drive = sandbox / "drive";
    auto otherCard = std::make_shared<VerificationReport>(*card.report({MatchStatus::confirmed(drive / "a")}));
    otherCard->cardVolumeIdentity = VolumeIdentity{std::string("9999-0000"), std::string("CARD"), std::nullopt, std::nullopt};
    auto partial = std::make_shared<VerificationReport>(*card.report({MatchStatus::confirmed(drive / "a")}));
    partial->unreadableCardFolders = {card.root / "A", card.root / "B"};
    // Another card at this folder is judged by its own scan only while the session has none of
    // this card: it comes first.
    const std::vector<Case> cases{
        {otherCard, "exclamationmark.triangle.fill",
         QString::fromUtf8("DIFFERENT CARD \u2014 the scan for this slot was of another card that had the same name. "
                           "This card has NOT been verified. Scan it before erasing."),
         Style::bad(), true},
        {card.report({MatchStatus::confirmed(drive / "a"), MatchStatus::possibleDuplicate({drive / "b", drive / "c"})}),
         "checkmark.seal.fill",
         QString::fromUtf8("Verified \u2014 all 2 clips on this card are confirmed on your drives. Safe to erase."),
         Style::good(), false},
        {card.report({MatchStatus::missing(), MatchStatus::nameMatchMetadataMismatch(drive / "x")}), "xmark.octagon.fill",
         QString::fromUtf8("STOP \u2014 your last scan found 1 clip that exists ONLY on this card. Erasing now "
                           "loses it. Copy or re-scan first."),
         Style::bad(), true},
        {card.report({MatchStatus::confirmed(card.root / "backup/a")}), "xmark.octagon.fill",
         QString::fromUtf8("STOP \u2014 your last scan found 1 clip that exists ONLY on this card. Erasing now "
                           "loses it. Copy or re-scan first."),
         Style::bad(), true},
        {card.report({MatchStatus::nameMatchMetadataMismatch(drive / "x"), MatchStatus::confirmed(drive / "a")}),
         "exclamationmark.triangle.fill",
         QString::fromUtf8("CHECK \u2014 1 clip has a same-named but different file on your drive. It looks backed "
                           "up but isn't. Verify before erasing."),
         Style::warn(), true},
        {partial, "xmark.octagon.fill",
         QString::fromUtf8("STOP \u2014 your last scan couldn't read 2 folders on this card, so their files were "
                           "never checked. Erasing now may lose them. Copy or re-scan first."),
         Style::bad(), true},
        {card.report({}), "exclamationmark.triangle.fill",
         "This card hasn't been verified this session. Run a Scan first so you're not erasing footage that was never "
         "backed up.",
         Style::warn(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        scan->setLastReport(c.report);
        drainEvents();
        EXPECT_EQ(banner()->symbol(), c.symbol);
        EXPECT_EQ(banner()->text(), c.text);
        EXPECT_EQ(banner()->color(), c.color);
        EXPECT_EQ(banner()->isEmphasized(), c.emphasized);
        const bool safe = c.symbol == "checkmark.seal.fill";
        EXPECT_EQ(shown("erase.acknowledgeRow"), !safe);
        EXPECT_EQ(find<QPushButton>("erase.run")->isEnabled(), safe);
        if (!safe) {
            find<QCheckBox>("erase.acknowledge")->click();
            drainEvents();
            EXPECT_TRUE(find<QPushButton>("erase.run")->isEnabled()) << "acknowledged";
        }
    }
    // A new report clears the acknowledgement.
    scan->setLastReport(card.report({MatchStatus::missing()}));
    drainEvents();
    EXPECT_FALSE(find<QCheckBox>("erase.acknowledge")->isChecked());
    EXPECT_FALSE(find<QPushButton>("erase.run")->isEnabled());
}

TEST_F(CardPrepViewTest, EachCardIsJudgedByItsOwnLatestScanOfTheSessionWhicheverWasScannedLast) {
    const fs::path drive = sandbox / "drive";
    const fs::path other = sandbox / "OTHER";
    fs::create_directories(other);
    const QString verified = QString::fromUtf8("Verified \u2014 the 1 clip on this card is confirmed on your drives. "
                                               "Safe to erase.");
    const QString stop = QString::fromUtf8("STOP \u2014 your last scan found 1 clip that exists ONLY on this card. "
                                           "Erasing now loses it. Copy or re-scan first.");
    pick();
    scan->setLastReport(card.report({MatchStatus::missing()}));
    scan->setLastReport(card.report({MatchStatus::confirmed(drive / "a")}));  // scanned again: the latest counts
    scan->setLastReport(reportOf(other, card.identity, {MatchStatus::missing()}));
    drainEvents();
    EXPECT_EQ(banner()->text(), verified) << "another card's scan became the last report";
    EXPECT_EQ(scan->sessionReports().size(), 2u) << "the latest of each card is kept";

    // The other card, picked, by its own scan; and back.
    vm->takeCard(QFile::decodeName(QByteArray::fromStdString(other.string())));
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    drainEvents();
    EXPECT_EQ(banner()->text(), stop);
    pick();
    drainEvents();
    EXPECT_EQ(banner()->text(), verified);

    // Another card with this card's name, scanned at its folder: each by its own scan, told
    // apart by the card in the reader.
    const VolumeIdentity lookAlike{std::string("9999-0000"), std::string("CARD"), std::nullopt, std::nullopt};
    scan->setLastReport(reportOf(card.root, lookAlike, {MatchStatus::missing()}));
    drainEvents();
    EXPECT_EQ(banner()->text(), verified);
    card.identity = lookAlike;
    view->render();
    EXPECT_EQ(banner()->text(), EraseTexts::remountedText()) << "not the card picked";
    pick();
    EXPECT_EQ(banner()->text(), stop);

    // A card the session never scanned says so.
    const fs::path fresh = sandbox / "FRESH";
    fs::create_directories(fresh);
    vm->takeCard(QFile::decodeName(QByteArray::fromStdString(fresh.string())));
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    drainEvents();
    EXPECT_EQ(banner()->text(), "This card hasn't been verified this session. Run a Scan first so you're not erasing "
                                "footage that was never backed up.");
}

TEST_F(CardPrepViewTest, AFolderWithAnIssueShowsItsReasonAndNeverEnablesErase) {
    using Issue = tessaline::CardPrepEngine::CardRootIssue;
    card.issue = Issue::notAVolumeRoot;
    scan->setLastReport(card.report({MatchStatus::confirmed(sandbox / "drive/a")}));
    pick();
    EXPECT_TRUE(banner()->text().startsWith("That's a folder, not a memory card. Pick a mounted card/drive (it shows up under /"));
    EXPECT_TRUE(banner()->text().endsWith("), not a folder inside one."));
    EXPECT_EQ(banner()->symbol(), "xmark.octagon.fill");
    EXPECT_FALSE(shown("erase.acknowledgeRow"));
    EXPECT_FALSE(vm->preview().has_value()) << "nothing is counted";
    type("erase.confirmation", "CARD");
    EXPECT_FALSE(find<QPushButton>("erase.run")->isEnabled());
    card.issue = Issue::internalDisk;
    pick();
    EXPECT_EQ(banner()->text(), QString::fromUtf8("That's this computer's internal disk \u2014 not a removable card. "
                                                  "Erase is only for external cards and drives."));
    card.issue = Issue::dangerousSystemLocation;
    pick();
    EXPECT_EQ(banner()->text(), "That's a system location and can't be erased. Pick the actual camera card.");
}

TEST_F(CardPrepViewTest, WhileCountingTheCardIsLockedAndStopIsShown) {
    card.holdCount = true;
    vm->takeCard(QFile::decodeName(QByteArray::fromStdString(card.root.string())));
    view->render();
    EXPECT_TRUE(shown("erase.counting"));
    EXPECT_FALSE(find<QPushButton>("erase.choose")->isEnabled());
    EXPECT_FALSE(find<QLineEdit>("erase.confirmation")->isEnabled());
    EXPECT_TRUE(shown("erase.stop"));
    card.holdCount = false;
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    drainEvents();
    EXPECT_FALSE(shown("erase.counting"));
    EXPECT_TRUE(shown("erase.contents"));
}

TEST_F(CardPrepViewTest, StopSaysStoppingFromTheClickOnAndTheOutcomeWhatIsLeft) {
    pick();
    type("erase.confirmation", "CARD");
    drainEvents();
    find<QCheckBox>("erase.acknowledge")->click();
    drainEvents();
    ASSERT_TRUE(find<QPushButton>("erase.run")->isEnabled());
    card.holdErase = true;
    card.summary = [] { return tessaline::CardPrepEngine::Summary{0, 1200, {}, {}, true, {}, 1200}; };
    find<QPushButton>("erase.run")->click();
    ASSERT_TRUE(waitFor([&] { return card.erasing.load(); }));
    drainEvents();
    auto* stop = find<QPushButton>("erase.stop");
    ASSERT_TRUE(shown("erase.stop"));
    EXPECT_EQ(stop->text(), "Stop");
    stop->click();
    drainEvents();
    EXPECT_EQ(stop->text(), QString::fromUtf8("Stopping\u2026"));
    EXPECT_FALSE(stop->isEnabled()) << "one click stops";
    EXPECT_TRUE(find<QLabel>("erase.progressText")->text().startsWith(QString::fromUtf8("Stopping \u2014")));
    card.holdCount = true;  // what the stop left is counted afterwards
    card.holdErase = false;
    ASSERT_TRUE(waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(vm->phase()); }));
    drainEvents();
    EXPECT_EQ(find<SymbolLabel>("erase.outcome")->text(),
              QString::fromUtf8("Stopped early \u2014 1,200 files were deleted before the stop. The rest are still on "
                                "the card; it is partially erased."));
    EXPECT_FALSE(shown("erase.contents")) << "no count before the card is counted";
    EXPECT_TRUE(shown("erase.counting"));
    card.holdCount = false;
    ASSERT_TRUE(waitFor([&] { return vm->preview().has_value(); }));
    drainEvents();
    EXPECT_TRUE(shown("erase.contents"));
    EXPECT_FALSE(shown("erase.counting"));

    // The next erase starts with a Stop button again.
    card.holdErase = true;
    type("erase.confirmation", "CARD");
    drainEvents();
    find<QCheckBox>("erase.acknowledge")->click();
    drainEvents();
    find<QPushButton>("erase.run")->click();
    drainEvents();
    EXPECT_EQ(stop->text(), "Stop");
    EXPECT_TRUE(stop->isEnabled());
    card.holdErase = false;
    ASSERT_TRUE(waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(vm->phase()); }));
}

TEST_F(CardPrepViewTest, AStopBeforeTheFirstDeleteSaysNothingWasDeletedAndKeepsTheCount) {
    pick();
    const QString contents = find<QLabel>("erase.contents")->text();
    scan->setLastReport(card.report({MatchStatus::confirmed(sandbox / "drive/a")}));
    type("erase.confirmation", "CARD");
    card.holdWalk = true;
    find<QPushButton>("erase.run")->click();
    drainEvents();
    ASSERT_TRUE(shown("erase.stop"));
    find<QPushButton>("erase.stop")->click();  // the erase still walks the card
    drainEvents();
    auto* outcome = find<SymbolLabel>("erase.outcome");
    EXPECT_EQ(outcome->text(),
              QString::fromUtf8("Stopped before the first delete — nothing was deleted; the card is as it was."));
    EXPECT_EQ(outcome->symbol(), "stop.circle.fill");
    EXPECT_FALSE(shown("erase.outcomeCounts")) << "no counts of an erase that deleted nothing";
    EXPECT_FALSE(shown("erase.outcomeFolders"));
    EXPECT_FALSE(shown("erase.stop"));
    EXPECT_EQ(find<QLabel>("erase.contents")->text(), contents);
    EXPECT_TRUE(waitFor([&] { return banner()->text().startsWith("Verified"); }))
        << "the report still vouches for the card";
    card.holdWalk = false;
    drainEvents();
    EXPECT_FALSE(card.erasing);
}

TEST_F(CardPrepViewTest, OutcomesOfTheErase) {
    pick();
    scan->setLastReport(card.report({MatchStatus::confirmed(sandbox / "drive/a")}));
    vm->setSelectedProfileID("canon-eos");
    type("erase.confirmation", "CARD");
    auto erase = [&](tessaline::CardPrepEngine::Summary summary) {
        card.summary = [summary] { return summary; };
        // A report an erase was started on never vouches again: each erase follows a new scan.
        scan->setLastReport(card.report({MatchStatus::confirmed(sandbox / "drive/a")}));
        drainEvents();
        if (vm->cardName().isEmpty() || vm->confirmationText().isEmpty()) type("erase.confirmation", "CARD");
        // Enabled once the count of what the last erase left is in.
        ASSERT_TRUE(waitFor([&] { return find<QPushButton>("erase.run")->isEnabled(); }));
        find<QPushButton>("erase.run")->click();
        ASSERT_TRUE(waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(vm->phase()); }));
        drainEvents();
    };
    erase({3, 5'000'000, {"DCIM/100CANON", "MISC"}, {}, false, {}, 12, false, {"DCIM/100CANON", "MISC"}});
    auto* outcome = find<SymbolLabel>("erase.outcome");
    EXPECT_EQ(outcome->text(), "Card erased and prepped for Canon EOS");
    EXPECT_EQ(outcome->symbol(), "checkmark.seal.fill");
    EXPECT_EQ(find<QLabel>("erase.outcomeCounts")->text(),
              QString::fromUtf8("Deleted 12 files \u00b7 freed 5 MB \u00b7 created 2 folders"));
    EXPECT_EQ(find<QLabel>("erase.outcomeFolders")->text(), QString::fromUtf8("DCIM/100CANON \u00b7 MISC"));
    EXPECT_EQ(find<QLabel>("erase.contents")->text(), QString::fromUtf8("0 files \u00b7 Zero KB"));
    EXPECT_FALSE(shown("erase.warning"));
    EXPECT_EQ(find<QLineEdit>("erase.confirmation")->text(), "");

    vm->setSelectedProfileID("red");
    type("erase.confirmation", "CARD");
    erase({1, 10, {}, {"clip.R3D"}, true, {}, 3});
    EXPECT_EQ(outcome->text(), QString::fromUtf8("Stopped early \u2014 3 files were deleted before the stop. The rest are "
                                                 "still on the card; it is partially erased."));
    EXPECT_EQ(outcome->symbol(), "stop.circle.fill");
    EXPECT_EQ(find<QLabel>("erase.outcomeCounts")->text(), QString::fromUtf8("Deleted 3 files \u00b7 freed 10 bytes"));
    EXPECT_FALSE(shown("erase.outcomeFolders"));
    EXPECT_FALSE(shown("erase.profileFolders")) << "an erase-only profile lists no folders";

    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    type("erase.confirmation", "CARD");
    erase({2, 10, {}, {"a.MOV", "b.MOV"}, false});
    EXPECT_EQ(outcome->text(), "Erased with 2 items that couldn't be deleted: a.MOV, b.MOV");
    EXPECT_EQ(outcome->color(), Style::warn());

    // Files kept because they changed during the erase are named, also beside other outcomes.
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    type("erase.confirmation", "CARD");
    const std::vector<std::string> kept{"B/LATE.MOV", "B/NOTE.TXT", "B/CLIP/C0001.MOV", "NEWTOP/LATE2.MOV"};
    erase({2, 10, {}, {}, false, kept});
    EXPECT_EQ(outcome->text(),
              "Erased with 4 files kept: changed during the erase: LATE.MOV, NOTE.TXT, C0001.MOV and 1 more");
    EXPECT_EQ(outcome->symbol(), "exclamationmark.triangle.fill");
    EXPECT_EQ(outcome->color(), Style::warn());
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    type("erase.confirmation", "CARD");
    erase({1, 10, {}, {"C"}, false, {"B/LATE.MOV"}});
    EXPECT_EQ(outcome->text(),
              "Erased with 1 item that couldn't be deleted: C. 1 file kept: changed during the erase: LATE.MOV");
}

TEST_F(CardPrepViewTest, CreatedCountsOnlyTheFoldersTheEraseMade) {
    pick();
    std::vector<std::string> all;
    for (int i = 0; i < 1000; ++i) all.push_back("DCIM/" + std::to_string(100 + i) + "CANON");
    const auto counts = find<QLabel>("erase.outcomeCounts");
    auto erase = [&](std::vector<std::string> made, bool stopped) {
        tessaline::CardPrepEngine::Summary summary{2, 10, all, {}, stopped, {}, 2, false, std::move(made)};
        card.summary = [summary] { return summary; };
        scan->setLastReport(card.report({MatchStatus::confirmed(sandbox / "drive/a")}));
        type("erase.confirmation", "CARD");
        ASSERT_TRUE(waitFor([&] { return find<QPushButton>("erase.run")->isEnabled(); }));
        find<QPushButton>("erase.run")->click();
        ASSERT_TRUE(waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(vm->phase()); }));
        drainEvents();
    };
    // Every folder of the profile was there already, after a stop or a whole erase alike.
    for (bool stopped : {true, false}) {
        erase({}, stopped);
        EXPECT_EQ(counts->text(), QString::fromUtf8("Deleted 2 files \u00b7 freed 10 bytes"));
        EXPECT_FALSE(shown("erase.outcomeFolders"));
    }
    for (int n : {1, 2, 1000}) {
        SCOPED_TRACE(n);
        erase(std::vector<std::string>(all.begin(), all.begin() + n), false);
        EXPECT_EQ(counts->text(), QString::fromUtf8("Deleted 2 files \u00b7 freed 10 bytes \u00b7 created ") +
                                      Formats::count(n, "folder", "folders"));
        EXPECT_EQ(find<QLabel>("erase.outcomeFolders")->text().count(QString::fromUtf8("\u00b7")), n - 1);
    }
}

TEST_F(CardPrepViewTest, TheClickRechecksTheGateAgainstTheCardInTheReader) {
    pick();
    scan->setLastReport(card.report({MatchStatus::confirmed(sandbox / "drive/a")}));
    type("erase.confirmation", "CARD");
    ASSERT_TRUE(find<QPushButton>("erase.run")->isEnabled());
    bool erased = false;
    card.summary = [&] {
        erased = true;
        return tessaline::CardPrepEngine::Summary{};
    };
    // Another card with the same name is put in; nothing is published, the button still says yes.
    card.identity.uuid = "5555-6666";
    find<QPushButton>("erase.run")->click();
    drainEvents();
    EXPECT_FALSE(erased);
    EXPECT_FALSE(std::holds_alternative<CardPrepViewModel::Running>(vm->phase()));
    EXPECT_EQ(banner()->text(), EraseTexts::remountedText()) << "not the card picked: to be picked again";
    EXPECT_FALSE(find<QPushButton>("erase.run")->isEnabled());
    // Picked again, it is judged as the card it is.
    pick();
    EXPECT_EQ(banner()->text().left(14), "DIFFERENT CARD");
}

TEST_F(CardPrepViewTest, ACardMountedAgainIsRefusedBeforeAnyClick) {
    pick();
    scan->setLastReport(card.report({MatchStatus::missing()}));
    type("erase.confirmation", "CARD");
    find<QCheckBox>("erase.acknowledge")->click();
    drainEvents();
    ASSERT_TRUE(find<QPushButton>("erase.run")->isEnabled());
    // The same card, unmounted and mounted again: a new mount, the same volume identity.
    card.mountId = 8;
    vm->recount();  // the screen does this when a volume mounts at the card's path
    ASSERT_TRUE(waitFor([&] { return !vm->isCounting(); }));
    drainEvents();
    EXPECT_EQ(banner()->text(),
              QString::fromUtf8("This card was removed or mounted again since you picked it \u2014 pick it again"));
    EXPECT_EQ(banner()->color(), Style::bad());
    EXPECT_FALSE(find<QPushButton>("erase.run")->isEnabled()) << "acknowledged and named, still off";
    EXPECT_FALSE(shown("erase.acknowledgeRow"));
    EXPECT_FALSE(shown("erase.outcome")) << "said before any click, not as a click's refusal";
    pick();
    type("erase.confirmation", "CARD");
    EXPECT_TRUE(banner()->text().startsWith("STOP"));
}

TEST_F(CardPrepViewTest, TheSafetyCheckAndTheRefusalNameWhatHappenedToEachFile) {
    // The scan recorded a still and a note, both proven on the drive.
    const CardFiles recorded{{"DCIM/IMG_0001.JPG", 10, {1'000, 0}, {1'000, 0}}, {"NOTES.TXT", 7, {1'000, 0}, {1'000, 0}}};
    tessaline::MatchResult still;
    still.group.primaryFiles.push_back(tessaline::Fingerprint{.url = card.root / "DCIM/IMG_0001.JPG", .byteSize = 10});
    still.status = MatchStatus::confirmed(sandbox / "drive/IMG_0001.JPG");
    const auto report = std::make_shared<const VerificationReport>(
        card.root, std::vector<fs::path>{sandbox / "drive"}, 0.0, std::vector{still}, card.identity,
        std::vector<fs::path>{},
        std::vector<tessaline::OtherFile>{
            {card.root / "NOTES.TXT", 7, tessaline::OtherFile::Role::other, sandbox / "drive/NOTES.TXT"}},
        recorded);
    // Since then a photo was shot and the note deleted.
    card.contents.files = CardFiles{recorded[0], {"DCIM/IMG_0326.JPG", 3'000, {9'000, 0}, {9'000, 0}}};
    pick();
    scan->setLastReport(report);
    drainEvents();
    EXPECT_EQ(banner()->text(),
              QString::fromUtf8("CHANGED SINCE THE SCAN \u2014 this card has changed since your last scan: 1 file was "
                                "added (IMG_0326.JPG) and 1 file was removed (NOTES.TXT). Scan it again before "
                                "erasing."));

    // Counted as the scan recorded it, it is safe; the worker's walk just before erasing finds
    // both files gone, and says so.
    card.contents.files = recorded;
    vm->recount();
    ASSERT_TRUE(waitFor([&] { return banner()->text().startsWith("Verified"); })) << banner()->text().toStdString();
    type("erase.confirmation", "CARD");
    find<QPushButton>("erase.run")->click();
    ASSERT_TRUE(waitFor([&] { return std::holds_alternative<CardPrepViewModel::Failed>(vm->phase()); }));
    drainEvents();
    EXPECT_EQ(find<SymbolLabel>("erase.outcome")->text(),
              QString::fromUtf8("The card has changed since it was scanned \u2014 2 files were removed (IMG_0001.JPG, "
                                "NOTES.TXT). Nothing was erased. Scan it again before erasing."));
}

TEST_F(CardPrepViewTest, TheProgressBarCountsWhatItsTextCounts) {
    pick();
    scan->setLastReport(card.report({MatchStatus::confirmed(sandbox / "drive/a")}));
    type("erase.confirmation", "CARD");
    auto* bar = find<QProgressBar>("erase.progress");
    auto* text = find<QLabel>("erase.progressText");

    // Before the erase has measured the card its text counts nothing: the bar only shows work.
    card.holdWalk = true;
    card.holdErase = true;
    card.filesPlanned = 6'325;
    find<QPushButton>("erase.run")->click();
    drainEvents();
    EXPECT_EQ(text->text(), QString::fromUtf8("Erasing\u2026"));
    EXPECT_EQ(bar->maximum(), 0) << "busy, no count";

    // A camera card holds one folder: the files in it are what is counted, text and bar alike.
    card.holdWalk = false;
    ASSERT_TRUE(waitFor([&] { return card.erasing.load(); }));
    drainEvents();
    EXPECT_EQ(text->text(), QString::fromUtf8("Deleting DCIM\u2026 1 of 6,325 files"));
    EXPECT_EQ(bar->maximum(), 6'325);
    EXPECT_EQ(bar->value(), 1);
    find<QPushButton>("erase.stop")->click();
    drainEvents();
    EXPECT_TRUE(text->text().endsWith(QString::fromUtf8(" 1 of 6,325 files deleted."))) << text->text().toStdString();
    EXPECT_EQ(bar->value(), 1);
    card.summary = [] { return tessaline::CardPrepEngine::Summary{0, 10, {}, {}, true, {}, 1}; };
    card.holdErase = false;
    ASSERT_TRUE(waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(vm->phase()); }));

    // The check before an erase counts files read again, and the bar with it.
    using Texts = EraseTexts::RunProgress;
    EXPECT_EQ(EraseTexts::runProgress("", 0, 0, true, 322, 6'325, false),
              (Texts{QString::fromUtf8("Checking the card's files against the scan\u2026 322 of 6,325"), 322, 6'325}));
    EXPECT_EQ(EraseTexts::runProgress("", 0, 0, true, 0, 0, false).total, 0);
    // Files made during the erase never take the bar past its end.
    EXPECT_EQ(EraseTexts::runProgress("DCIM", 7, 5, false, 0, 0, false),
              (Texts{QString::fromUtf8("Deleting DCIM\u2026 7 of 7 files"), 7, 7}));
}

TEST_F(CardPrepViewTest, TheModeSwitchShowsTheReformatForm) {
    auto* stack = find<QStackedWidget>("erase.modes");
    EXPECT_EQ(stack->currentIndex(), 0);
    find<QToolButton>("erase.mode.reformat")->click();
    EXPECT_EQ(stack->currentIndex(), 1);
    EXPECT_EQ(stack->currentWidget()->objectName(), "format.form");
    find<QToolButton>("erase.mode.camera")->click();
    EXPECT_EQ(stack->currentIndex(), 0);
}

TEST_F(CardPrepViewTest, TheWindowBuildsTheSectionWithItsOwnViewModels) {
    WindowServices services;
    services.screens = [](AppSection section, MainWindow& window) -> QWidget* {
        return section == AppSection::eraseCard ? makeCardPrepView(window) : nullptr;
    };
    MainWindow window(services);
    window.select(AppSection::eraseCard);
    auto* screen = window.currentScreen();
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->objectName(), "screen.eraseCard");
    EXPECT_EQ(screen->findChild<QLabel*>("screen.title")->text(), "Erase Card");
    window.select(AppSection::scan);
    window.select(AppSection::eraseCard);
    drainEvents();
    EXPECT_EQ(window.currentScreen()->objectName(), "screen.eraseCard");
}

}  // namespace
}  // namespace brindlecove::testing
