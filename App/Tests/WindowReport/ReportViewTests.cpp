#include "BrindlecoveApp/AppEvents.hpp"
#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/ViewModels/ErasedReports.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/PreviewController.hpp"
#include "BrindlecoveApp/ViewModels/ReportFileListModel.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/ElidedLabel.hpp"
#include "BrindlecoveApp/Views/EmptyStateView.hpp"
#include "BrindlecoveApp/Views/ReportFileList.hpp"
#include "BrindlecoveApp/Views/ReportView.hpp"
#include "BrindlecoveApp/Views/ResultBanner.hpp"
#include "BrindlecoveApp/Views/StatCard.hpp"
#include "BrindlecoveApp/Views/ThumbnailService.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/ReportFixtures.hpp"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace brindlecove;
using namespace brindlecove::testing;
using tessaline::MatchStatus;
namespace fs = std::filesystem;

namespace {

class ReportViewTest : public AppSandboxedTest {
protected:
    void SetUp() override {
        AppSandboxedTest::SetUp();
        dialogs.saveFile = [this](const SaveRequest& request) -> std::optional<QString> {
            ++panels;
            if (onPanel) onPanel();
            lastSave = request;
            return saveAnswer;
        };
        dialogs.chooseFolder = [this](const FolderRequest&) { return folderAnswer; };
        scan = std::make_unique<ScanViewModel>(ScanViewModel::Dependencies{dialogs});
        MissingSyncViewModel::Dependencies rescueDeps;
        rescueDeps.dialogs = dialogs;
        rescueDeps.bookmarkStoreURL = sandbox.path() / "bookmarks.json";
        rescue = std::make_unique<MissingSyncViewModel>(rescueDeps);
        thumbnails = std::make_unique<ThumbnailService>(QSize(112, 80), [](const QString&, QSize) { return QImage(); });
        FileRevealer revealer;
        revealer.reveal = [this](const QString& path, const FileRevealer::Failed&) { revealed << path; };
        view = std::make_unique<ReportView>(*scan, *rescue, erased, dialogs, revealer, *thumbnails);
        view->resize(900, 800);
        view->show();
    }
    void TearDown() override {
        view.reset();
        rescue.reset();
        scan.reset();
        thumbnails.reset();
        AppSandboxedTest::TearDown();
    }

    template <class T>
    T* find(const char* name) const {
        return view->findChild<T*>(QString::fromLatin1(name));
    }
    QString bannerTitle() const {
        auto* banner = find<ResultBanner>("report.banner");
        return banner ? banner->findChild<QLabel*>("banner.title")->text() : QString();
    }
    long long tile(const char* name) const { return find<StatCard>(name)->count(); }
    bool shown(const char* name) const { return find<QWidget>(name)->isVisibleTo(view.get()); }

    Dialogs dialogs;
    std::optional<QString> saveAnswer;
    std::optional<QString> folderAnswer;
    std::function<void()> onPanel;
    SaveRequest lastSave;
    int panels = 0;
    QStringList revealed;
    ErasedReports erased;
    std::unique_ptr<ScanViewModel> scan;
    std::unique_ptr<MissingSyncViewModel> rescue;
    std::unique_ptr<ThumbnailService> thumbnails;
    std::unique_ptr<ReportView> view;
};

}  // namespace

TEST_F(ReportViewTest, WithoutAReportOnlyTheEmptyState) {
    EXPECT_EQ(find<QLabel>("screen.title")->text(), "Report");
    auto* empty = find<EmptyStateView>("emptyState");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isVisible());
    EXPECT_EQ(empty->findChild<QLabel*>("emptyState.title")->text(), "No Report Yet");
    EXPECT_EQ(empty->findChild<QLabel*>("emptyState.description")->text(),
              "Run a scan from the Scan tab to see what's still only on the card.");
    EXPECT_FALSE(find<QToolButton>("report.export")->isVisible());
}

