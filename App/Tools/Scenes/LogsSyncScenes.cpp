// Scenes of the Logs and Sync sections: a log archive in the private home with scans and
// copies of a shoot filed under two jobs, shown by date and by job, and while a logs folder
// has not answered yet; the Sync section with pairs, activity and an inserted card's prompt,
// the add-pair sheet, a run refused because the card's folder leads off the card, and a run
// caught half-way through copying a long take and through reading it back.

#include "HeldRun.hpp"
#include "ScreenshotStudio.hpp"

#include "BrindlecoveApp/AppSection.hpp"
#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/ViewModels/LogStore.hpp"
#include "BrindlecoveApp/ViewModels/ProjectStore.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"
#include "BrindlecoveApp/ViewModels/SyncManager.hpp"
#include "BrindlecoveApp/Views/MenuBarController.hpp"
#include "BrindlecoveApp/Views/AddSyncPairSheet.hpp"
#include "BrindlecoveApp/Views/LogsView.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/SyncView.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Report/LogArchive.hpp"
#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Support/DateText.hpp"
#include "Tessaline/Sync/SyncRunner.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>

#include <future>
#include <memory>

namespace brindlecove::tools {

namespace {

namespace fs = std::filesystem;
using tessaline::CopyEngine;

// A copy of `files` clips of `card` onto the shuttle drive; the last `failed` of them failed.
tessaline::TransferLog copyRun(const std::string& card, int files, int failed, tessaline::EpochSeconds at) {
    tessaline::TransferLog log;
    log.sourceURL = "/media/crew/" + card;
    log.destinationURL = "/media/crew/Shuttle/" + card;
    log.startedAt = at - 600;
    log.finishedAt = at;
    for (int i = 0; i < files; ++i) {
        tessaline::CopyEngine::FileOutcome outcome;
        outcome.relativePath = "DCIM/100CANON/C" + std::to_string(1000 + i) + ".MP4";
        outcome.sourceURL = log.sourceURL / outcome.relativePath;
        outcome.destinationURL = log.destinationURL / outcome.relativePath;
        outcome.byteSize = 1'800'000'000 + i * 7'000'000;
        outcome.status = i >= files - failed ? tessaline::CopyEngine::FileStatus::verificationFailed("checksum differs")
                                             : tessaline::CopyEngine::FileStatus::copiedVerified();
        outcome.sourceChecksum = "8f2a6c1be07d93" + std::to_string(10 + i);
        outcome.destinationChecksum = outcome.sourceChecksum;
        outcome.startedAt = at - 600 + i * 20;
        outcome.finishedAt = outcome.startedAt + 19;
        log.outcomes.push_back(outcome);
    }
    log.plannedFileCount = files;
    log.plannedBytes = 0;
    for (const auto& outcome : log.outcomes) *log.plannedBytes += outcome.byteSize;
    return log;
}

// A scan of a card with no clips; with an unread folder it is not fully read.
tessaline::VerificationReport scanRun(const std::string& card, bool unread, tessaline::EpochSeconds at) {
    std::vector<fs::path> folders;
    if (unread) folders.push_back("/media/crew/" + card + "/PRIVATE/M4ROOT");
    return tessaline::VerificationReport("/media/crew/" + card, {"/media/crew/Shuttle"}, at, {},
                                         tessaline::VolumeIdentity{}, folders);
}

void fileShoot(ScreenshotStudio& studio) {
    tessaline::LogArchive archive = tessaline::LogArchive::defaultArchive();
    const tessaline::EpochSeconds now = tessaline::nowEpoch();
    const std::optional<std::string> feature("Harbour Feature");
    const std::optional<std::string> spot("Coffee Spot");
    archive.archive(copyRun("A001", 12, 0, now - 1800), feature, now - 1800);
    archive.archive(scanRun("A001", false, now - 1500), feature, now - 1500);
    archive.archive(copyRun("B002", 8, 1, now - 900), feature, now - 900);
    archive.archive(scanRun("C003", true, now - 86400 - 3600), spot, now - 86400 - 3600);
    archive.archive(copyRun("C003", 20, 0, now - 86400 - 7200), spot, now - 86400 - 7200);
    archive.archive(copyRun("SOUND", 4, 0, now - 3 * 86400), std::nullopt, now - 3 * 86400);
    // A copy stopped by the user after 15 of 40 files: stopped, not failed.
    tessaline::TransferLog stopped = copyRun("D004", 15, 0, now - 300);
    stopped.wasCancelled = true;
    stopped.plannedFileCount = 40;
    archive.archive(stopped, feature, now - 300);
    // A copy whose every file verified, but the card gained a file while it ran: not proven.
    tessaline::TransferLog late = copyRun("E005", 1200, 0, now - 120);
    late.cardFileNotes.push_back({tessaline::CardFileNote::Kind::changedOnCard, "DCIM/100CANON/C9999.MP4",
                                  tessaline::CardFileNote::addedText});
    archive.archive(late, feature, now - 120);
    ProjectStore& projects = studio.context().projectStore();
    projects.addJob(QStringLiteral("Coffee Spot"));
    projects.addJob(QStringLiteral("Harbour Feature"));
    projects.addJob(QStringLiteral("Pickups"));
    LogStore& store = studio.context().logStore();
    store.refresh();
    ScreenshotStudio::waitFor([&] { return !store.isListing(); });
}

ScreenshotScene logs("70-logs", [](ScreenshotStudio& studio) {
    fileShoot(studio);
    studio.window().select(AppSection::logs);
    ScreenshotStudio::wait(100);
    auto* view = qobject_cast<LogsView*>(studio.window().currentScreen());
    if (!view) return;
    studio.save(QStringLiteral("logs-by-date"));
    view->model().setMode(LogsModel::GroupMode::job);
    view->renderNow();
    ScreenshotStudio::wait(100);
    studio.save(QStringLiteral("logs-by-job"));
});

// The chosen logs folder's drive is away: the latest log went to the default archive, and the
// saving bar says so; opening a log on a desktop without a PDF viewer says that too.
ScreenshotScene logsNotices("72-logs-notices", [](ScreenshotStudio& studio) {
    fileShoot(studio);
    const fs::path away = fs::path(studio.home().toStdString()) / "Shuttle";
    fs::create_directories(away);
    LogArchiveProvider::shared().chooseFolder(away);
    fs::remove_all(away);
    LogArchiveProvider::shared().fileTransfer(copyRun("D004", 6, 0, tessaline::nowEpoch()));
    LogStore& store = studio.context().logStore();
    store.refresh();
    ScreenshotStudio::waitFor([&] { return !store.isListing(); });
    LogsModel::Dependencies dependencies;
    dependencies.revealer.open = [](const QString&, const FileRevealer::Failed& failed) {
        if (failed) failed();
    };
    LogsView view(store, studio.context().projectStore(), std::move(dependencies));
    view.show();
    ScreenshotStudio::wait(50);
    if (!store.logs().empty()) view.model().openLog(store.logs().front());
    view.renderNow();
    ScreenshotStudio::wait(100);
    studio.save(QStringLiteral("logs-notices"), &view);
});

// A logs folder that has not answered yet: the section says it is loading.
ScreenshotScene logsLoading("71-logs-loading", [](ScreenshotStudio& studio) {
    auto opening = std::make_shared<std::promise<void>>();
    std::shared_future<void> opened = opening->get_future().share();
    LogStore store(LogArchiveProvider::shared(), [opened](const tessaline::LogArchive& archive) {
        opened.wait();
        return archive.list();
    });
    LogsView view(store, studio.context().projectStore(), LogsModel::Dependencies{});
    view.show();
    ScreenshotStudio::wait(50);
    studio.save(QStringLiteral("logs-loading"), &view);
    opening->set_value();
    ScreenshotStudio::waitFor([&] { return !store.isListing(); });
});

// An enabled pair with a fresh id.
tessaline::SyncPair syncPair(const std::string& name, const std::string& label, const std::string& subpath,
                             const QString& destination) {
    tessaline::SyncPair pair;
    pair.id = tessaline::Uuid::random();
    pair.name = name;
    pair.sourceVolumeLabel = label;
    pair.sourceSubpath = subpath;
    pair.destinationPath = destination.toStdString();
    return pair;
}

ScreenshotScene sync("75-sync", [](ScreenshotStudio& studio) {
    SyncManager& manager = studio.context().syncManager();
    tessaline::SyncPair second =
        syncPair("B Cam → RAID", "B_CAM", "PRIVATE/M4ROOT/CLIP", studio.home() + "/RAID/B Cam");
    second.enabled = false;
    manager.addPair(second);
    manager.runScheduledNow(false);
    manager.setPendingPrompt(SyncManager::PendingPrompt{QUuid::createUuid(), QStringLiteral("A_CAM"),
                                                        {QStringLiteral("A Cam → Shuttle")}});
    studio.window().select(AppSection::sync);
    ScreenshotStudio::wait(100);
    studio.save(QStringLiteral("sync-pairs-prompt"));
    if (auto* scroll = studio.window().currentScreen()->findChild<QScrollArea*>()) {
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        ScreenshotStudio::wait(50);
        studio.save(QStringLiteral("sync-activity"));
    }

    auto* view = qobject_cast<SyncView*>(studio.window().currentScreen());
    if (!view) return;
    AddSyncPairSheet* sheet = view->openAddSheet();
    ScreenshotStudio::wait(100);
    sheet->findChild<QLineEdit*>(QStringLiteral("sheet.name"))->setText(QStringLiteral("C Cam → Shuttle"));
    sheet->findChild<QLineEdit*>(QStringLiteral("sheet.sourceLabel"))->setText(QStringLiteral("C_CAM"));
    sheet->findChild<QLineEdit*>(QStringLiteral("sheet.subpath"))->setText(QStringLiteral("DCIM"));
    ScreenshotStudio::wait(50);
    studio.save(QStringLiteral("sync-add-pair"), sheet, false);  // a fixed-size sheet
    sheet->reject();
    ScreenshotStudio::wait(50);
});

// A card whose pair folder is a link off the card: the run copies nothing, the activity says
// why, and today's totals (the section and the tray menu) count it as failed.
ScreenshotScene syncRefused("76-sync-refused", [](ScreenshotStudio& studio) {
    SyncManager& manager = studio.context().syncManager();
    const fs::path card = (studio.home() + "/C_CAM").toStdString();
    fs::create_directories(card);
    fs::create_directories((studio.home() + "/Documents").toStdString());
    std::error_code ec;
    fs::create_directory_symlink((studio.home() + "/Documents").toStdString(), card / "DCIM", ec);
    manager.addPair(syncPair("C Cam → Shuttle", "C_CAM", "DCIM", studio.home() + "/Shuttle/C Cam"));
    if (!manager.coordinator()) return;
    manager.setPendingPrompt(std::nullopt);
    manager.coordinator()->runScheduledSyncs({tessaline::VolumeInfo{card, "C_CAM", true, true, false}});
    ScreenshotStudio::waitFor([&] {
        return !manager.activity().isEmpty() && manager.activity().front().contains(QStringLiteral("leads off"));
    });
    studio.window().select(AppSection::sync);
    ScreenshotStudio::wait(100);
    // Scrolled to the end at each size, where today's totals and the activity are.
    const QSize windowSize = studio.window().size();
    for (QSize size : ScreenshotStudio::windowSizes()) {
        studio.window().resize(size);
        ScreenshotStudio::wait(80);
        if (auto* scroll = studio.window().currentScreen()->findChild<QScrollArea*>())
            scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        ScreenshotStudio::wait(50);
        studio.save(ScreenshotStudio::sizedName(QStringLiteral("sync-refused-activity"), size), &studio.window(), false);
    }
    studio.window().resize(windowSize);
    studio.context().menuBar().rebuildNow();
    QMenu* menu = studio.context().menuBar().menu();
    menu->popup(QPoint(0, 0));
    ScreenshotStudio::wait(100);
    studio.save(QStringLiteral("sync-refused-tray"), menu, false);
    menu->hide();
});

ScreenshotScene syncRunning("77-sync-running", [](ScreenshotStudio& studio) {
    const QString card = heldRun::makeTakes(studio.home() + "/E_CAM", 160, 5);
    const QString destination = studio.home() + "/Shuttle/E Cam";
    QDir().mkpath(destination);
    const QString app = studio.home() + "/sync-running";
    QDir().mkpath(app);

    tessaline::SyncConfiguration config = tessaline::SyncConfiguration::fallback();
    config.settleQuietSeconds = 0;
    tessaline::SyncPair pair;
    pair.id = tessaline::Uuid::random();
    pair.name = "E Cam → Shuttle";
    pair.sourceVolumeLabel = "E_CAM";
    pair.destinationPath = destination.toStdString();
    config.pairs = {pair};
    SyncManager::Environment environment;
    environment.configURL = (app + "/sync-config.json").toStdString();
    environment.historyURL = (app + "/sync-runs.json").toStdString();
    environment.listVolumes = [] { return std::vector<tessaline::VolumeInfo>{}; };
    config.save(environment.configURL);
    auto holds = std::make_shared<heldRun::Holds>();
    environment.makeCoordinator = [holds](SyncManager::Providers providers,
                                          std::shared_ptr<tessaline::SyncReportStore> store) {
        tessaline::SyncRunner runner(std::make_shared<tessaline::SecurityScopedBookmarkStore>());
        auto run = [runner, holds](const tessaline::SyncPair& p, const fs::path& root,
                                   tessaline::SyncReport::Trigger trigger, const tessaline::SettleOptions& settle,
                                   const CopyEngine::CancelTest& isCancelled, const CopyEngine::EventHandler& onEvent) {
            return runner.run(p, root, trigger, settle, isCancelled, [&](const CopyEngine::Event& event) {
                onEvent(event);
                if (heldRun::halfWay(event, holds->held.load())) holds->hold();
            });
        };
        return std::make_shared<tessaline::MountSyncCoordinator>(
            providers.configuration, providers.autoRun, run, std::move(store), providers.onEvent,
            [](std::function<void()> work) { MainThread::post(std::move(work)); });
    };
    SyncManager manager(std::move(environment));
    SyncView view(manager, {});
    view.resize(760, 680);
    manager.coordinator()->runScheduledSyncs({tessaline::VolumeInfo{card.toStdString(), "E_CAM", true, true, false}});
    auto over = [&] { return manager.runningSyncs().empty() && manager.coordinator()->inFlightCount() == 0; };
    for (const char* name : {"sync-running-copy", "sync-running-read-back"}) {
        if (!holds->reached(over)) break;
        view.renderNow();
        studio.save(QString::fromLatin1(name), &view);
        holds->release();
    }
    holds->release();
    manager.coordinator()->waitForIdle();
});

}  // namespace

}  // namespace brindlecove::tools
