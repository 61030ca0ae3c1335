// The scan view model over real files: whole runs over plain folders and loop-mounted
// volumes, the published phases in order, the filed log and the saved text report, Stop at
// each stage, the double start, missing and ungranted drives, and a cache that cannot open.

#include "ScanCardFixture.hpp"
#include "ScanTestMedia.hpp"

#include "BrindlecoveApp/AppEvents.hpp"
#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/ReportsFolderStore.hpp"
#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"
#include "BrindlecoveApp/ViewModels/ScanScreenState.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/TestSandbox.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"
#include "Tessaline/Report/LogArchive.hpp"

#include <gtest/gtest.h>

#include <QDir>

#include <atomic>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using testing::GatingReader;
using testing::ScanCardFixture;
using tessaline::VerificationReport;

// The phase's case, for comparing the order of phases.
enum class P { card, drive, verifying, failed, idle, matching, done };
P caseOf(const ScanPhase& phase) { return P(phase.index()); }

class ScanViewModelTest : public testing::AppSandboxedTest {
protected:
    void SetUp() override {
        AppSandboxedTest::SetUp();
        ScanCardFixture::writeCard(card());
        ScanCardFixture::writeDrive(drive());
    }

    void TearDown() override {
        // Filing and report writing finish inside this test's sandbox.
        Executor::shared().waitForDone(30'000);
        AppSandboxedTest::TearDown();
    }

    fs::path card() const { return sandbox / "CARD"; }
    fs::path drive() const { return sandbox / "Backup"; }
    // Grants `folder` and answers the label it was filed under: the name of the volume that
    // holds it, or the folder's own name where that volume has none (wherever the sandbox lies).
    static QString grant(const fs::path& folder) {
        tessaline::SecurityScopedBookmarkStore store;
        store.grant(folder);
        return QString::fromStdString(store.grantedVolumeLabels().back());
    }

    std::unique_ptr<ScanViewModel> makeModel(std::shared_ptr<tessaline::MetadataReader> reader = nullptr,
                                             int threads = 0) {
        ScanViewModel::Dependencies dependencies;
        dependencies.dialogs.chooseFolder = [this](const FolderRequest& request) {
            lastRequest = request;
            return std::optional<QString>(qpath(card()));
        };
        dependencies.environment.fingerprintThreads = threads;
        dependencies.environment.makeReader = [this, reader]() -> std::shared_ptr<tessaline::MetadataReader> {
            ++readersMade;
            return reader ? reader : std::make_shared<tessaline::NativeMetadataReader>();
        };
        auto model = std::make_unique<ScanViewModel>(std::move(dependencies));
        QObject::connect(model.get(), &ScanViewModel::changed, model.get(), [this, m = model.get()] {
            if (phases.empty() || phases.back() != m->phase()) phases.push_back(m->phase());
        });
        return model;
    }

    static bool finished(const ScanViewModel& model) { return !model.runningNoun() && !model.isRunning(); }

    std::vector<P> phaseCases() const {
        std::vector<P> cases;
        for (const ScanPhase& phase : phases)
            if (cases.empty() || cases.back() != caseOf(phase)) cases.push_back(caseOf(phase));
        return cases;
    }

    std::vector<ScanPhase> phases;
    std::atomic<int> readersMade{0};
    FolderRequest lastRequest;
};

TEST_F(ScanViewModelTest, WholeScanOverFoldersPublishesTheReportFilesItAndSavesItsText) {
    const QString driveLabel = grant(drive());
    const fs::path reports = sandbox / "Reports";
    fs::create_directories(reports);
    ASSERT_TRUE(ReportsFolderStore::choose(reports));
    auto model = makeModel();
    int archived = 0;
    QObject::connect(&AppEvents::instance(), &AppEvents::logArchived, model.get(), [&] { ++archived; });
    model->pickCard();
    EXPECT_EQ(lastRequest.prompt, QStringLiteral("Select Source"));
    EXPECT_FALSE(lastRequest.canCreateFolders);
    ASSERT_EQ(model->cardPath(), qpath(card()));
    int reportSignals = 0;
    QObject::connect(model.get(), &ScanViewModel::lastReportChanged, [&] { ++reportSignals; });
    model->startScan(false);
    EXPECT_EQ(model->phase(), ScanPhase(scan_phase::ScanningCard{MediaKind::photos, 0, 0}));
    EXPECT_EQ(model->runningNoun(), QStringLiteral("scan"));
    ASSERT_TRUE(waitFor([&] { return finished(*model); }, 60'000));

    EXPECT_EQ(model->phase(), ScanPhase(scan_phase::Done{}));
    EXPECT_EQ(phaseCases(), (std::vector<P>{P::idle, P::card, P::drive, P::matching, P::verifying, P::done}));
    EXPECT_TRUE(std::find(phases.begin(), phases.end(), ScanPhase(scan_phase::ScanningCard{MediaKind::videos, 1, 1})) !=
                phases.end());
    EXPECT_TRUE(std::find(phases.begin(), phases.end(),
                          ScanPhase(scan_phase::ScanningDrive{driveLabel, MediaKind::photos, 0, 0})) !=
                phases.end());
    EXPECT_EQ(reportSignals, 1);
    auto report = model->lastReport();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->cardPath, card());
    EXPECT_EQ(report->drivePaths, std::vector<fs::path>{drive()});
    EXPECT_EQ(report->confirmed().size(), size_t(ScanCardFixture::confirmed));
    EXPECT_EQ(report->missing().size(), size_t(ScanCardFixture::missing));
    EXPECT_EQ(report->nameMismatches().size(), size_t(ScanCardFixture::nameMismatches));
    EXPECT_EQ(model->totalFilesSearched(), ScanCardFixture::cardFiles + 6);
    EXPECT_TRUE(model->skippedDriveLabels().isEmpty());
    EXPECT_FALSE(model->resumeBanner()) << "nothing was cached before";

    ASSERT_TRUE(waitFor([&] { return archived == 1; }));
    auto logs = LogArchiveProvider::shared().resolve()->list();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].kind, tessaline::LogKind::verify);
    ASSERT_TRUE(waitFor([&] { return !QDir(qpath(reports)).entryList(QDir::Files).isEmpty(); }));
    const QStringList texts = QDir(qpath(reports)).entryList(QDir::Files);
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Brindlecove Report \u2014 CARD \u2014 "))) << texts[0].toStdString();
    EXPECT_EQ(tessaline::testing::readFile(reports / texts[0].toStdString()), report->summary());

