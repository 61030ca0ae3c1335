#include "Tessaline/Sync/MountSyncCoordinator.hpp"

#include "Tessaline/Volumes/MountTable.hpp"
#include "Tessaline/Volumes/VolumeDetector.hpp"

#include <algorithm>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

// A background run yields the processor and the disk to interactive work: nice +5 and the
// lowest best-effort I/O priority but one. Failures leave the default priority.
void lowerToUtilityPriority() {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 5);
    constexpr int ioprioWhoProcess = 1;
    constexpr int ioprioClassBestEffort = 2;
    constexpr int ioprioClassShift = 13;
    ::syscall(SYS_ioprio_set, ioprioWhoProcess, 0, (ioprioClassBestEffort << ioprioClassShift) | 6);
}

// The mount now at `folder` (read from the mount table: no call reaches a FUSE daemon on
// the caller's thread); nullopt when nothing is mounted exactly there.
std::optional<uint64_t> mountIdAt(const fs::path& folder) {
    if (auto entry = MountTable::current().mountedAt(folder)) return static_cast<uint64_t>(entry->id);
    return std::nullopt;
}

// The first enabled pair named exactly `name` (letter case included); null when none.
const SyncPair* enabledPairNamed(const SyncConfiguration& config, const std::string& name) {
    for (const SyncPair& pair : config.pairs)
        if (pair.enabled && pair.name == name) return &pair;
    return nullptr;
}

std::string sourceNotMountedText(const std::string& label) { return "Source drive “" + label + "” isn’t mounted."; }

}  // namespace

MountSyncCoordinator::MountSyncCoordinator(ConfigProvider configProvider, AutoRunProvider autoRunProvider,
                                           SyncRunner runner, std::shared_ptr<SyncReportStore> reportStore,
                                           EventHandler onEvent, VolumeWatcher::Post watcherPost,
                                           VolumeLister lister)
    : MountSyncCoordinator(
          std::move(configProvider), std::move(autoRunProvider),
          [runner = std::move(runner)](const SyncPair& pair, const fs::path& sourceRoot, SyncReport::Trigger trigger,
                                       const SettleOptions& settle, const CopyEngine::CancelTest& isCancelled,
                                       const CopyEngine::EventHandler& onEvent) {
              return runner.run(pair, sourceRoot, trigger, settle, isCancelled, onEvent);
          },
          std::move(reportStore), std::move(onEvent), std::move(watcherPost), std::move(lister)) {}

MountSyncCoordinator::MountSyncCoordinator(ConfigProvider configProvider, AutoRunProvider autoRunProvider,
                                           RunFunction run, std::shared_ptr<SyncReportStore> reportStore,
                                           EventHandler onEvent, VolumeWatcher::Post watcherPost,
                                           VolumeLister lister)
    : configProvider_(std::move(configProvider)),
      autoRunProvider_(std::move(autoRunProvider)),
      run_(std::move(run)),
      reportStore_(std::move(reportStore)),
      onEvent_(std::move(onEvent)),
      watcherPost_(std::move(watcherPost)),
      lister_(std::move(lister)) {}

MountSyncCoordinator::~MountSyncCoordinator() {
    stop();
    {
        std::lock_guard guard(workersLock_);
        shuttingDown_ = true;
        for (auto& worker : workers_) worker.thread.request_stop();
    }
    // No worker is added once shuttingDown_ is set, so the list is stable while joining.
    for (auto& worker : workers_)
        if (worker.thread.joinable()) worker.thread.join();
}

void MountSyncCoordinator::start() {
    std::lock_guard guard(watcherLock_);
    if (watcher_) return;
    watcher_ = std::make_unique<VolumeWatcher>(
        [this](const VolumeWatcher::Event& event) {
            if (const auto* mounted = std::get_if<VolumeWatcher::Mounted>(&event)) handleMount(mounted->volume);
        },
        watcherPost_);
}

void MountSyncCoordinator::stop() {
    std::unique_ptr<VolumeWatcher> watcher;
    {
        std::lock_guard guard(watcherLock_);
        watcher = std::move(watcher_);
    }
    if (watcher) watcher->stop();
    std::lock_guard guard(lock_);
    waiting_.clear();
}

bool MountSyncCoordinator::isWatching() const {
    std::lock_guard guard(watcherLock_);
    return watcher_ != nullptr;
}

bool MountSyncCoordinator::claimInFlight(const Uuid& id) {
    std::lock_guard guard(lock_);
    return inFlightPairIDs_.insert(id).second;
}