TEST_F(ReportViewTest, AReportAnEraseWasStartedOnSaysSoWhileShownAndOnlyForThatReport) {
    const auto safe = countsReport(0, 4);
    scan->setLastReport(safe);
    EXPECT_EQ(bannerTitle(), "All 4 clips are backed up");
    erased.add(safe);
    EXPECT_EQ(bannerTitle(), "The card was erased after this scan");
    EXPECT_EQ(find<ResultBanner>("report.banner")->tone(), ResultBanner::Tone::warn);
    EXPECT_EQ(tile("report.tile.confirmed"), 4) << "the scan's counts stay";
    scan->setLastReport(countsReport(0, 3));
    EXPECT_EQ(bannerTitle(), "All 3 clips are backed up");
    scan->setLastReport(safe);
    EXPECT_EQ(bannerTitle(), "The card was erased after this scan");
    erased.remove(safe);  // an erase refused before it deleted anything
    EXPECT_EQ(bannerTitle(), "All 4 clips are backed up");
}

TEST_F(ReportViewTest, BannerTilesAndRescueFollowTheReport) {
    scan->setLastReport(countsReport(3, 5, 1, 1));
    EXPECT_TRUE(find<QToolButton>("report.export")->isVisible());
    EXPECT_EQ(bannerTitle(), "3 of 10 clips are still only on the card");
    EXPECT_EQ(find<ResultBanner>("report.banner")->tone(), ResultBanner::Tone::bad);
    EXPECT_EQ(tile("report.tile.missing"), 3);
    EXPECT_EQ(tile("report.tile.confirmed"), 5);
    EXPECT_EQ(tile("report.tile.mismatches"), 1);
    EXPECT_EQ(tile("report.tile.duplicates"), 1);
    EXPECT_TRUE(shown("report.rescue"));
    EXPECT_EQ(find<QPushButton>("rescue.sync")->text(), "Sync 3 Missing Clips to Drive");
    EXPECT_EQ(view->fileList()->model().rowCount(), 10);

    scan->setLastReport(countsReport(10, 0));
    EXPECT_EQ(bannerTitle(), "None of the 10 clips were found on the drives you scanned");

    scan->setLastReport(countsReport(1, 2));
    EXPECT_EQ(find<QPushButton>("rescue.sync")->text(), "Sync 1 Missing Clip to Drive");

    scan->setLastReport(countsReport(0, 8, 2));
    EXPECT_EQ(bannerTitle(), "2 of 10 clips have a same-named but different file on the drive");
    EXPECT_EQ(find<ResultBanner>("report.banner")->tone(), ResultBanner::Tone::warn);
    EXPECT_FALSE(shown("report.rescue"));

    scan->setLastReport(countsReport(0, 4));
    EXPECT_EQ(bannerTitle(), "All 4 clips are backed up");
    EXPECT_EQ(find<ResultBanner>("report.banner")->tone(), ResultBanner::Tone::good);

    scan->setLastReport(makeReport(countsReport(0, 4)->results, "/media/u/CARD", {"/media/u/CARD/DCIM/101"}));
    EXPECT_EQ(bannerTitle(), "The card was not fully read");
    EXPECT_EQ(find<ResultBanner>("report.banner")->tone(), ResultBanner::Tone::bad);

    scan->setLastReport(countsReport(0, 0));
    drainEvents();
    EXPECT_EQ(bannerTitle(), "No media found on the card");
    EXPECT_EQ(tile("report.tile.missing"), 0);
    EXPECT_EQ(view->fileList()->model().rowCount(), 0);
    // Old summaries are gone, not stacked.
    EXPECT_EQ(view->findChildren<ResultBanner*>("report.banner").size(), 1);
}

TEST_F(ReportViewTest, OtherFilesOnlyOnTheCardGetALineAndTheRescue) {
    auto report = std::make_shared<tessaline::VerificationReport>(*countsReport(0, 10));
    scan->setLastReport(report);
    EXPECT_FALSE(view->findChild<QLabel*>("report.otherFiles"));
    EXPECT_FALSE(shown("report.rescue"));

    auto withOthers = std::make_shared<tessaline::VerificationReport>(*report);
    for (const char* name : {"00000.CPI", "00000.MPL", "INDEX.BDM", "NOTES.TXT"})
        withOthers->otherFiles.push_back(
            {std::filesystem::path("/media/u/CARD") / name, 10, tessaline::OtherFile::Role::other, std::nullopt});
    scan->setLastReport(withOthers);
    EXPECT_EQ(bannerTitle(), "All 10 clips are backed up, but 4 other files are only on the card");
    EXPECT_EQ(find<ResultBanner>("report.banner")->tone(), ResultBanner::Tone::bad);
    EXPECT_EQ(tile("report.tile.confirmed"), 10);
    auto* line = view->findChild<QLabel*>("report.otherFiles");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->text(), "Other files: 0 confirmed · 4 only on the card");
    EXPECT_TRUE(shown("report.rescue"));
    EXPECT_EQ(find<QPushButton>("rescue.sync")->text(), "Sync 4 Missing Files to Drive");
}

