// The window's sections after a real erase of a loop-mounted card (root only), through the
// window's own view models and the Report and Erase Card sections: the erased card's report
// never reads "Safe to erase" again, the Erase Card section tells the erase from files added
// after it, and the erase's warning counts exactly the files the erase deletes.

#include "EraseViewTest.hpp"

#include "Support/CardScanReport.hpp"
#include "Support/EraseFixtures.hpp"
#include "Support/LoopVolumeSet.hpp"
#include "Support/MediaFixtures.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"
#include "BrindlecoveApp/ViewModels/ErasedReports.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/CardPrepView.hpp"
#include "BrindlecoveApp/Views/ReportView.hpp"
#include "BrindlecoveApp/Views/ResultBanner.hpp"
#include "BrindlecoveApp/Views/SymbolLabel.hpp"
#include "BrindlecoveApp/Views/ThumbnailService.hpp"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace brindlecove::testing {
namespace {

namespace fs = std::filesystem;
using tessaline::testing::writeFile;

class ErasedCardScreensTest : public EraseViewTest<CardPrepView> {
protected:
    void TearDown() override {
        report.reset();
        view.reset();
        models.reset();
        EraseViewTest<CardPrepView>::TearDown();
    }

    // The window's view models and both sections over them.
    void makeWindow(const Dialogs& dialogs = {}) {
        models = std::make_unique<WindowModels>(dialogs);
        view = std::make_unique<CardPrepView>(models->cardPrep(), models->scan(), models->driveFormat());
        view->resize(900, 1200);
        view->show();
        report = std::make_unique<ReportView>(models->scan(), models->missingSync(), models->erasedReports(), Dialogs{},
                                              FileRevealer{}, thumbnails);
        report->resize(900, 800);
        report->show();
    }
    void pick(const fs::path& card) {
        models->cardPrep().takeCard(qpath(card));
        ASSERT_TRUE(waitFor([&] { return !models->cardPrep().isBusy(); }, 30'000));
    }
    void eraseAndWait() {
        edit("erase.confirmation", models->cardPrep().cardName());
        auto* run = find<QPushButton>("erase.run");
        ASSERT_TRUE(waitFor([&] { return run->isEnabled(); }));
        run->click();
        ASSERT_TRUE(waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(models->cardPrep().phase()); },
                            30'000));
    }
    QString reportBanner(const char* part) const {
        auto* banner = report->findChild<ResultBanner*>("report.banner");
        auto* label = banner ? banner->findChild<QLabel*>(QString::fromLatin1(part)) : nullptr;
        return label ? label->text() : QString();
    }
    QString eraseText(const char* name) { return find<SymbolLabel>(name)->text(); }
    template <class Widget>
    Widget* inReport(const char* name) const {
        auto* widget = report->findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    bool shownInReport(const char* name) const { return inReport<QWidget>(name)->isVisibleTo(report.get()); }

    LoopVolumeSet loops;
    ThumbnailService thumbnails{QSize(112, 80), [](const QString&, QSize) { return QImage(); }};
    std::unique_ptr<WindowModels> models;
    std::unique_ptr<ReportView> report;
};

TEST_F(ErasedCardScreensTest, AfterTheErasesOwnDeletingBothSectionsSayTheCardWasErased) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("ext4", "EOS_DIGITAL");
    const fs::path root = card.mountPoint();
    shootStills(root, sandbox / "drive", 2, 1);
    makeWindow();
    const auto scanned = scanCard(root, {sandbox / "drive"});
    ASSERT_TRUE(scanned->isSafeToErase());
    models->scan().setLastReport(scanned);
    pick(root);
    EXPECT_TRUE(reportBanner("banner.subtitle").endsWith("Safe to erase."));
    EXPECT_TRUE(waitFor([&] { return eraseText("erase.banner").startsWith("Verified"); }));

    eraseAndWait();
    EXPECT_TRUE(models->erasedReports().contains(scanned));
    // The Report section still shows the scan, but no longer vouches for the card.
    EXPECT_EQ(reportBanner("banner.title"), "The card was erased after this scan");
    EXPECT_EQ(reportBanner("banner.subtitle"),
              "This report no longer tells what is on the card. Scan it again before relying on it.");
    // The Erase Card section shows the outcome, and its own erase is not a change since the scan.
    EXPECT_TRUE(waitFor([&] { return !models->cardPrep().isBusy() && eraseText("erase.banner") == EraseTexts::erasedText(); }))
        << eraseText("erase.banner").toStdString();
    EXPECT_TRUE(waitFor([&] { return eraseText("erase.outcome").startsWith("Card erased and prepped for "); }))
        << eraseText("erase.outcome").toStdString();
    EXPECT_FALSE(find<QPushButton>("erase.run")->isEnabled());
    EXPECT_TRUE(shown("erase.acknowledgeRow")) << "an erased card is not verified";

    // A still shot after the erase is a change since the scan, named alone.
    shootStills(root, {}, 1, 7);
    const QString changed = QString::fromUtf8(
        "CHANGED SINCE THE SCAN — this card has changed since your last scan: 1 file was added (IMG_0007.JPG).");
    EXPECT_TRUE(waitFor([&] { return eraseText("erase.banner").startsWith(changed); }, 10'000))
        << eraseText("erase.banner").toStdString();
    EXPECT_EQ(reportBanner("banner.title"), "The card was erased after this scan");
    // The erase's outcome was about a card that now holds something else.
    EXPECT_TRUE(waitFor([&] { return !shown("erase.outcome"); })) << eraseText("erase.outcome").toStdString();
    EXPECT_TRUE(std::holds_alternative<CardPrepViewModel::Idle>(models->cardPrep().phase()));

    // A new scan of the card is a report of its own: the record does not touch it.
    fs::copy_file(root / "DCIM/100CANON/IMG_0007.JPG", sandbox / "drive/Shoot/IMG_0007.JPG");
    const auto rescanned = scanCard(root, {sandbox / "drive"});
    models->scan().setLastReport(rescanned);
    EXPECT_EQ(reportBanner("banner.title"), "The 1 clip is backed up");
    EXPECT_TRUE(waitFor([&] { return eraseText("erase.banner").startsWith("Verified"); }));
}

TEST_F(ErasedCardScreensTest, AnErasedCardsRescueOffersNoCopyAndItsOutcomeAndTheErasesSayWhatIsTrue) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("ext4", "EOS_DIGITAL");
    const fs::path root = card.mountPoint();
    shootStills(root, sandbox / "drive", 2, 1);
    shootStills(root, {}, 1, 3);  // only on the card
    const fs::path rescueFolder = sandbox / "rescue";
    fs::create_directories(rescueFolder);
    Dialogs dialogs;
    dialogs.chooseFolder = [&](const FolderRequest&) { return std::optional<QString>(qpath(rescueFolder)); };
    makeWindow(dialogs);
    const auto scanned = scanCard(root, {sandbox / "drive"});
    models->scan().setLastReport(scanned);
    pick(root);
    models->missingSync().pickDestination();
    auto* sync = inReport<QPushButton>("rescue.sync");
    EXPECT_TRUE(shownInReport("rescue.sync"));
    EXPECT_TRUE(sync->isEnabled());
    EXPECT_FALSE(shownInReport("rescue.erasedNote"));

    // A rescue that fails with its file still on the card says so, and offers no rescan: a
    // scan would find the same.
    fs::remove(rescueFolder);
    sync->click();
    ASSERT_TRUE(waitFor([&] { return !models->missingSync().isRunning(); }, 30'000));
    auto* outcome = inReport<QLabel>("rescue.outcome");
    EXPECT_EQ(outcome->text(), "1 of 1 file failed — the card still holds the only copy of those. Details in the "
                               "Production Log tab.");
    EXPECT_FALSE(shownInReport("rescue.rerunNote"));

    // Erased: the group says so and offers no copy; the outcome shown stays, now true again.
    find<QCheckBox>("erase.acknowledge")->click();
    eraseAndWait();
    EXPECT_TRUE(shownInReport("rescue.erasedNote"));
    EXPECT_EQ(inReport<QLabel>("rescue.erasedNote")->text(), ReportTexts::erasedRescueNote());
    EXPECT_FALSE(shownInReport("rescue.sync"));
    EXPECT_FALSE(shownInReport("rescue.change"));
    EXPECT_TRUE(shownInReport("rescue.done"));
    EXPECT_TRUE(waitFor([&] {
        return outcome->text() == "1 of 1 file failed — those are no longer on the card. Details in the Production "
                                  "Log tab.";
    })) << outcome->text().toStdString();
    EXPECT_FALSE(shownInReport("rescue.rerunNote"));
    EXPECT_TRUE(waitFor([&] { return eraseText("erase.outcome").startsWith("Card erased and prepped for "); }));

    // A new scan of the refilled card: the erase's outcome goes with the old report, and the
    // new report's rescue is offered again.
    shootStills(root, {}, 1, 8);
    ASSERT_TRUE(waitFor([&] { return !models->cardPrep().isBusy(); }, 10'000));
    models->scan().setLastReport(scanCard(root, {sandbox / "drive"}));
    EXPECT_TRUE(waitFor([&] { return !shown("erase.outcome"); })) << eraseText("erase.outcome").toStdString();
    EXPECT_TRUE(waitFor([&] { return eraseText("erase.banner").startsWith("STOP"); }))
        << eraseText("erase.banner").toStdString();
    EXPECT_FALSE(shownInReport("rescue.erasedNote"));
    EXPECT_TRUE(shownInReport("rescue.sync"));
    EXPECT_FALSE(shownInReport("rescue.done"));
}

TEST_F(ErasedCardScreensTest, TheWarningCountsWhatTheEraseDeletesAndNotTheSparedSystemFolders) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("ext4", "A001");
    const fs::path root = card.mountPoint();
    writeFile(root / "DCIM/100CANON/IMG_0001.JPG", std::string(4'000'000, 'a'));
    writeFile(root / "DCIM/100CANON/IMG_0002.JPG", std::string(2'000'000, 'b'));
    writeFile(root / ".DS_Store", std::string(600'000, 'c'));  // litter: the erase deletes it too
    // Spared by the erase, so not counted.
    writeFile(root / ".Trashes/501/IMG_0000.JPG", std::string(9'000'000, 'd'));
    writeFile(root / "System Volume Information/IndexerVolumeGuid", std::string(76, 'e'));
    makeWindow();
    pick(root);
    const int64_t deleted = 4'000'000 + 2'000'000 + 600'000;
    // DCIM, .DS_Store, .Trashes, System Volume Information and lost+found at the top.
    EXPECT_EQ(models->cardPrep().preview(), (CardPrepViewModel::Preview{5, 3, deleted}));
    const QString contents = QString("3 files \u00b7 ") + Formats::fileByteCount(deleted);
    EXPECT_TRUE(waitFor([&] { return find<QLabel>("erase.contents")->text() == contents; }))
        << find<QLabel>("erase.contents")->text().toStdString();
    EXPECT_EQ(eraseText("erase.warning"),
              QString::fromUtf8("This permanently deletes all 3 files (%1) on “mnt”. There is no undo.")
                  .arg(Formats::fileByteCount(deleted)));

    // What the erase then frees is what it was said to delete.
    find<QCheckBox>("erase.acknowledge")->click();
    eraseAndWait();
    const auto& summary = std::get<CardPrepViewModel::Done>(models->cardPrep().phase()).summary;
    EXPECT_EQ(summary.bytesFreed, deleted);
    EXPECT_TRUE(fs::exists(root / ".Trashes/501/IMG_0000.JPG"));
    EXPECT_TRUE(fs::exists(root / "System Volume Information/IndexerVolumeGuid"));
}

}  // namespace
}  // namespace brindlecove::testing
