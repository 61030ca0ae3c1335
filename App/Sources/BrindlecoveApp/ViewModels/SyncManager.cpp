#include "BrindlecoveApp/ViewModels/SyncManager.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Sync/SyncRunner.hpp"
#include "Tessaline/Volumes/VolumeDetector.hpp"

#include <QFile>
#include <QPointer>

#include <algorithm>
#include <cerrno>
#include <type_traits>

namespace brindlecove {
namespace {

QString quoted(const std::string& name) {
    return QStringLiteral("\u201C") + QString::fromStdString(name) + QStringLiteral("\u201D");
}

QString fileName(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.filename().string()));
}

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};

std::shared_ptr<tessaline::MountSyncCoordinator> makeRealCoordinator(
    SyncManager::Providers providers, std::shared_ptr<tessaline::SyncReportStore> reportStore,
    SyncManager::VolumeLister lister) {
    tessaline::SyncRunner runner(std::make_shared<tessaline::SecurityScopedBookmarkStore>());
    return std::make_shared<tessaline::MountSyncCoordinator>(
        std::move(providers.configuration), std::move(providers.autoRun), std::move(runner),
        std::move(reportStore), std::move(providers.onEvent),
        [](std::function<void()> work) { MainThread::post(std::move(work)); },
        lister ? std::move(lister) : tessaline::MountSyncCoordinator::VolumeLister{});
}

}  // namespace

SyncManager::SyncManager(QObject* parent) : SyncManager(Environment{}, parent) {}

SyncManager::SyncManager(Environment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)) {
    Q_ASSERT(MainThread::isCurrent());
    configBox_ = std::make_shared<ConfigBox>();
    configBox_->configuration = tessaline::SyncConfiguration::fallback();
    reportStore_ = std::make_shared<tessaline::SyncReportStore>(
        environment_.historyURL, [self = QPointer<SyncManager>(this)](const std::filesystem::path& setAside) {
            QString name = fileName(setAside);
            MainThread::post([self, name] {
                if (self)
                    self->log(QStringLiteral("\u26A0\uFE0F Couldn't read the sync history (sync-runs.json) \u2014 it "
                                             "was kept as %1; starting a new one.")
                                  .arg(name));
            });
        });
    launchAtLoginStatus_ = QStringLiteral("\u2014");
    autoRunBox_ = std::make_shared<std::atomic<bool>>(true);

    loadConfiguration();
    {
        std::lock_guard guard(configBox_->lock);
        configBox_->configuration = configuration_;
    }
    pairs_ = configuration_.pairs;
    readTodayReport();

    // The coordinator reads the boxes, never the manager: its threads may outlive it.
    Providers providers;
    providers.configuration = [box = configBox_] {
        std::lock_guard guard(box->lock);
        return box->configuration;
    };
    providers.autoRun = [box = autoRunBox_] { return box->load(); };
    providers.onEvent = [self = QPointer<SyncManager>(this)](const Event& event) {
        MainThread::post([self, event] {
            if (self) self->handle(event);
        });
    };
    coordinator_ = environment_.makeCoordinator
                       ? environment_.makeCoordinator(std::move(providers), reportStore_)
                       : makeRealCoordinator(std::move(providers), reportStore_, environment_.listVolumes);
    applyWatchState();

    scheduledService_ = std::make_unique<ScheduledSyncService>(
        [self = QPointer<SyncManager>(this)] {
            MainThread::post([self] {
                if (self) self->runScheduledNow(true);
            });
        },
        environment_.loginItem ? *environment_.loginItem : LoginItem::forApplication(), environment_.clock,
        environment_.checkIntervalMs);
    launchAtLoginStatus_ = scheduledService_->launchAtLoginStatusText();

    dayCheck_.setTimerType(Qt::CoarseTimer);
    dayCheck_.setInterval(environment_.checkIntervalMs);
    connect(&dayCheck_, &QTimer::timeout, this, &SyncManager::checkDayChange);
    dayCheck_.start();
}

// Dropping the manager leaves the coordinator's runs to finish on their own threads; they
// hold the boxes and the history store, never the manager.
SyncManager::~SyncManager() = default;

void SyncManager::loadConfiguration() {
    try {
        configuration_ = tessaline::SyncConfiguration::load(environment_.configURL);
        return;
    } catch (const tessaline::FileReadError& error) {
        configuration_ = tessaline::SyncConfiguration::fallback();
        if (error.error() == ENOENT) return;
    } catch (const std::exception&) {
        configuration_ = tessaline::SyncConfiguration::fallback();
    }
    // The file exists but can't be used: keep it aside, so the next save does not drop
    // every pair in it, and say so.
    if (std::optional<std::filesystem::path> aside =
            tessaline::SyncConfiguration::preserveUnreadable(environment_.configURL))
        log(QStringLiteral("\u26A0\uFE0F Couldn't read sync pairs (sync-config.json) \u2014 it was kept as %1; "
                           "starting with none.")
                .arg(fileName(*aside)));
}