TEST_F(ReportViewTest, ACardOfOtherFilesAloneIsNotNothingToVerify) {
    auto report = std::make_shared<tessaline::VerificationReport>(*countsReport(0, 0));
    for (const char* name : {"LOG_0001.CSV", "LOG_0002.CSV", "NOTES.TXT", "SETUP.INI", "SHOT LIST.PDF"})
        report->otherFiles.push_back(
            {std::filesystem::path("/media/u/CARD") / name, 10, tessaline::OtherFile::Role::other, std::nullopt});
    scan->setLastReport(report);
    drainEvents();
    EXPECT_EQ(bannerTitle(), "5 other files are only on the card");
    EXPECT_EQ(find<ResultBanner>("report.banner")->tone(), ResultBanner::Tone::bad);
    EXPECT_EQ(find<ResultBanner>("report.banner")->findChild<QLabel*>("banner.subtitle")->text(),
              "No media was found, and they are on none of the drives you scanned: LOG_0001.CSV, LOG_0002.CSV, "
              "NOTES.TXT and 2 more. Not safe to erase.");
    EXPECT_EQ(find<QLabel>("report.otherFiles")->text(), "Other files: 0 confirmed · 5 only on the card");
    EXPECT_TRUE(shown("report.rescue"));
}

TEST_F(ReportViewTest, DestinationRowsAndTheSyncButton) {
    scan->setLastReport(countsReport(2, 3));
    EXPECT_TRUE(shown("rescue.pickHint"));
    EXPECT_FALSE(find<QPushButton>("rescue.sync")->isEnabled());
    EXPECT_FALSE(shown("rescue.stop"));

    folderAnswer = qtPath(sandbox.path());
    find<QPushButton>("rescue.change")->click();
    EXPECT_EQ(find<QLabel>("rescue.destinationLabel")->text(), "Copy to");
    EXPECT_EQ(find<ElidedLabel>("rescue.destinationPath")->fullText(), qtPath(sandbox.path()));
    EXPECT_FALSE(shown("rescue.suggestionNote"));
    EXPECT_FALSE(shown("rescue.pickHint"));
    EXPECT_TRUE(find<QPushButton>("rescue.sync")->isEnabled());

    find<QCheckBox>("rescue.mirror")->click();
    EXPECT_TRUE(rescue->preserveStructure());
}

TEST_F(ReportViewTest, ASuggestedDestinationShowsItsNote) {
    const fs::path drive = sandbox.path() / "drive" / "Shoot";
    fs::create_directories(drive / "A");
    fs::create_directories(drive / "B");
    auto report = makeReport({clip({fingerprint("/c/1.MOV", 1)}, MatchStatus::confirmed(drive / "A/1.MOV")),
                              clip({fingerprint("/c/2.MOV", 1)}, MatchStatus::confirmed(drive / "B/2.MOV")),
                              clip({fingerprint("/c/3.MOV", 1)}, MatchStatus::missing())});
    scan->setLastReport(report);  // arrives while the list is shown
    EXPECT_EQ(find<QLabel>("rescue.destinationLabel")->text(), "Copy to (suggested)");
    EXPECT_EQ(find<ElidedLabel>("rescue.destinationPath")->fullText(), qtPath(drive));
    EXPECT_EQ(find<QLabel>("rescue.suggestionNote")->text(),
              "Where the 2 already-synced clips live. Use Change… to pick somewhere else.");

    // The next card's report confirms no clip: no suggestion, no note, nothing to sync to.
    scan->setLastReport(makeReport({clip({fingerprint("/d/1.MOV", 1)}, MatchStatus::missing())}));
    EXPECT_FALSE(rescue->destination());
    EXPECT_FALSE(shown("rescue.destinationLabel"));
    EXPECT_FALSE(shown("rescue.destinationPath"));
    EXPECT_FALSE(shown("rescue.suggestionNote"));
    EXPECT_FALSE(find<QPushButton>("rescue.sync")->isEnabled());
    // A suggestion again, from a report with one confirmed clip: its own count.
    scan->setLastReport(makeReport({clip({fingerprint("/e/1.MOV", 1)}, MatchStatus::confirmed(drive / "A/1.MOV")),
                                    clip({fingerprint("/e/2.MOV", 1)}, MatchStatus::missing())}));
    EXPECT_EQ(find<ElidedLabel>("rescue.destinationPath")->fullText(), qtPath(drive / "A"));
    EXPECT_EQ(find<QLabel>("rescue.suggestionNote")->text(),
              "Where the 1 already-synced clip lives. Use Change… to pick somewhere else.");
}

