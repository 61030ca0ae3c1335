#pragma once
// Decides when sync pairs run: on a mount of their source volume (trigger mount), on the
// daily schedule or Sync Now (scheduled), and on Run-now of one named pair (manual). It
// never runs one pair twice at once, runs every sync on a thread it owns at utility
// priority (a pair's waiting runs follow on its thread, one after the other), appends each
// finished run to the history, and reports everything it does as typed events through one
// callback.
//
// A mount whose pair is running waits and runs when that run ends, from its own volume
// (two cards with one label, or a card inserted again mid-run, are each copied); at most
// one run waits per pair and source folder. The insert prompt's Run-now waits the same
// way, for each mounted card of the pair. Sync Now and Run-now of a running pair are
// dropped: the run going on already serves them.
//
// Threads: the triggers may be called from any thread and return at once. Each run's
// events are sent in order on its own thread; mountDetected, ignored, promptSuggested and
// Run-now's not-mounted failure on the caller's thread. `onEvent` must accept calls from
// any thread. The in-flight lock is held only to test-and-insert or remove an id or a
// waiting run, never across a run, a provider or a callback.
//
// Lifetime: the coordinator owns its run threads and its watcher. Destroying it stops the
// watcher, drops the waiting runs, asks every run to stop (at its next file or chunk; a started sync
// otherwise always runs to its end) and joins the threads. It must not be destroyed on one
// of its own run threads or inside its own event callback.

#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Copy/SettleOptions.hpp"
#include "Tessaline/Support/Uuid.hpp"
#include "Tessaline/Sync/SyncConfiguration.hpp"
#include "Tessaline/Sync/SyncReport.hpp"
#include "Tessaline/Sync/SyncReportStore.hpp"
#include "Tessaline/Sync/SyncRunner.hpp"
#include "Tessaline/Volumes/VolumeInfo.hpp"
#include "Tessaline/Volumes/VolumeWatcher.hpp"

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <unordered_set>
#include <variant>
#include <vector>

namespace tessaline {

class MountSyncCoordinator {
public:
    // Every mounted volume, first: the number of enabled pairs whose source label matches.
    struct MountDetected { std::string label; int matchedPairs = 0; };
    // A run's thread begins.
    struct SyncStarted { std::string pairName; };
    // A settle or copy event of a running pair.
    struct SyncProgress { std::string pairName; CopyEngine::Event event; };
    // A run returned and its record was appended to the history; `stopped` when it was
    // stopped before its end (the record alone cannot tell a stopped run from an empty card);
    // `failure` when it was refused before copying anything (SyncRunner::Result::failure).
    struct SyncFinished {
        std::string pairName;
        SyncReport::Run run;
        bool stopped = false;
        std::optional<std::string> failure;
    };
    // A run threw (its sentence), or Run-now found the source not mounted.
    struct SyncFailed { std::string pairName; std::string message; };
    // A mounted volume matches no enabled pair.
    struct Ignored { std::string label; };
    // A mounted volume matches pairs while auto-run is off; nothing runs.
    struct PromptSuggested { std::string label; std::vector<std::string> pairNames; };
    using Event = std::variant<MountDetected, SyncStarted, SyncProgress, SyncFinished, SyncFailed, Ignored,
                               PromptSuggested>;

    using ConfigProvider = std::function<SyncConfiguration()>;
    using AutoRunProvider = std::function<bool()>;
    using EventHandler = std::function<void(const Event&)>;
    // Performs one run; SyncRunner::run in the application, a stand-in in tests.
    using RunFunction = std::function<SyncRunner::Result(
        const SyncPair& pair, const std::filesystem::path& sourceRoot, SyncReport::Trigger trigger,
        const SettleOptions& settle, const CopyEngine::CancelTest& isCancelled,
        const CopyEngine::EventHandler& onEvent)>;
    // Lists the mounted volumes for the schedule and Run-now.
    using VolumeLister = std::function<std::vector<VolumeInfo>()>;

    // No watching until start(). `watcherPost` is handed to the volume watcher (for
    // example a queued call onto the UI thread); `lister` defaults to the system listing.
    MountSyncCoordinator(ConfigProvider configProvider, AutoRunProvider autoRunProvider, SyncRunner runner,
                         std::shared_ptr<SyncReportStore> reportStore, EventHandler onEvent,
                         VolumeWatcher::Post watcherPost = {}, VolumeLister lister = {});
    MountSyncCoordinator(ConfigProvider configProvider, AutoRunProvider autoRunProvider, RunFunction run,
                         std::shared_ptr<SyncReportStore> reportStore, EventHandler onEvent,
                         VolumeWatcher::Post watcherPost = {}, VolumeLister lister = {});
    ~MountSyncCoordinator();
    MountSyncCoordinator(const MountSyncCoordinator&) = delete;
    MountSyncCoordinator& operator=(const MountSyncCoordinator&) = delete;