std::vector<tessaline::VolumeInfo> SyncManager::listVolumes() const {
    return environment_.listVolumes ? environment_.listVolumes() : tessaline::VolumeDetector::listMountedVolumes();
}

void SyncManager::setEnabled(bool enabled) {
    bool changedValue = enabled_ != enabled;
    enabled_ = enabled;
    applyWatchState();
    if (changedValue) {
        Q_EMIT enabledChanged();
        Q_EMIT changed();
    }
}

void SyncManager::applyWatchState() {
    if (!coordinator_) return;
    if (enabled_) coordinator_->start();
    else coordinator_->stop();
}

void SyncManager::setScheduledSyncEnabled(bool enabled) {
    if (enabled == scheduledSyncEnabled_) return;
    scheduledSyncEnabled_ = enabled;
    if (scheduledService_) {
        if (enabled) scheduledService_->startSchedule(86400);
        else scheduledService_->stopSchedule();
    }
    Q_EMIT scheduledSyncEnabledChanged();
    Q_EMIT changed();
}

void SyncManager::setAutoRunOnMount(bool autoRun) {
    bool changedValue = autoRunOnMount_ != autoRun;
    autoRunOnMount_ = autoRun;
    autoRunBox_->store(autoRun);
    if (changedValue) {
        Q_EMIT autoRunOnMountChanged();
        Q_EMIT changed();
    }
}

void SyncManager::setPendingPrompt(std::optional<PendingPrompt> prompt) {
    if (prompt == pendingPrompt_) return;
    pendingPrompt_ = std::move(prompt);
    Q_EMIT pendingPromptChanged();
    Q_EMIT changed();
}

void SyncManager::addPair(const tessaline::SyncPair& pair) {
    configuration_.pairs.push_back(pair);
    save();
}

void SyncManager::removePair(const tessaline::Uuid& id) {
    std::erase_if(configuration_.pairs, [&](const tessaline::SyncPair& pair) { return pair.id == id; });
    save();
}

void SyncManager::togglePair(const tessaline::Uuid& id) {
    for (tessaline::SyncPair& pair : configuration_.pairs) {
        if (pair.id != id) continue;
        pair.enabled = !pair.enabled;
        save();
        return;
    }
}

void SyncManager::save() {
    {
        std::lock_guard guard(configBox_->lock);
        configBox_->configuration = configuration_;
    }
    try {
        configuration_.save(environment_.configURL);
    } catch (const std::exception& error) {
        log(QStringLiteral("\u26A0\uFE0F Couldn't save sync pairs: ") + QString::fromStdString(error.what()));
    }
    pairs_ = configuration_.pairs;
    Q_EMIT pairsChanged();
    Q_EMIT changed();
}

void SyncManager::log(const QString& message) {
    activity_.prepend(Formats::mediumTime(environment_.clock().time()) + QStringLiteral("  ") + message);
    while (activity_.size() > activityLimit) activity_.removeLast();
    Q_EMIT activityChanged();
    Q_EMIT changed();
}

void SyncManager::readTodayReport() {
    // The runs since the local start of today (as the store's default does, on our clock).
    const QDate today = environment_.clock().date();
    const QDateTime midnight = today.startOfDay();
    todayReport_ = reportStore_->report(static_cast<tessaline::EpochSeconds>(midnight.toSecsSinceEpoch()));
    todayReportDay_ = today;
    Q_EMIT todayReportChanged();
    Q_EMIT changed();
}

void SyncManager::checkDayChange() {
    if (environment_.clock().date() != todayReportDay_) readTodayReport();
}

void SyncManager::trackRun(const Event& event) {
    using Coordinator = tessaline::MountSyncCoordinator;
    auto at = [&](const std::string& pairName) {
        const QString name = QString::fromStdString(pairName);
        return std::find_if(runningSyncs_.begin(), runningSyncs_.end(),
                            [&](const SyncRunProgress& run) { return run.pairName == name; });
    };
    if (const auto* started = std::get_if<Coordinator::SyncStarted>(&event)) {
        // Two pairs of one name are one line; each run of it starts the line afresh.
        auto run = at(started->pairName);
        if (run == runningSyncs_.end()) run = runningSyncs_.insert(runningSyncs_.end(), SyncRunProgress{});
        *run = SyncRunProgress{};
        run->pairName = QString::fromStdString(started->pairName);
    } else if (const auto* progress = std::get_if<Coordinator::SyncProgress>(&event)) {
        auto run = at(progress->pairName);
        if (run == runningSyncs_.end()) return;
        const SyncRunProgress before = *run;
        run->apply(progress->event);
        if (*run == before) return;
    } else if (const auto* finished = std::get_if<Coordinator::SyncFinished>(&event)) {
        auto run = at(finished->pairName);
        if (run == runningSyncs_.end()) return;
        runningSyncs_.erase(run);
    } else if (const auto* failed = std::get_if<Coordinator::SyncFailed>(&event)) {
        auto run = at(failed->pairName);
        if (run == runningSyncs_.end()) return;
        runningSyncs_.erase(run);
    } else {
        return;
    }
    Q_EMIT runningSyncsChanged();
}

