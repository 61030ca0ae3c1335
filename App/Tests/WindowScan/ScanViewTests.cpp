// The Scan section offscreen: what each state draws (progress caption and percent, the
// estimate, the chart, the note precedence, the result summary, failures), the drive toggles
// including the ones of drives no longer granted, and the controls' enabled states.

#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/Views/ElidedLabel.hpp"
#include "BrindlecoveApp/Views/ScanView.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/SymbolLabel.hpp"
#include "BrindlecoveApp/Views/TrendChart.hpp"
#include "Support/AppTestSandbox.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;

class ScanViewTest : public testing::AppSandboxedTest {
protected:
    void SetUp() override {
        AppSandboxedTest::SetUp();
        ScanViewModel::Dependencies dependencies;
        dependencies.dialogs.chooseFolder = [this](const FolderRequest&) {
            return std::optional<QString>(qpath(sandbox / "CARD"));
        };
        fs::create_directories(sandbox / "CARD");
        model = std::make_unique<ScanViewModel>(std::move(dependencies));
        view = std::make_unique<ScanView>(*model, [this] { return volumes; });
        view->resize(700, 900);
    }
    void TearDown() override {
        view.reset();
        model.reset();
        AppSandboxedTest::TearDown();
    }

    template <class W>
    W* find(const QString& name) const {
        auto* widget = view->findChild<W*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    bool shown(const QString& name) const { return find<QWidget>(name)->isVisibleTo(view.get()); }
    QString symbolText(const QString& name) const { return find<SymbolLabel>(name)->text(); }
    QList<QCheckBox*> toggles() const {
        QList<QCheckBox*> list;
        for (auto* box : view->findChildren<QCheckBox*>(QStringLiteral("scan.drive")))
            if (box->parent()) list.append(box);
        return list;
    }
    void grant(const std::string& name) {
        fs::create_directories(sandbox / name);
        tessaline::SecurityScopedBookmarkStore().grant(sandbox / name);
    }

    static ScanScreenState running(ScanPhase phase) {
        ScanScreenState state;
        state.phase = std::move(phase);
        state.cardPath = QStringLiteral("/media/u/EOS_DIGITAL");
        return state;
    }

    std::vector<tessaline::VolumeInfo> volumes;
    std::unique_ptr<ScanViewModel> model;
    std::unique_ptr<ScanView> view;
};

TEST_F(ScanViewTest, ProgressRowShowsTruncatedPercentEstimateChartAndTotal) {
    ScanScreenState state = running(scan_phase::ScanningCard{MediaKind::videos, 3, 7});
    state.progressHistory = {{1, 0.0, 0}};
    state.totalFilesSearched = 0;
    view->render(state);
    EXPECT_TRUE(shown("scan.status.progress"));
    EXPECT_FALSE(shown("scan.status.busy"));
    EXPECT_EQ(symbolText("scan.status.caption"), QStringLiteral("Searching videos on the card\u2026  3 / 7 files (42%)"));
    EXPECT_EQ(find<SymbolLabel>("scan.status.caption")->symbol(), QStringLiteral("video"));
    EXPECT_EQ(find<QProgressBar>("scan.status.bar")->maximum(), 7);
    EXPECT_EQ(find<QProgressBar>("scan.status.bar")->value(), 3);
    EXPECT_FALSE(shown("scan.status.estimate"));
    EXPECT_FALSE(shown("scan.status.chart")) << "one point draws no chart";
    EXPECT_FALSE(shown("scan.status.total"));

    state.phase = scan_phase::ScanningDrive{QStringLiteral("BACKUP_A"), MediaKind::audio, 40, 41};
    state.progressHistory = {{1, 0.0, 0}, {2, 2.5, 20}};
    state.estimatedSecondsRemaining = 3599;
    state.totalFilesSearched = 61;
    view->render(state);
    EXPECT_EQ(symbolText("scan.status.caption"),
              QStringLiteral("Searching audio on \u201CBACKUP_A\u201D\u2026  40 / 41 files (97%)"));
    EXPECT_EQ(find<SymbolLabel>("scan.status.caption")->symbol(), QStringLiteral("waveform"));
    EXPECT_EQ(find<QLabel>("scan.status.estimate")->text(), QStringLiteral("~59m 59s remaining"));
    EXPECT_TRUE(shown("scan.status.chart"));
    EXPECT_EQ(find<TrendChart>("scan.status.chart")->points().size(), 2);
    EXPECT_EQ(symbolText("scan.status.total"), QStringLiteral("Total files searched: 61"));

    state.estimatedSecondsRemaining = 3600;
    state.phase = scan_phase::Verifying{9, 8};
    view->render(state);
    EXPECT_EQ(find<QLabel>("scan.status.estimate")->text(), QStringLiteral("~1h remaining"));
    EXPECT_EQ(symbolText("scan.status.caption"),
              QStringLiteral("Verifying matches against file content\u2026  9 / 8 clips (112%)"))
        << "the percent is not clamped";
    // The other files' part counts files, in the user's number format.
    state.phase = scan_phase::Verifying{1000, 2000, ProofPart::otherFiles};
    view->render(state);
    EXPECT_EQ(symbolText("scan.status.caption"),
              QStringLiteral("Verifying the card's other files\u2026  1,000 / 2,000 files (50%)"));
    EXPECT_EQ(find<SymbolLabel>("scan.status.caption")->symbol(), QStringLiteral("checkmark.seal"));
}

TEST_F(ScanViewTest, EmptyStagesAndMatchingShowOnlyABusyBarWithTheirText) {
    ScanScreenState state = running(scan_phase::ScanningCard{MediaKind::photos, 0, 0});
    state.progressHistory = {{1, 0.0, 0}, {2, 1.0, 5}};
    state.totalFilesSearched = 5;
    view->render(state);
    EXPECT_TRUE(shown("scan.status.busy"));
    EXPECT_FALSE(shown("scan.status.progress"));
    EXPECT_EQ(find<QLabel>("scan.status.busyText")->text(), QStringLiteral("Searching photos on the card\u2026"));
    EXPECT_EQ(find<QProgressBar>("scan.status.busyBar")->maximum(), 0);

    state.phase = scan_phase::Matching{};
    view->render(state);
    EXPECT_EQ(find<QLabel>("scan.status.busyText")->text(), QStringLiteral("Matching card against drives\u2026"));
    state.phase = scan_phase::Verifying{0, 0};
    view->render(state);
    EXPECT_EQ(find<QLabel>("scan.status.busyText")->text(), QStringLiteral("Verifying matches against file content\u2026"));
    EXPECT_FALSE(shown("scan.status.progress"));
}

TEST_F(ScanViewTest, StoppingNoteWinsOverTheSafeNoteAndTheResumeBanner) {
    ScanScreenState state = running(scan_phase::ScanningDrive{QStringLiteral("B"), MediaKind::photos, 0, 0});
    state.resumeBanner = QStringLiteral("Resuming \u201CB\u201D \u2014 12 of 250 files already checked");
    view->render(state);
    EXPECT_TRUE(shown("scan.stop"));
    EXPECT_EQ(find<QPushButton>("scan.stop")->text(), QStringLiteral("Stop"));
    EXPECT_TRUE(shown("scan.note.safe"));
    EXPECT_TRUE(shown("scan.note.resume"));
    EXPECT_EQ(symbolText("scan.note.resume"), *state.resumeBanner);
    EXPECT_FALSE(shown("scan.note.stopping"));
    EXPECT_FALSE(find<QPushButton>("scan.card.choose")->isEnabled());
    EXPECT_FALSE(find<QCheckBox>("scan.allTypes")->isEnabled());

    state.isStopping = true;
    view->render(state);
    EXPECT_TRUE(shown("scan.note.stopping"));
    EXPECT_EQ(find<SymbolLabel>("scan.note.stopping")->symbol(), QStringLiteral("hourglass"));
    EXPECT_FALSE(shown("scan.note.safe"));
    EXPECT_FALSE(shown("scan.note.resume"));
    EXPECT_EQ(find<QPushButton>("scan.stop")->text(), QStringLiteral("Stopping\u2026"));
    EXPECT_FALSE(find<QPushButton>("scan.stop")->isEnabled());

    state.phase = scan_phase::Failed{QStringLiteral("Scan stopped.")};
    state.isStopping = false;
    state.canStartScan = true;
    view->render(state);
    EXPECT_FALSE(shown("scan.stop"));
    EXPECT_FALSE(shown("scan.note.safe"));
    EXPECT_TRUE(shown("scan.status.failed"));
    EXPECT_EQ(symbolText("scan.status.failed"), QStringLiteral("Scan stopped."));
    EXPECT_EQ(find<SymbolLabel>("scan.status.failed")->symbol(), QStringLiteral("exclamationmark.triangle.fill"));
    EXPECT_TRUE(find<QToolButton>("scan.start")->isEnabled());
    EXPECT_TRUE(find<QPushButton>("scan.card.choose")->isEnabled());
}

TEST_F(ScanViewTest, DoneShowsTheSummaryWithUnreadableAndSkippedLinesOnlyWithAReport) {
    ScanScreenState state = running(scan_phase::Done{});
    view->render(state);
    EXPECT_FALSE(shown("scan.status.summary")) << "done without a report shows nothing";

    state.lastReport = ScanScreenState::Summary{12, 3, 1, 2, 0};
    view->render(state);
    EXPECT_TRUE(shown("scan.status.summary"));
    EXPECT_EQ(find<QLabel>("scan.summary.counts")->text(),
              QStringLiteral("Confirmed 12 \u00B7 Missing 3 \u00B7 Duplicates 1 \u00B7 Name-mismatch 2"));
    EXPECT_FALSE(shown("scan.summary.unreadable"));
    EXPECT_FALSE(shown("scan.summary.skipped"));

    state.lastReport->unreadableCardFolders = 2;
    state.skippedDriveLabels = {QStringLiteral("A"), QStringLiteral("B")};
    view->render(state);
    EXPECT_EQ(symbolText("scan.summary.unreadable"),
              QStringLiteral("Couldn't read 2 folders on the card \u2014 their files weren't checked."));
    EXPECT_EQ(symbolText("scan.summary.skipped"),
              QStringLiteral("Skipped (not mounted right now): A, B. Missing count above includes their contents."));
}

TEST_F(ScanViewTest, TheSummaryNamesOtherFilesOnlyOnTheCardWithOrWithoutMedia) {
    ScanScreenState state = running(scan_phase::Done{});
    state.lastReport = ScanScreenState::Summary{};
    view->render(state);
    EXPECT_FALSE(shown("scan.summary.otherFiles"));

    const QString line = QStringLiteral("1,254 other files are only on the card — A.TXT, B.TXT, C.TXT and 1,251 more");
    state.lastReport->otherFilesOnlyOnCard = line;
    view->render(state);
    EXPECT_EQ(find<QLabel>("scan.summary.counts")->text(),
              QStringLiteral("Confirmed 0 · Missing 0 · Duplicates 0 · Name-mismatch 0"));
    ASSERT_TRUE(shown("scan.summary.otherFiles"));
    EXPECT_EQ(symbolText("scan.summary.otherFiles"), line);
    EXPECT_EQ(find<SymbolLabel>("scan.summary.otherFiles")->color(), Style::bad());

    state.lastReport->confirmed = 12;
    state.lastReport->missing = 3;
    view->render(state);
    EXPECT_TRUE(shown("scan.summary.otherFiles")) << "named beside clips too";
    state.lastReport->otherFilesOnlyOnCard.clear();
    view->render(state);
    EXPECT_FALSE(shown("scan.summary.otherFiles"));
}

TEST_F(ScanViewTest, DriveTogglesFollowTheSelectionAndUngrantedSelectionsCanBeSwitchedOff) {
    view->render(ScanScreenState{});
    EXPECT_TRUE(shown("scan.drives.none"));
    EXPECT_TRUE(toggles().isEmpty());

    grant("Alpha");
    grant("Beta");
    model->setDriveSelected(QStringLiteral("Gone"), true);
    drainEvents();
    QList<QCheckBox*> boxes = toggles();
    ASSERT_EQ(boxes.size(), 3);
    EXPECT_EQ(boxes[0]->text(), QStringLiteral("Alpha"));
    EXPECT_EQ(boxes[1]->text(), QStringLiteral("Beta"));
    EXPECT_EQ(boxes[2]->text(), QStringLiteral("Gone (not granted)"));
    EXPECT_TRUE(boxes[2]->isChecked());
    EXPECT_FALSE(shown("scan.drives.allNote")) << "a selected label hides the note even when not granted";

    boxes[2]->click();
    drainEvents();
    EXPECT_TRUE(model->selectedDriveLabels().isEmpty());
    ASSERT_EQ(toggles().size(), 2);
    EXPECT_TRUE(shown("scan.drives.allNote"));

    const QStringList before = model->selectedDriveLabels();
    toggles()[1]->click();
    drainEvents();
    EXPECT_EQ(model->selectedDriveLabels(), QStringList{"Beta"});
    EXPECT_TRUE(toggles()[1]->isChecked());
    toggles()[1]->click();
    drainEvents();
    EXPECT_EQ(model->selectedDriveLabels(), before);
}

TEST_F(ScanViewTest, StartNeedsACardAndFreshScanGoesThroughTheMenuAction) {
    drainEvents();
    EXPECT_FALSE(find<QToolButton>("scan.start")->isEnabled());
    EXPECT_FALSE(find<QAction>("scan.fresh")->isEnabled());
    EXPECT_TRUE(shown("scan.card.none"));
    EXPECT_EQ(find<QLabel>("scan.allTypes.explanation")->text(),
              QStringLiteral("Off: camera media only (photos, video, audio + their sidecar files)."));
    find<QCheckBox>("scan.allTypes")->click();
    drainEvents();
    EXPECT_TRUE(model->includeAllFiles());
    EXPECT_TRUE(find<QLabel>("scan.allTypes.explanation")->text().startsWith(QStringLiteral("Every file is verified")));

    find<QPushButton>("scan.card.choose")->click();
    drainEvents();
    EXPECT_TRUE(shown("scan.card.selected"));
    EXPECT_EQ(find<ElidedLabel>("scan.card.path")->fullText(), qpath(sandbox / "CARD"));
    EXPECT_TRUE(find<QToolButton>("scan.start")->isEnabled());
    find<QAction>("scan.fresh")->trigger();
    drainEvents();
    EXPECT_EQ(model->phase(), ScanPhase(scan_phase::Failed{ScanViewModel::noDrivesMessage}));
    EXPECT_EQ(symbolText("scan.status.failed"), ScanViewModel::noDrivesMessage);
}

TEST_F(ScanViewTest, ACardGrantedAsItsOwnBackupDriveIsNamedAsSuch) {
    // The card itself is the one granted drive: it is mounted, but lies on the card.
    const auto labels = [&] {
        grant("CARD");
        return tessaline::SecurityScopedBookmarkStore().grantedVolumeLabels();
    }();
    ASSERT_EQ(labels.size(), 1u);
    model->pickCard();
    model->startScan(false);
    ASSERT_TRUE(waitFor([&] { return std::holds_alternative<scan_phase::Done>(model->phase()); }));
    drainEvents();
    EXPECT_TRUE(shown("scan.status.summary"));
    EXPECT_FALSE(shown("scan.summary.skipped"));
    EXPECT_TRUE(shown("scan.summary.skippedOnCard"));
    EXPECT_EQ(symbolText("scan.summary.skippedOnCard"),
              QStringLiteral("Skipped (on the card \u2014 not a backup): ") +
                  QString::fromStdString(labels.front()) + QLatin1Char('.'));

    // Beside a drive that is not connected, each is named for its own reason.
    ScanScreenState state = running(scan_phase::Done{});
    state.lastReport = ScanScreenState::Summary{};
    state.skippedDriveLabels = {QStringLiteral("BACKUP_B")};
    state.skippedOnCardLabels = {QStringLiteral("EOS_DIGITAL")};
    view->render(state);
    EXPECT_EQ(symbolText("scan.summary.skipped"),
              QStringLiteral("Skipped (not mounted right now): BACKUP_B. Missing count above includes their contents."));
    EXPECT_EQ(symbolText("scan.summary.skippedOnCard"),
              QStringLiteral("Skipped (on the card \u2014 not a backup): EOS_DIGITAL."));
}

TEST_F(ScanViewTest, InsertedVolumesAreListedOnShowAndOnRefresh) {
    view->show();
    drainEvents();
    EXPECT_TRUE(shown("scan.volumes.none"));
    volumes = {{"/media/u/EOS_DIGITAL", "EOS_DIGITAL"}, {"/media/u/BACKUP_A", "BACKUP_A"}};
    find<QPushButton>("scan.volumes.refresh")->click();
    drainEvents();
    EXPECT_FALSE(shown("scan.volumes.none"));
    QStringList labels;
    for (auto* row : view->findChildren<SymbolLabel*>(QStringLiteral("scan.volume")))
        if (row->parent()) labels.append(row->text());
    EXPECT_EQ(labels, (QStringList{"EOS_DIGITAL", "BACKUP_A"}));
}

}  // namespace
}  // namespace brindlecove