    // Starts watching mounts (a mounted volume goes to handleMount); no-op while watching.
    void start();
    // Stops and drops the watcher and the runs waiting for a running pair (a run going on
    // ends as usual); a later start() makes a new watcher.
    void stop();
    bool isWatching() const;

    // The mount trigger. A matched pair that is running gets this volume queued behind its
    // run.
    void handleMount(const VolumeInfo& volume);
    // The schedule and Sync Now trigger over the listed volumes; returns the number of
    // matches found (in-flight pairs included; a pair matching two volumes counts twice).
    int runScheduledSyncs();
    int runScheduledSyncs(const std::vector<VolumeInfo>& mountedVolumes);
    // Run-now of the first enabled pair named exactly `name`, on the volume labelled exactly
    // as its source.
    void runPreset(const std::string& name);
    // Run-now from the insert prompt: the first enabled pair named exactly `name`, on every
    // mounted volume its source label matches as a mount matches it (ignoring case), one
    // after the other; a running pair gets them queued behind its run. Sends the not-mounted
    // failure when no volume matches; nothing when no enabled pair has the name.
    void runPromptedPair(const std::string& name);

    // Blocks until no run is going on and no mount waits (for shutdown grace periods and
    // tests).
    void waitForIdle();
    // The number of pairs claimed and not yet released.
    size_t inFlightCount() const;
    // The number of runs waiting for a run of their pair to end.
    size_t waitingCount() const;

private:
    struct Worker {
        std::jthread thread;
        bool finished = false;
    };
    // A mount, or a prompted Run-now, that found its pair running.
    struct WaitingRun {
        Uuid pairId;
        VolumeInfo volume;
        std::optional<uint64_t> mountId;  // of the source folder when it was mounted
        SyncReport::Trigger trigger = SyncReport::Trigger::mount;
    };
    struct Job {
        SyncPair pair;
        std::filesystem::path sourceRoot;
        SyncReport::Trigger trigger;
        SettleOptions settle;
    };

    bool claimInFlight(const Uuid& id);
    // Claims the pair, or queues the run (`mountId`: the mount now at the volume's folder)
    // behind its run, replacing an earlier wait of the same pair and folder; true when claimed.
    bool claimOrWait(const Uuid& id, const VolumeInfo& volume, std::optional<uint64_t> mountId,
                     SyncReport::Trigger trigger);
    // Claims or queues `pair` on each volume in turn, starting the claimed run.
    void claimOrWaitEach(const SyncPair& pair, const std::vector<VolumeInfo>& volumes, SyncReport::Trigger trigger,
                         const SettleOptions& settle);
    // With the pair's run ended: hands over its next waiting run, keeping the claim, or
    // releases the claim (always when `stop` was requested) and answers nullopt.
    std::optional<WaitingRun> nextOrRelease(const Uuid& id, bool stop);
    // The run of a waiting run as the configuration stands now; nullopt when the pair was
    // removed, disabled or renamed away from the label meanwhile, or (with a failure sent)
    // when another volume now sits at the source folder.
    std::optional<Job> jobFor(const WaitingRun& waiting);
    void triggerPair(const SyncPair& pair, const std::filesystem::path& sourceRoot, SyncReport::Trigger trigger,
                     const SettleOptions& settle);
    void runTask(Job job, std::stop_token stop);
    void runOne(const Job& job, const std::stop_token& stop);
    void send(const Event& event);
    std::vector<VolumeInfo> mountedVolumes() const;

    ConfigProvider configProvider_;
    AutoRunProvider autoRunProvider_;
    RunFunction run_;
    std::shared_ptr<SyncReportStore> reportStore_;
    EventHandler onEvent_;
    VolumeWatcher::Post watcherPost_;
    VolumeLister lister_;

    mutable std::mutex watcherLock_;
    std::unique_ptr<VolumeWatcher> watcher_;

    mutable std::mutex lock_;  // guards inFlightPairIDs_ and waiting_ only
    std::unordered_set<Uuid> inFlightPairIDs_;
    std::list<WaitingRun> waiting_;  // in arrival order; each pair is in flight

    std::mutex workersLock_;  // guards workers_, running_ and shuttingDown_
    std::condition_variable idle_;
    std::list<Worker> workers_;
    int running_ = 0;
    bool shuttingDown_ = false;
};

}  // namespace tessaline