TEST_F(ReportViewTest, ARescueRunShowsProgressThenItsOutcome) {
    const fs::path card = sandbox.path() / "card";
    const fs::path drive = sandbox.path() / "drive";
    fs::create_directories(drive);
    tessaline::testing::writePatternFile(card / "DCIM/C0001.MP4", 200'000);
    auto report =
        withCardFiles(*makeReport({clip({fingerprint(card / "DCIM/C0001.MP4", 200'000)}, MatchStatus::missing())}, card));
    scan->setLastReport(report);
    folderAnswer = qtPath(drive);
    find<QPushButton>("rescue.change")->click();
    QSignalSpy archived(&AppEvents::instance(), &AppEvents::logArchived);
    find<QPushButton>("rescue.sync")->click();
    EXPECT_TRUE(shown("rescue.stop"));
    EXPECT_TRUE(shown("rescue.running"));
    EXPECT_FALSE(find<QPushButton>("rescue.change")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("rescue.sync")->isEnabled());
    EXPECT_EQ(find<QLabel>("rescue.runningText")->text(), "Copying missing files…");
    ASSERT_TRUE(waitFor([&] { return shown("rescue.done"); }));
    EXPECT_EQ(find<QLabel>("rescue.outcome")->text(), "The 1 missing file copied and verified byte-for-byte.");
    EXPECT_EQ(find<QLabel>("rescue.outcomeSymbol")->property("symbol").toString(), "checkmark.seal.fill");
    EXPECT_EQ(find<QLabel>("rescue.rerunNote")->text(), "Re-run the Scan to see the report go green.");
    EXPECT_FALSE(shown("rescue.stop"));
    EXPECT_TRUE(fs::exists(drive / "C0001.MP4"));
    EXPECT_TRUE(waitFor([&] { return archived.count() == 1; }));  // filed before the sandbox goes
}

TEST_F(ReportViewTest, ExportWritesTheReportShownWhenTheActionFired) {
    scan->setLastReport(countsReport(1, 1));
    const fs::path target = sandbox.path() / "report.csv";
    saveAnswer = qtPath(target);
    // A new scan finishes while the panel is open.
    onPanel = [this] { scan->setLastReport(countsReport(0, 7)); };
    find<QAction>("report.exportCsv")->trigger();
    EXPECT_EQ(lastSave.suggestedName, "Brindlecove Report.csv");
    const std::string text = tessaline::testing::readFile(target);
    EXPECT_NE(text.find("M1000.MOV"), std::string::npos);
    EXPECT_EQ(text.find("C1006.MOV"), std::string::npos);
    EXPECT_EQ(bannerTitle(), "All 7 clips are backed up");
}

TEST_F(ReportViewTest, AFailedExportShowsTheAlertAndACancelledOneNothing) {
    scan->setLastReport(countsReport(1, 1));
    saveAnswer.reset();
    find<QAction>("report.exportPdf")->trigger();
    EXPECT_EQ(panels, 1);
    EXPECT_EQ(lastSave.suggestedName, "Brindlecove Report.pdf");
    EXPECT_FALSE(view->exportAlert());

    tessaline::testing::writeFile(sandbox.path() / "plain-file", "x");
    saveAnswer = qtPath(sandbox.path() / "plain-file" / "report.pdf");
    find<QAction>("report.exportPdf")->trigger();
    QMessageBox* alert = view->exportAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text().isEmpty(), false);
    EXPECT_EQ(alert->windowTitle(), "Export Failed");
    alert->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(waitFor([&] { return view->exportAlert() == nullptr; }));
}

TEST_F(ReportViewTest, RowClickPreviewAndContextMenu) {
    auto report = makeReport({clip({fingerprint("/c/B.MOV", 1)}, MatchStatus::missing()),
                              clip({}, MatchStatus::missing()),
                              clip({fingerprint("/c/A.JPG", 1)}, MatchStatus::confirmed("/d/A.JPG"))});
    scan->setLastReport(report);
    ReportFileList* list = view->fileList();
    ASSERT_EQ(list->model().rowCount(), 3);
    QStringList requested;
    QObject::connect(list, &ReportFileList::previewRequested, [&](const QString& path) { requested << path; });
    QMenu* menu = list->makeContextMenu(list->model().index(1));
    menu->findChild<QAction*>("fileList.preview")->trigger();
    menu->findChild<QAction*>("fileList.reveal")->trigger();
    EXPECT_EQ(requested, QStringList{"/c/A.JPG"});
    EXPECT_EQ(revealed, QStringList{"/c/A.JPG"});
    menu->close();

    // A clip without a file closes the preview; "Show in File Manager" does nothing.
    QMenu* none = list->makeContextMenu(list->model().index(0));
    none->findChild<QAction*>("fileList.preview")->trigger();
    none->findChild<QAction*>("fileList.reveal")->trigger();
    EXPECT_EQ(requested.last(), "");
    EXPECT_EQ(revealed.size(), 1);
    none->close();
    // A click anywhere on a row previews its file; rows span the whole width.
    const QRect row = list->view()->visualRect(list->model().index(2));
    EXPECT_GT(row.width(), list->view()->viewport()->width() / 2);
    QTest::mouseClick(list->view()->viewport(), Qt::LeftButton, {}, QPoint(row.right() - 5, row.center().y()));
    EXPECT_EQ(requested.last(), "/c/B.MOV");
    EXPECT_EQ(view->previewController().current(), "/c/B.MOV");
}

// The window's own view models, as the section meets them when the next card is scanned.
class ReportSectionInWindowTest : public AppSandboxedTest {};

TEST_F(ReportSectionInWindowTest, ARescueOutcomeIsNotShownUnderTheNextCardsReport) {
    const fs::path card = sandbox.path() / "card";
    const fs::path drive = sandbox.path() / "drive";
    fs::create_directories(drive);
    tessaline::testing::writePatternFile(card / "DCIM/C0001.MP4", 200'000);
    Dialogs dialogs;
    dialogs.chooseFolder = [&](const FolderRequest&) { return std::optional<QString>(qtPath(drive)); };
    WindowModels models(dialogs);
    ThumbnailService thumbnails(QSize(112, 80), [](const QString&, QSize) { return QImage(); });
    auto makeView = [&] {
        auto view = std::make_unique<ReportView>(models.scan(), models.missingSync(), models.erasedReports(), dialogs,
                                                   FileRevealer{}, thumbnails);
        view->resize(900, 800);
        view->show();
        return view;
    };
    auto view = makeView();
    auto shown = [&](const char* name) {
        return view->findChild<QWidget*>(QString::fromLatin1(name))->isVisibleTo(view.get());
    };
    QSignalSpy archived(&AppEvents::instance(), &AppEvents::logArchived);
    models.scan().setLastReport(
        withCardFiles(*makeReport({clip({fingerprint(card / "DCIM/C0001.MP4", 200'000)}, MatchStatus::missing())}, card)));
    view->findChild<QPushButton*>("rescue.change")->click();
    view->findChild<QPushButton*>("rescue.sync")->click();
    ASSERT_TRUE(waitFor([&] { return shown("rescue.done"); }));
    EXPECT_EQ(view->findChild<QLabel*>("rescue.outcome")->text(),
              "The 1 missing file copied and verified byte-for-byte.");

    // The next card's report starts the group afresh, here and when the section is entered again.
    models.scan().setLastReport(countsReport(5, 0));
    EXPECT_TRUE(shown("report.rescue"));
    EXPECT_FALSE(shown("rescue.done"));
    EXPECT_TRUE(view->findChild<QPushButton*>("rescue.sync")->isEnabled());
    EXPECT_EQ(view->findChild<QPushButton*>("rescue.sync")->text(), "Sync 5 Missing Clips to Drive");
    view = makeView();
    EXPECT_TRUE(shown("report.rescue"));
    EXPECT_FALSE(shown("rescue.done"));
    EXPECT_TRUE(waitFor([&] { return archived.count() == 1; }));  // filed before the sandbox goes
}
