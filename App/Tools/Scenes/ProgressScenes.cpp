// Scenes of long phases caught half-way: a sync pair copying and then reading back a long
// take in the Sync section, and the Copy section reading back a long take once it is copied.
// Each run is the real engine on generated files, held at the chosen event until the picture
// is taken.

#include "ScreenshotStudio.hpp"

#include "BrindlecoveApp/Platform/MainThread.hpp"
#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/SyncManager.hpp"
#include "BrindlecoveApp/Views/CopyView.hpp"
#include "BrindlecoveApp/Views/SyncView.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Sync/SyncRunner.hpp"

#include <QDir>
#include <QFile>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace brindlecove::tools {

namespace {

namespace fs = std::filesystem;
using tessaline::CopyEngine;
using CheckPhase = CopyEngine::CheckingEvent::Phase;

// A card folder with one long take of `takeMiB` and `shortClips` short ones of 6 MiB.
QString makeTakes(const QString& folder, int takeMiB, int shortClips) {
    const QString clips = folder + "/DCIM/100CANON";
    QDir().mkpath(clips);
    auto write = [&](const QString& name, int mib, char fill) {
        QFile file(clips + "/" + name);
        if (!file.open(QIODevice::WriteOnly)) return;
        QByteArray block(1 << 20, fill);
        for (int mb = 0; mb < mib; ++mb) {
            block[mb % block.size()] = static_cast<char>(mb);
            file.write(block);
        }
    };
    write(QStringLiteral("C0001.MP4"), takeMiB, 'a');
    for (int i = 0; i < shortClips; ++i) write(QStringLiteral("C%1.MP4").arg(2 + i, 4, 10, QLatin1Char('0')), 6, char('b' + i));
    return folder;
}

// Holds the thread that sends engine events, once per stage, until the scene lets it go.
struct Holds {
    std::atomic<int> held{0};
    std::atomic<int> released{0};
    void hold() {
        const int stage = held.load() + 1;
        held.store(stage);
        for (int waited = 0; released.load() < stage && waited < 30'000; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Waits (spinning the event loop) until the next stage is held, then lets the picture settle.
    bool reached(const std::function<bool()>& over) {
        const int stage = released.load() + 1;
        const bool ok = ScreenshotStudio::waitFor([&] { return held.load() >= stage || over(); }, 60'000);
        ScreenshotStudio::wait(200);
        return ok && held.load() >= stage;
    }
    void release() { released.store(released.load() + 1); }
};

// The first event half-way through the long take's copy, then its read-back.
bool halfWay(const CopyEngine::Event& event, int stage) {
    if (const auto* progress = std::get_if<CopyEngine::FileProgressEvent>(&event))
        return stage == 0 && progress->overallBytesCopied == progress->bytesCopiedThisFile &&
               progress->bytesCopiedThisFile * 2 >= progress->fileBytes;
    if (const auto* check = std::get_if<CopyEngine::CheckingEvent>(&event))
        return stage == 1 && check->phase == CheckPhase::readBack && check->done == 1 &&
               check->bytesRead * 2 >= check->bytesToRead;
    return false;
}

ScreenshotScene syncRunning("77-sync-running", [](ScreenshotStudio& studio) {
    const QString card = makeTakes(studio.home() + "/E_CAM", 160, 5);
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
    auto holds = std::make_shared<Holds>();
    environment.makeCoordinator = [holds](SyncManager::Providers providers,
                                          std::shared_ptr<tessaline::SyncReportStore> store) {
        tessaline::SyncRunner runner(std::make_shared<tessaline::SecurityScopedBookmarkStore>());
        auto run = [runner, holds](const tessaline::SyncPair& p, const fs::path& root,
                                   tessaline::SyncReport::Trigger trigger, const tessaline::SettleOptions& settle,
                                   const CopyEngine::CancelTest& isCancelled, const CopyEngine::EventHandler& onEvent) {
            return runner.run(p, root, trigger, settle, isCancelled, [&](const CopyEngine::Event& event) {
                onEvent(event);
                if (halfWay(event, holds->held.load())) holds->hold();
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

ScreenshotScene copyReadingBack("42-copy-reading-back", [](ScreenshotStudio& studio) {
    const QString card = makeTakes(studio.home() + "/F_CAM", 200, 3);
    const QString destination = studio.home() + "/Shuttle/F Cam";
    QDir().mkpath(destination);
    auto holds = std::make_shared<Holds>();
    CopyViewModel::Dependencies d;
    auto answers = std::make_shared<QStringList>(QStringList{card, destination});
    d.dialogs.chooseFolder = [answers](const FolderRequest&) -> std::optional<QString> {
        if (answers->isEmpty()) return std::nullopt;
        return answers->takeFirst();
    };
    d.archive = [](const tessaline::TransferLog&) { return std::optional<QString>(); };
    d.settle = tessaline::SettleOptions::none();
    d.copy = [holds](const fs::path& from, const fs::path& to, const CopyEngine::Options& options,
                     const tessaline::SettleOptions& settle, const CopyEngine::CancelTest& cancel,
                     const CopyEngine::EventHandler& onEvent) {
        return CopyEngine().copy(from, to, options, settle, cancel, [&](const CopyEngine::Event& event) {
            onEvent(event);
            if (halfWay(event, holds->held.load())) holds->hold();
        });
    };
    CopyViewModel model(std::move(d));
    CopyView view(model);
    view.resize(760, 680);
    model.pickCard();
    model.pickDestination();
    model.start();
    auto over = [&] { return !model.isRunning(); };
    for (const char* name : {"copy-long-take", "copy-reading-back"}) {
        if (!holds->reached(over)) break;
        studio.save(QString::fromLatin1(name), &view);
        holds->release();
    }
    holds->release();
    ScreenshotStudio::waitFor(over, 60'000);
});

}  // namespace

}  // namespace brindlecove::tools