void SyncManager::handle(const Event& event) {
    using Coordinator = tessaline::MountSyncCoordinator;
    trackRun(event);
    auto logFailure = [&](const std::string& pairName, const std::string& message) {
        log(QStringLiteral("\u274C %1 failed: %2").arg(quoted(pairName), QString::fromStdString(message)));
    };
    std::visit(
        Overloaded{
            [&](const Coordinator::MountDetected& e) {
                if (e.matchedPairs > 0)
                    log(QStringLiteral("\U0001F4E5 %1 mounted \u2014 %2 queued")
                            .arg(QString::fromStdString(e.label), Formats::count(e.matchedPairs, "sync pair", "sync pairs")));
            },
            [&](const Coordinator::SyncStarted& e) {
                log(QStringLiteral("\u25B6\uFE0F Syncing ") + quoted(e.pairName) + QStringLiteral("\u2026"));
            },
            [&](const Coordinator::SyncProgress&) {},
            [&](const Coordinator::SyncFinished& e) {
                // A run refused before copying anything is in the history as a failed run; the
                // activity says why.
                if (e.failure) {
                    logFailure(e.pairName, *e.failure);
                    readTodayReport();
                    return;
                }
                // The check mark is kept for a run proven whole and for a run that found nothing
                // to copy; a stopped run, failed files or copies without verification are marked
                // as a warning.
                const bool nothingToCopy = !e.stopped && e.run.fileCount == 0;
                log((e.run.allVerified || nothingToCopy ? QStringLiteral("\u2705") : QStringLiteral("\u26A0\uFE0F")) +
                    QStringLiteral(" %1: %2, %3 present, %4 failed")
                        .arg(quoted(e.pairName), Formats::count(e.run.newFiles, "new file", "new files"),
                             Formats::groupedInteger(e.run.existingFiles), Formats::groupedInteger(e.run.failedFiles)));
                readTodayReport();
            },
            [&](const Coordinator::SyncFailed& e) { logFailure(e.pairName, e.message); },
            [&](const Coordinator::Ignored&) {},
            [&](const Coordinator::PromptSuggested& e) {
                QStringList names;
                for (const std::string& name : e.pairNames) names << QString::fromStdString(name);
                log(QStringLiteral("\U0001F4A1 %1 inserted \u2014 run %2?")
                        .arg(QString::fromStdString(e.label), names.join(QStringLiteral(", "))));
                setPendingPrompt(PendingPrompt{QUuid::createUuid(), QString::fromStdString(e.label), names});
            },
        },
        event);
}

void SyncManager::runScheduledNow(bool triggeredBySchedule) {
    if (triggeredBySchedule) {
        lastScheduledRun_ = environment_.clock();
        Q_EMIT lastScheduledRunChanged();
        log(QStringLiteral("\u23F0 Scheduled sync triggered"));
    }
    if (coordinator_) {
        int started = coordinator_->runScheduledSyncs(listVolumes());
        if (started > 0) {
            log(QStringLiteral("\u25B6\uFE0F Sync Now: started %1").arg(Formats::count(started, "pair", "pairs")));
            return;
        }
    }
    QStringList mounted;
    for (const tessaline::VolumeInfo& volume : listVolumes()) mounted << QString::fromStdString(volume.label);
    QStringList sources;
    {
        std::lock_guard guard(configBox_->lock);
        for (const tessaline::SyncPair& pair : configBox_->configuration.pairs)
            if (pair.enabled) sources << QString::fromStdString(pair.sourceVolumeLabel);
    }
    if (sources.isEmpty()) {
        log(QStringLiteral("\u26A0\uFE0F Sync Now: no enabled sync pairs \u2014 add one or flip its toggle on."));
        return;
    }
    log(QStringLiteral("\u26A0\uFE0F Sync Now: nothing ran \u2014 no enabled pair's source (%1) matches a mounted "
                       "volume (%2). The source must be the drive's volume name exactly.")
            .arg(sources.join(QStringLiteral(", ")), mounted.join(QStringLiteral(", "))));
}

void SyncManager::runPromptedPair(const QString& name) {
    if (coordinator_) coordinator_->runPromptedPair(name.toStdString());
}

void SyncManager::setLaunchAtLogin(bool wanted) {
    QString status = QStringLiteral("\u2014");
    if (scheduledService_) {
        if (std::optional<QString> failure = scheduledService_->setLaunchAtLogin(wanted))
            log(QStringLiteral("\u26A0\uFE0F Launch-at-login change failed: ") + *failure);
        status = scheduledService_->launchAtLoginStatusText();
    }
    if (status != launchAtLoginStatus_) {
        launchAtLoginStatus_ = status;
        Q_EMIT launchAtLoginStatusChanged();
        Q_EMIT changed();
    }
}

}  // namespace brindlecove
