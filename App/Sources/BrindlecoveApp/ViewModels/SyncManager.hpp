#pragma once
// The application's one store for drive-to-drive sync. It owns the sync configuration (in
// memory and in "sync-config.json"), the run history, the mount sync coordinator that
// starts runs, and the daily schedule; it turns the coordinator's events into the activity
// list (newest first, at most 50 lines), how far each running pair is, today's totals and
// the prompt for an inserted drive; and it carries the three switches, which are never stored: every launch starts
// watching, with auto-run on and the schedule off.
//
// All state lives on the main thread. The coordinator reads the configuration and the
// auto-run switch from its own threads through two lock-guarded boxes that the manager
// fills; its events, the schedule's fires and history notes reach the manager through
// queued main-thread calls guarded by a QPointer, so nothing arrives after it is gone.

#include "BrindlecoveApp/Platform/Clock.hpp"
#include "BrindlecoveApp/Platform/LoginItem.hpp"
#include "BrindlecoveApp/ScheduledSyncService.hpp"
#include "BrindlecoveApp/ViewModels/SyncRunProgress.hpp"

#include "Tessaline/Sync/MountSyncCoordinator.hpp"
#include "Tessaline/Sync/SyncConfiguration.hpp"
#include "Tessaline/Sync/SyncReport.hpp"
#include "Tessaline/Sync/SyncReportStore.hpp"
#include "Tessaline/Volumes/VolumeInfo.hpp"

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUuid>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace brindlecove {

class SyncManager : public QObject {
    Q_OBJECT
public:
    static constexpr int activityLimit = 50;

    // The offer to run the pairs of a drive that was inserted while auto-run was off.
    struct PendingPrompt {
        QUuid id;
        QString cardLabel;
        QStringList pairNames;
        friend bool operator==(const PendingPrompt&, const PendingPrompt&) = default;
    };

    using Event = tessaline::MountSyncCoordinator::Event;
    using VolumeLister = std::function<std::vector<tessaline::VolumeInfo>()>;
    struct Providers {
        std::function<tessaline::SyncConfiguration()> configuration;
        std::function<bool()> autoRun;
        std::function<void(const Event&)> onEvent;
    };
    using CoordinatorFactory = std::function<std::shared_ptr<tessaline::MountSyncCoordinator>(
        Providers providers, std::shared_ptr<tessaline::SyncReportStore> reportStore)>;

    // Where the manager finds its files and the system; the defaults are the real ones.
    struct Environment {
        std::filesystem::path configURL = tessaline::SyncConfiguration::defaultURL();
        std::optional<std::filesystem::path> historyURL;  // none: the store's default
        VolumeLister listVolumes;                          // none: the real listing
        CoordinatorFactory makeCoordinator;                // none: the real coordinator
        std::optional<LoginItem> loginItem;                // none: the application's entry
        Clock clock = systemClock();
        int checkIntervalMs = 60'000;                      // schedule and midnight checks
    };

    explicit SyncManager(QObject* parent = nullptr);
    explicit SyncManager(Environment environment, QObject* parent = nullptr);
    ~SyncManager() override;

    const std::vector<tessaline::SyncPair>& pairs() const { return pairs_; }
    const QStringList& activity() const { return activity_; }
    const std::optional<tessaline::SyncReport>& todayReport() const { return todayReport_; }
    // The pairs running now, in the order they started, each with how far it is.
    const std::vector<SyncRunProgress>& runningSyncs() const { return runningSyncs_; }
    const tessaline::SyncConfiguration& configuration() const { return configuration_; }
    const std::shared_ptr<tessaline::MountSyncCoordinator>& coordinator() const { return coordinator_; }
    // The sync configuration file ("sync-config.json").
    const std::filesystem::path& configURL() const { return environment_.configURL; }
    ScheduledSyncService* scheduledService() const { return scheduledService_.get(); }

    // Watch drives. Every write applies the state (start or stop watching), even unchanged.
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    // The daily schedule. Only a change creates or removes the daily activity.
    bool scheduledSyncEnabled() const { return scheduledSyncEnabled_; }
    void setScheduledSyncEnabled(bool enabled);
    // Auto-run on insert (off: prompt). Every write reaches the coordinator's box.
    bool autoRunOnMount() const { return autoRunOnMount_; }
    void setAutoRunOnMount(bool autoRun);

    const QString& launchAtLoginStatus() const { return launchAtLoginStatus_; }
    const std::optional<QDateTime>& lastScheduledRun() const { return lastScheduledRun_; }
    const std::optional<PendingPrompt>& pendingPrompt() const { return pendingPrompt_; }
    void setPendingPrompt(std::optional<PendingPrompt> prompt);

    // Pair edits; each saves the configuration (a failed save becomes an activity line).
    void addPair(const tessaline::SyncPair& pair);
    void removePair(const tessaline::Uuid& id);
    void togglePair(const tessaline::Uuid& id);

    // The daily run (true) and "Sync All Now" (false).
    void runScheduledNow(bool triggeredBySchedule);
    // Run-now of a pair offered by the insert prompt: on every mounted card its source label
    // matches (ignoring case, as the prompt did), one after the other, so a second card of
    // the same name is copied too. Failures arrive as activity lines.
    void runPromptedPair(const QString& name);
    void setLaunchAtLogin(bool wanted);

    // Re-reads today's totals when the local day has changed since the last reading
    // (run every check interval, so "Today" never shows yesterday's figures after midnight).
    void checkDayChange();

Q_SIGNALS:
    void pairsChanged();
    void activityChanged();
    void todayReportChanged();
    void enabledChanged();
    void scheduledSyncEnabledChanged();
    void autoRunOnMountChanged();
    void launchAtLoginStatusChanged();
    void lastScheduledRunChanged();
    void pendingPromptChanged();
    // runningSyncs() changed: a run started, moved on or ended (not announced by changed(),
    // which a run's every chunk would otherwise send).
    void runningSyncsChanged();
    void changed();

private:
    struct ConfigBox {
        std::mutex lock;
        tessaline::SyncConfiguration configuration;
    };

    void handle(const Event& event);
    // Follows the running pairs: a run started, an event of its copy, or its end.
    void trackRun(const Event& event);
    void log(const QString& message);
    void save();
    void applyWatchState();
    void readTodayReport();
    void loadConfiguration();
    std::vector<tessaline::VolumeInfo> listVolumes() const;

    Environment environment_;
    std::vector<tessaline::SyncPair> pairs_;
    QStringList activity_;
    std::optional<tessaline::SyncReport> todayReport_;
    std::vector<SyncRunProgress> runningSyncs_;
    bool enabled_ = true;
    tessaline::SyncConfiguration configuration_;
    std::shared_ptr<ConfigBox> configBox_;
    std::shared_ptr<tessaline::SyncReportStore> reportStore_;
    std::shared_ptr<tessaline::MountSyncCoordinator> coordinator_;
    std::unique_ptr<ScheduledSyncService> scheduledService_;
    bool scheduledSyncEnabled_ = false;
    QString launchAtLoginStatus_;
    std::optional<QDateTime> lastScheduledRun_;
    std::optional<PendingPrompt> pendingPrompt_;
    bool autoRunOnMount_ = true;
    std::shared_ptr<std::atomic<bool>> autoRunBox_;
    QDate todayReportDay_;
    QTimer dayCheck_;
};

}  // namespace brindlecove
