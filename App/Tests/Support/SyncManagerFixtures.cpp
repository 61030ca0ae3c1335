#include "Support/SyncManagerFixtures.hpp"

#include "Tessaline/Sync/SyncRunner.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"

namespace brindlecove::testing {

tessaline::SyncPair syncPair(const std::string& name, const std::string& label,
                             const std::filesystem::path& destination, bool enabled) {
    tessaline::SyncPair p;
    p.id = tessaline::Uuid::random();
    p.name = name;
    p.sourceVolumeLabel = label;
    p.destinationPath = destination.string();
    p.enabled = enabled;
    return p;
}

QString activityMessage(const QString& line) { return line.mid(line.indexOf(QStringLiteral("  ")) + 2); }

SyncManager::Environment sandboxSyncEnvironment(const std::filesystem::path& sandbox, const QString& autostartFolder,
                                                const QString& appId) {
    SyncManager::Environment env;
    env.configURL = sandbox / "app" / "sync-config.json";
    env.historyURL = sandbox / "app" / "sync-runs.json";
    env.loginItem = LoginItem(appId, autostartFolder, {}, QStringLiteral("/bin/true"));
    return env;
}

SyncManager::CoordinatorFactory standInCoordinator(SyncManager::VolumeLister listVolumes, bool stopped) {
    return [listVolumes = std::move(listVolumes), stopped](SyncManager::Providers providers,
                                                           std::shared_ptr<tessaline::SyncReportStore> store) {
        auto run = [stopped](const tessaline::SyncPair& p, const std::filesystem::path& root,
                             tessaline::SyncReport::Trigger trigger, const tessaline::SettleOptions&,
                             const tessaline::CopyEngine::CancelTest&, const tessaline::CopyEngine::EventHandler&) {
            tessaline::TransferLog log;
            log.sourceURL = root;
            log.destinationURL = p.destinationPath;
            log.startedAt = log.finishedAt = tessaline::nowEpoch();
            log.wasCancelled = stopped;
            log.plannedFileCount = 0;
            log.plannedBytes = 0;
            return tessaline::SyncRunner::Result{log, tessaline::SyncReport::Run::fromLog(trigger, log)};
        };
        // The watcher's events are dropped, never run.
        auto noMounts = [](std::function<void()>) {};
        return std::make_shared<tessaline::MountSyncCoordinator>(providers.configuration, providers.autoRun, run,
                                                                 std::move(store), providers.onEvent, noMounts,
                                                                 listVolumes);
    };
}

}  // namespace brindlecove::testing