bool MountSyncCoordinator::claimOrWait(const Uuid& id, const VolumeInfo& volume, std::optional<uint64_t> mountId,
                                       SyncReport::Trigger trigger) {
    std::lock_guard guard(lock_);
    if (inFlightPairIDs_.insert(id).second) return true;
    for (WaitingRun& waiting : waiting_)
        if (waiting.pairId == id && waiting.volume.url == volume.url) {
            // The same card inserted again: the newest mount is the one to copy, once.
            waiting = WaitingRun{id, volume, mountId, trigger};
            return false;
        }
    waiting_.push_back(WaitingRun{id, volume, mountId, trigger});
    return false;
}

void MountSyncCoordinator::claimOrWaitEach(const SyncPair& pair, const std::vector<VolumeInfo>& volumes,
                                           SyncReport::Trigger trigger, const SettleOptions& settle) {
    for (const VolumeInfo& volume : volumes)
        if (claimOrWait(pair.id, volume, mountIdAt(volume.url), trigger)) triggerPair(pair, volume.url, trigger, settle);
}

std::optional<MountSyncCoordinator::WaitingRun> MountSyncCoordinator::nextOrRelease(const Uuid& id, bool stop) {
    std::lock_guard guard(lock_);
    auto it = std::find_if(waiting_.begin(), waiting_.end(), [&](const WaitingRun& w) { return w.pairId == id; });
    if (it == waiting_.end() || stop) {
        std::erase_if(waiting_, [&](const WaitingRun& w) { return w.pairId == id; });
        inFlightPairIDs_.erase(id);
        return std::nullopt;
    }
    WaitingRun next = std::move(*it);
    waiting_.erase(it);
    return next;
}

size_t MountSyncCoordinator::inFlightCount() const {
    std::lock_guard guard(lock_);
    return inFlightPairIDs_.size();
}

size_t MountSyncCoordinator::waitingCount() const {
    std::lock_guard guard(lock_);
    return waiting_.size();
}

void MountSyncCoordinator::send(const Event& event) {
    if (!onEvent_) return;
    try {
        onEvent_(event);
    } catch (...) {
        // A failing listener must not end a run or a thread.
    }
}

std::vector<VolumeInfo> MountSyncCoordinator::mountedVolumes() const {
    return lister_ ? lister_() : VolumeDetector::listMountedVolumes();
}

void MountSyncCoordinator::handleMount(const VolumeInfo& volume) {
    SyncConfiguration config = configProvider_();
    std::vector<SyncPair> pairs = config.pairsForMountedLabel(volume.label);
    send(MountDetected{volume.label, static_cast<int>(pairs.size())});
    if (pairs.empty()) {
        send(Ignored{volume.label});
        return;
    }
    if (!autoRunProvider_()) {
        std::vector<std::string> names;
        for (const auto& pair : pairs) names.push_back(pair.name);
        send(PromptSuggested{volume.label, std::move(names)});
        return;
    }
    for (const auto& pair : pairs) claimOrWaitEach(pair, {volume}, SyncReport::Trigger::mount, config.settleOptions());
}

int MountSyncCoordinator::runScheduledSyncs() { return runScheduledSyncs(mountedVolumes()); }

int MountSyncCoordinator::runScheduledSyncs(const std::vector<VolumeInfo>& volumes) {
    SyncConfiguration config = configProvider_();
    SettleOptions settle = config.settleOptions();
    int count = 0;
    for (const auto& volume : volumes) {
        std::vector<SyncPair> pairs = config.pairsForMountedLabel(volume.label);
        count += static_cast<int>(pairs.size());
        for (const auto& pair : pairs)
            if (claimInFlight(pair.id)) triggerPair(pair, volume.url, SyncReport::Trigger::scheduled, settle);
    }
    return count;
}

void MountSyncCoordinator::runPreset(const std::string& name) {
    SyncConfiguration config = configProvider_();
    const SyncPair* found = enabledPairNamed(config, name);
    if (!found) return;
    std::vector<VolumeInfo> volumes = mountedVolumes();
    const VolumeInfo* source = nullptr;
    for (const auto& volume : volumes)
        if (volume.label == found->sourceVolumeLabel) {
            source = &volume;
            break;
        }
    if (!source) {
        send(SyncFailed{found->name, sourceNotMountedText(found->sourceVolumeLabel)});
        return;
    }
    if (!claimInFlight(found->id)) return;
    triggerPair(*found, source->url, SyncReport::Trigger::manual, config.settleOptions());
}