    // A second run finds everything cached; the banner ends with the last cached source.
    model->startScan(false);
    ASSERT_TRUE(waitFor([&] { return finished(*model); }, 60'000));
    EXPECT_EQ(model->resumeBanner(),
              QStringLiteral("Resuming \u201C%1\u201D \u2014 6 of 6 files already checked").arg(driveLabel));
    EXPECT_EQ(reportSignals, 2);
    // A fresh scan never shows the banner.
    model->startScan(true);
    ASSERT_TRUE(waitFor([&] { return finished(*model); }, 60'000));
    EXPECT_FALSE(model->resumeBanner());
    EXPECT_EQ(model->lastReport()->confirmed().size(), size_t(ScanCardFixture::confirmed));
    // Three scans, three text reports, also when two finished within the same second.
    ASSERT_TRUE(waitFor([&] { return QDir(qpath(reports)).entryList(QDir::Files).size() == 3; }));
    EXPECT_TRUE(QDir(qpath(reports)).entryList(QDir::Files | QDir::Hidden).size() == 3) << "no temporary file stays";
    EXPECT_FALSE(model->filingNotice());
}

TEST_F(ScanViewModelTest, ALogTheChosenLogsFolderCannotTakeIsFiledByDefaultAndTheScanSaysWhere) {
    grant(drive());
    const fs::path chosen = sandbox / "Shoot";
    fs::create_directories(chosen);
    ASSERT_TRUE(LogArchiveProvider::shared().chooseFolder(chosen));
    tessaline::testing::writeFile(chosen / "Brindlecove Logs", "a file where the archive's folder should be");
    auto model = makeModel();
    model->pickCard();
    model->startScan(false);
    ASSERT_TRUE(waitFor([&] { return finished(*model); }, 60'000));
    ASSERT_TRUE(waitFor([&] { return model->filingNotice().has_value(); }));
    const auto defaultLogs = tessaline::LogArchive::defaultArchive().list();
    ASSERT_EQ(defaultLogs.size(), 1u);
    EXPECT_EQ(*model->filingNotice(),
              QStringLiteral("This log couldn't be saved in the logs folder (Couldn't write %1: Not a directory.) "
                             "\u2014 it was saved in %2 instead.")
                  .arg(qpath(chosen / "Brindlecove Logs"), qpath(defaultLogs[0].directory)));
    ScanScreenState::SummaryCache cache;
    EXPECT_EQ(ScanScreenState::of(*model, cache).filingNotice, model->filingNotice());
    model->startScan(false);
    EXPECT_FALSE(model->filingNotice()) << "cleared when the next run starts";
    ASSERT_TRUE(waitFor([&] { return finished(*model); }, 60'000));
}

// A report text the reports folder can't take is not dropped silently: the Scan section
// says it is missing, and why, until the next run starts.
TEST_F(ScanViewModelTest, AReportTextThatCannotBeWrittenIsToldInTheScanSection) {
    grant(drive());
    const fs::path reports = sandbox / "Reports";
    fs::create_directories(reports);
    ASSERT_TRUE(ReportsFolderStore::choose(reports));
    fs::remove(reports);
    tessaline::testing::writeFile(reports, "a file where the reports folder should be");
    auto model = makeModel();
    model->pickCard();
    model->startScan(false);
    ASSERT_TRUE(waitFor([&] { return finished(*model); }, 60'000));
    ASSERT_TRUE(waitFor([&] { return model->reportTextNotice().has_value(); }));
    EXPECT_EQ(*model->reportTextNotice(),
              QStringLiteral("The report's text copy couldn't be saved in the reports folder: The reports folder "
                             "can't be reached."));
    EXPECT_TRUE(model->lastReport()) << "the report stays published";
    ScanScreenState::SummaryCache cache;
    EXPECT_EQ(ScanScreenState::of(*model, cache).reportTextNotice, model->reportTextNotice());
    model->startScan(false);
    EXPECT_FALSE(model->reportTextNotice()) << "cleared when the next run starts";
    ASSERT_TRUE(waitFor([&] { return finished(*model); }, 60'000));
}

TEST_F(ScanViewModelTest, TheSessionKeepsOneReportPerCardAlsoWhenItsVolumeHasNoUuid) {
    auto model = makeModel();
    // A card folder on a volume known by name alone (no UUID, no creation date), scanned
    // 1, 2 and 1,000 times: one report of it is kept, the latest; another folder has its own.
    const tessaline::VolumeIdentity thin{.name = "SYSTEM"};
    auto reportOf = [&](const fs::path& folder) {
        return std::make_shared<const VerificationReport>(folder, std::vector<fs::path>{}, 0,
                                                          std::vector<tessaline::MatchResult>{}, thin);
    };
    for (int scans : {1, 2, 1000}) {
        for (int i = 0; i < scans; ++i) model->setLastReport(reportOf(card()));
        ASSERT_EQ(model->sessionReports().size(), 1u) << scans;
        EXPECT_EQ(model->sessionReports().front(), model->lastReport());
    }
    model->setLastReport(reportOf(sandbox / "OTHER"));
    EXPECT_EQ(model->sessionReports().size(), 2u);
}

TEST_F(ScanViewModelTest, StopWhileFingerprintingTheCardKeepsTheOldReportAndResumesFromTheCache) {
    grant(drive());
    auto gate = std::make_shared<GatingReader>(3);
    auto model = makeModel(gate, 1);
    auto earlier = std::make_shared<const VerificationReport>(card(), std::vector<fs::path>{}, 0,
                                                              std::vector<tessaline::MatchResult>{});
    model->setLastReport(earlier);
    model->pickCard();
    model->startScan(false);
    ASSERT_TRUE(waitFor([&] { return gate->reached(); }));
    model->cancel();
    EXPECT_TRUE(model->isStopping());
    gate->open();
    ASSERT_TRUE(waitFor([&] { return finished(*model); }, 60'000));
    EXPECT_EQ(model->phase(), ScanPhase(scan_phase::Failed{QStringLiteral("Scan stopped.")}));
    EXPECT_FALSE(model->isStopping());
    EXPECT_EQ(model->lastReport(), earlier);
    EXPECT_EQ(gate->calls(), 3);

    auto next = makeModel(nullptr, 1);
    next->pickCard();
    std::vector<QString> banners;
    QObject::connect(next.get(), &ScanViewModel::changed, [&] {
        if (next->resumeBanner() && (banners.empty() || banners.back() != *next->resumeBanner()))
            banners.push_back(*next->resumeBanner());
    });
    next->startScan(false);
    ASSERT_TRUE(waitFor([&] { return finished(*next); }, 60'000));
    ASSERT_FALSE(banners.empty());
    EXPECT_EQ(banners.front(), QStringLiteral("Resuming \u201CCARD\u201D \u2014 3 of 7 files already checked"));
}

TEST_F(ScanViewModelTest, StopWhileFingerprintingADriveFlushesItsFilesAndEndsBeforeMatching) {
    const QString driveLabel = grant(drive());
    auto gate = std::make_shared<GatingReader>(ScanCardFixture::cardFiles + 2);
    auto model = makeModel(gate, 1);
    model->pickCard();
    model->startScan(false);
    ASSERT_TRUE(waitFor([&] { return gate->reached(); }));
    model->cancel();
    gate->open();
    ASSERT_TRUE(waitFor([&] { return finished(*model); }, 60'000));
    EXPECT_EQ(model->phase(), ScanPhase(scan_phase::Failed{QStringLiteral("Scan stopped.")}));
    EXPECT_FALSE(model->lastReport());
    EXPECT_EQ(phaseCases(), (std::vector<P>{P::idle, P::card, P::drive, P::failed}));

    auto next = makeModel(nullptr, 1);
    next->pickCard();
    next->startScan(false);
    ASSERT_TRUE(waitFor([&] { return finished(*next); }, 60'000));
    EXPECT_EQ(next->resumeBanner(),
              QStringLiteral("Resuming \u201C%1\u201D \u2014 2 of 6 files already checked").arg(driveLabel));
}

TEST_F(ScanViewModelTest, DoubleStartRunsOneWorkerAndStopAtRestChangesNothing) {
    grant(drive());
    auto model = makeModel();
    model->cancel();
    EXPECT_FALSE(model->isStopping()) << "no run, nothing to stop";
    model->startScan(false);
    EXPECT_FALSE(model->runningNoun()) << "no card chosen";
    model->pickCard();
    model->startScan(false);
    model->startScan(false);
    model->startScan(true);
    EXPECT_FALSE(model->canStartScan());
    ASSERT_TRUE(waitFor([&] { return finished(*model); }, 60'000));
    drainEvents();
    EXPECT_EQ(readersMade.load(), 1);
    EXPECT_TRUE(model->canStartScan());
    model->cancel();
    EXPECT_FALSE(model->isStopping());
}

TEST_F(ScanViewModelTest, NoDriveToCheckFailsAtOnceWithoutAWorker) {
    auto model = makeModel();
    auto earlier = std::make_shared<const VerificationReport>(card(), std::vector<fs::path>{}, 0,
                                                              std::vector<tessaline::MatchResult>{});
    model->setLastReport(earlier);
    model->pickCard();
    model->startScan(false);
    EXPECT_EQ(model->phase(), ScanPhase(scan_phase::Failed{ScanViewModel::noDrivesMessage}));
    EXPECT_FALSE(model->runningNoun());
    drainEvents();
    EXPECT_EQ(readersMade.load(), 0);
    EXPECT_EQ(model->lastReport(), earlier);
    EXPECT_TRUE(model->canStartScan());
}

TEST_F(ScanViewModelTest, SelectedDriveThatIsNoLongerGrantedIsSkippedAfterTheGrantedOnes) {
    const QString driveLabel = grant(drive());
    auto model = makeModel();
    model->pickCard();
    model->setDriveSelected("Gone", true);
    model->setDriveSelected(driveLabel, true);
    model->setDriveSelected(driveLabel, false);
    model->setDriveSelected(driveLabel, true);
    EXPECT_EQ(model->selectedDriveLabels().size(), 2);
    model->startScan(false);
    ASSERT_TRUE(waitFor([&] { return finished(*model); }, 60'000));
    EXPECT_EQ(model->skippedDriveLabels(), QStringList{"Gone"});
    ASSERT_TRUE(model->lastReport());
    EXPECT_EQ(model->lastReport()->drivePaths, std::vector<fs::path>{drive()});
}

// A card of documents and logs (no camera media), one of them also on the drive: the summary
// and the banner count and name the rest; an empty card alone has nothing to verify.
TEST_F(ScanViewModelTest, ACardOfOtherFilesIsSummarisedByThemAndOnlyAnEmptyCardHasNothingToVerify) {
    fs::remove_all(card());
    for (int i = 1; i <= 40; ++i)
        tessaline::testing::writePatternFile(card() / "PROJECT" / ("NOTE_" + std::to_string(100 + i) + ".TXT"),
                                             static_cast<size_t>(500 + i), static_cast<unsigned>(i));
    tessaline::testing::writeFile(card() / "Camera settings.ini", "iso=800\n");
    fs::copy_file(card() / "PROJECT" / "NOTE_101.TXT", drive() / "NOTE_101.TXT");
    grant(drive());
    auto model = makeModel();
    model->pickCard();
    model->startScan(false);
    ASSERT_TRUE(waitFor([&] { return finished(*model); }, 60'000));
    ASSERT_EQ(model->phase(), ScanPhase(scan_phase::Done{}));
    ASSERT_TRUE(model->lastReport());
    EXPECT_TRUE(model->lastReport()->results.empty()) << "camera media only: no clips";

    ScanScreenState::SummaryCache cache;
    const auto summary = ScanScreenState::of(*model, cache).lastReport;
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->confirmed + summary->missing + summary->duplicates + summary->nameMismatches, 0);
    EXPECT_EQ(summary->otherFilesOnlyOnCard.toStdString(),
              "40 other files are only on the card \u2014 Camera settings.ini, NOTE_102.TXT, NOTE_103.TXT and 37 more");
    const auto banner = ReportTexts::banner(*model->lastReport());
    EXPECT_EQ(banner.tone, ReportTexts::Tone::bad);
    EXPECT_EQ(banner.title.toStdString(), "40 other files are only on the card");

    // The card emptied: now, and only now, there is nothing to verify.
    fs::remove_all(card());
    fs::create_directories(card());
    model->startScan(true);
    ASSERT_TRUE(waitFor([&] { return finished(*model); }, 60'000));
    ASSERT_TRUE(model->lastReport());
    EXPECT_TRUE(ScanScreenState::of(*model, cache).lastReport->otherFilesOnlyOnCard.isEmpty());
    EXPECT_EQ(ReportTexts::banner(*model->lastReport()).subtitle.toStdString(),
              "There's nothing to verify \u2014 check you picked the right card.");
}

TEST_F(ScanViewModelTest, CacheThatCannotBeOpenedLeavesTheRunWhole) {
    // The data folder is a file: neither the cache nor its folder can be made.
    const fs::path grants = sandbox / "grants.json";
    tessaline::SecurityScopedBookmarkStore(grants).grant(drive());
    tessaline::testing::writeFile(dataHome(), "not a folder");
    ScanViewModel::Dependencies dependencies;
    dependencies.dialogs.chooseFolder = [this](const FolderRequest&) { return std::optional<QString>(qpath(card())); };
    dependencies.environment.bookmarkStoreURL = grants;
    ScanViewModel model(std::move(dependencies));
    model.pickCard();
    for (int run = 0; run < 2; ++run) {
        model.startScan(false);
        ASSERT_TRUE(waitFor([&] { return finished(model); }, 60'000));
        EXPECT_EQ(model.phase(), ScanPhase(scan_phase::Done{}));
        EXPECT_FALSE(model.resumeBanner());
        EXPECT_EQ(model.lastReport()->confirmed().size(), size_t(ScanCardFixture::confirmed));
    }
}

TEST_F(ScanViewModelTest, LoopMountedCardAndDriveAndADriveThatWasUnplugged) {
    TESSALINE_REQUIRE_ROOT();
    tessaline::testing::LoopVolume cardVolume("ext4", 32, "EOS_DIGITAL");
    tessaline::testing::LoopVolume driveVolume("ext4", 32, "BACKUP_A");
    ScanCardFixture::writeCard(cardVolume.mountPoint());
    ScanCardFixture::writeDrive(driveVolume.mountPoint());
    grant(driveVolume.mountPoint());
    ASSERT_EQ(tessaline::SecurityScopedBookmarkStore().grantedVolumeLabels(), std::vector<std::string>{"BACKUP_A"});

    ScanViewModel::Dependencies dependencies;
    dependencies.dialogs.chooseFolder = [&](const FolderRequest&) {
        return std::optional<QString>(qpath(cardVolume.mountPoint()));
    };
    ScanViewModel model(std::move(dependencies));
    model.pickCard();
    model.startScan(false);
    ASSERT_TRUE(waitFor([&] { return finished(model); }, 60'000));
    ASSERT_EQ(model.phase(), ScanPhase(scan_phase::Done{}));
    auto report = model.lastReport();
    EXPECT_EQ(report->confirmed().size(), size_t(ScanCardFixture::confirmed));
    ASSERT_TRUE(report->cardVolumeIdentity);
    EXPECT_EQ(report->cardVolumeIdentity->name, "EOS_DIGITAL");

    driveVolume.unmount();
    model.startScan(false);
    ASSERT_TRUE(waitFor([&] { return finished(model); }, 60'000));
    ASSERT_EQ(model.phase(), ScanPhase(scan_phase::Done{}));
    EXPECT_EQ(model.skippedDriveLabels(), QStringList{"BACKUP_A"});
    EXPECT_TRUE(model.lastReport()->drivePaths.empty());
    EXPECT_EQ(model.lastReport()->missing().size(), size_t(ScanCardFixture::cardFiles));
    EXPECT_FALSE(model.lastReport()->isSafeToErase());
}

}  // namespace
}  // namespace brindlecove