void MountSyncCoordinator::runPromptedPair(const std::string& name) {
    SyncConfiguration config = configProvider_();
    const SyncPair* found = enabledPairNamed(config, name);
    if (!found) return;
    // The volumes the prompt was offered for: every card the pair's label matches as a mount
    // does, so two cards of one name are both copied.
    std::vector<VolumeInfo> sources;
    for (const VolumeInfo& volume : mountedVolumes()) {
        std::vector<SyncPair> matched = config.pairsForMountedLabel(volume.label);
        if (std::any_of(matched.begin(), matched.end(), [&](const SyncPair& p) { return p.id == found->id; }))
            sources.push_back(volume);
    }
    if (sources.empty()) {
        send(SyncFailed{found->name, sourceNotMountedText(found->sourceVolumeLabel)});
        return;
    }
    claimOrWaitEach(*found, sources, SyncReport::Trigger::manual, config.settleOptions());
}

// Called with the pair claimed; the claim is released on every path from here on.
void MountSyncCoordinator::triggerPair(const SyncPair& pair, const fs::path& sourceRoot, SyncReport::Trigger trigger,
                                       const SettleOptions& settle) {
    std::string failure;
    {
        std::lock_guard guard(workersLock_);
        // Finished workers only have their thread's last instruction left: joining is quick.
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (it->finished) {
                it->thread.join();
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
        if (shuttingDown_) {
            failure = "The sync run could not start because Brindlecove is quitting.";
        } else {
            auto worker = workers_.emplace(workers_.end());
            ++running_;
            try {
                worker->thread = std::jthread([this, worker, job = Job{pair, sourceRoot, trigger, settle}](
                                                  std::stop_token stop) mutable {
                    runTask(std::move(job), stop);
                    {
                        std::lock_guard guard(workersLock_);
                        worker->finished = true;
                        --running_;
                    }
                    idle_.notify_all();
                });
            } catch (const std::exception& error) {
                workers_.erase(worker);
                --running_;
                failure = std::string("The sync run could not start: ") + error.what();
            }
        }
    }
    if (!failure.empty()) {
        idle_.notify_all();
        send(SyncFailed{pair.name, failure});
        nextOrRelease(pair.id, /*stop=*/true);
    }
}

// Runs the claimed pair, then each mount that waited for it, on this one thread: the claim
// is held from the first run to the last, so two runs of the pair never overlap, and it is
// released on every path.
void MountSyncCoordinator::runTask(Job job, std::stop_token stop) {
    lowerToUtilityPriority();
    const Uuid id = job.pair.id;
    try {
        std::optional<Job> current = std::move(job);
        while (current) {
            runOne(*current, stop);
            current.reset();
            while (!current) {
                std::optional<WaitingRun> waiting = nextOrRelease(id, stop.stop_requested());
                if (!waiting) return;
                current = jobFor(*waiting);
            }
        }
    } catch (...) {
        nextOrRelease(id, /*stop=*/true);
    }
}

std::optional<MountSyncCoordinator::Job> MountSyncCoordinator::jobFor(const WaitingRun& waiting) {
    SyncConfiguration config;
    try {
        config = configProvider_();
    } catch (...) {
        return std::nullopt;
    }
    for (const SyncPair& pair : config.pairsForMountedLabel(waiting.volume.label)) {
        if (pair.id != waiting.pairId) continue;
        // The card may have been pulled while it waited; its folder then leads elsewhere.
        if (mountIdAt(waiting.volume.url) != waiting.mountId) {
            send(SyncFailed{pair.name, sourceNotMountedText(waiting.volume.label)});
            return std::nullopt;
        }
        return Job{pair, waiting.volume.url, waiting.trigger, config.settleOptions()};
    }
    return std::nullopt;
}

void MountSyncCoordinator::runOne(const Job& job, const std::stop_token& stop) {
    const SyncPair& pair = job.pair;
    send(SyncStarted{pair.name});
    try {
        // A started sync runs to its end; only quitting the application stops it.
        CopyEngine::CancelTest isCancelled = [stop] { return stop.stop_requested(); };
        CopyEngine::EventHandler onProgress = [this, &pair](const CopyEngine::Event& event) {
            send(SyncProgress{pair.name, event});
        };
        SyncRunner::Result result = run_(pair, job.sourceRoot, job.trigger, job.settle, isCancelled, onProgress);
        if (reportStore_) reportStore_->append(result.run);
        send(SyncFinished{pair.name, result.run, result.log.wasCancelled, result.failure});
    } catch (const std::exception& error) {
        send(SyncFailed{pair.name, error.what()});
    } catch (...) {
        send(SyncFailed{pair.name, "The sync run failed with an unexpected error."});
    }
}

void MountSyncCoordinator::waitForIdle() {
    std::unique_lock guard(workersLock_);
    idle_.wait(guard, [this] { return running_ == 0; });
}

}  // namespace tessaline
