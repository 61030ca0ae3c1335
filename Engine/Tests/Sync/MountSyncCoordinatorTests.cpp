#include "Tessaline/Sync/MountSyncCoordinator.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;
using Coordinator = MountSyncCoordinator;

namespace {

SyncPair pairNamed(const std::string& name, const std::string& label, bool enabled = true) {
    SyncPair pair;
    pair.id = Uuid::random();
    pair.name = name;
    pair.sourceVolumeLabel = label;
    pair.destinationPath = "/nowhere/" + name;
    pair.enabled = enabled;
    return pair;
}

VolumeInfo volumeOf(const std::string& label, const std::string& folder = {}) {
    return VolumeInfo{"/media/test/" + (folder.empty() ? label : folder), label, true, true, false};
}

// Collects events from any thread.
class EventLog {
public:
    void operator()(const Coordinator::Event& event) {
        std::lock_guard guard(lock_);
        events_.push_back(event);
        changed_.notify_all();
    }
    std::vector<Coordinator::Event> events() const {
        std::lock_guard guard(lock_);
        return events_;
    }
    template <class T>
    std::vector<T> all() const {
        std::vector<T> found;
        for (const auto& event : events())
            if (const T* e = std::get_if<T>(&event)) found.push_back(*e);
        return found;
    }
    // Waits until `count` events of kind T have arrived (bounded so a fault fails, not hangs).
    template <class T>
    bool waitFor(size_t count) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(60), [&] {
            size_t n = 0;
            for (const auto& event : events_) n += std::holds_alternative<T>(event);
            return n >= count;
        });
    }

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Coordinator::Event> events_;
};

// A stand-in run that blocks until released, counts concurrent runs per pair and can throw.
class BlockingRunner {
public:
    SyncRunner::Result run(const SyncPair& pair, const fs::path& root, SyncReport::Trigger trigger,
                           const CopyEngine::CancelTest& isCancelled) {
        bool stopped = false;
        {
            std::unique_lock guard(lock_);
            int now = ++running_[pair.id];
            maxConcurrent_ = std::max(maxConcurrent_, now);
            ++started_;
            triggers_.push_back(trigger);
            roots_.push_back(root);
            changed_.notify_all();
            changed_.wait(guard, [&] { return released_ || cancelObserved(isCancelled); });
            stopped = !released_;
            --running_[pair.id];
        }
        if (throwText_) throw std::runtime_error(*throwText_);
        if (throwOther_) throw 42;
        TransferLog log;
        log.sourceURL = root;
        log.destinationURL = pair.destinationPath;
        log.finishedAt = nowEpoch();
        log.wasCancelled = stopped;
        log.plannedFileCount = 0;
        log.plannedBytes = 0;
        return {log, SyncReport::Run::fromLog(trigger, log)};
    }
    Coordinator::RunFunction function() {
        return [this](const SyncPair& pair, const fs::path& root, SyncReport::Trigger trigger, const SettleOptions&,
                      const CopyEngine::CancelTest& isCancelled, const CopyEngine::EventHandler&) {
            return run(pair, root, trigger, isCancelled);
        };
    }
    void release() {
        std::lock_guard guard(lock_);
        released_ = true;
        changed_.notify_all();
    }
    bool waitStarted(int count) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(60), [&] { return started_ >= count; });
    }
    // Wakes blocked runs so they look at their cancellation test again.
    void poke() {
        std::lock_guard guard(lock_);
        changed_.notify_all();
    }
    int started() {
        std::lock_guard guard(lock_);
        return started_;
    }
    int maxConcurrent() {
        std::lock_guard guard(lock_);
        return maxConcurrent_;
    }
    std::vector<SyncReport::Trigger> triggers() {
        std::lock_guard guard(lock_);
        return triggers_;
    }
    std::vector<fs::path> roots() {
        std::lock_guard guard(lock_);
        return roots_;
    }
    std::optional<std::string> throwText_;
    bool throwOther_ = false;
    bool observeCancel_ = false;

private:
    bool cancelObserved(const CopyEngine::CancelTest& isCancelled) { return observeCancel_ && isCancelled && isCancelled(); }
    std::mutex lock_;
    std::condition_variable changed_;
    std::map<Uuid, int> running_;
    int maxConcurrent_ = 0;
    int started_ = 0;
    bool released_ = false;
    std::vector<SyncReport::Trigger> triggers_;
    std::vector<fs::path> roots_;
};

class CoordinatorTest : public SandboxedTest {
protected:
    SyncConfiguration config = SyncConfiguration::fallback();
    std::mutex configLock;
    std::atomic<bool> autoRun{true};
    EventLog log;
    BlockingRunner runner;
    std::shared_ptr<SyncReportStore> store = std::make_shared<SyncReportStore>(sandbox / "sync-runs.json");
    std::vector<VolumeInfo> mounted;

    std::unique_ptr<Coordinator> make() {
        return std::make_unique<Coordinator>(
            [this] {
                std::lock_guard guard(configLock);
                return config;
            },
            [this] { return autoRun.load(); }, runner.function(), store, [this](const Coordinator::Event& e) { log(e); },
            VolumeWatcher::Post{}, [this] { return mounted; });
    }
};

}  // namespace

TEST_F(CoordinatorTest, AnUnmatchedMountIsDetectedThenIgnored) {
    config.pairs = {pairNamed("off", "CARD", false), pairNamed("other", "DRIVE")};
    auto coordinator = make();
    coordinator->handleMount(volumeOf("CARD"));
    auto events = log.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(std::get<Coordinator::MountDetected>(events[0]).matchedPairs, 0);
    EXPECT_EQ(std::get<Coordinator::MountDetected>(events[0]).label, "CARD");
    EXPECT_EQ(std::get<Coordinator::Ignored>(events[1]).label, "CARD");
    EXPECT_EQ(runner.started(), 0);
}

TEST_F(CoordinatorTest, WithAutoRunOffAMountOnlyProposesThePairs) {
    config.pairs = {pairNamed("A to backup", "card"), pairNamed("off", "CARD", false), pairNamed("A to shuttle", "CARD")};
    autoRun = false;
    auto coordinator = make();
    coordinator->handleMount(volumeOf("Card"));
    auto events = log.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(std::get<Coordinator::MountDetected>(events[0]).matchedPairs, 2);
    auto prompt = std::get<Coordinator::PromptSuggested>(events[1]);
    EXPECT_EQ(prompt.label, "Card");
    EXPECT_EQ(prompt.pairNames, (std::vector<std::string>{"A to backup", "A to shuttle"}));
    EXPECT_EQ(coordinator->inFlightCount(), 0u);
    EXPECT_EQ(runner.started(), 0);
}

TEST_F(CoordinatorTest, MountsOfARunningPairWaitOncePerFolderWhileSyncNowAndRunNowAreDropped) {
    SyncPair pair = pairNamed("A cam", "CARD");
    config.pairs = {pair};
    auto coordinator = make();
    coordinator->handleMount(volumeOf("CARD"));
    ASSERT_TRUE(runner.waitStarted(1));
    EXPECT_EQ(coordinator->inFlightCount(), 1u);

    // The card inserted again three times, and a second card with its label: each folder
    // waits once. Sync Now and Run-now while it runs start nothing and wait for nothing.
    for (int i = 0; i < 3; ++i) coordinator->handleMount(volumeOf("CARD"));
    coordinator->handleMount(volumeOf("CARD", "CARD1"));
    EXPECT_EQ(coordinator->waitingCount(), 2u);
    mounted = {volumeOf("CARD")};
    EXPECT_EQ(coordinator->runScheduledSyncs(), 1);
    coordinator->runPreset("A cam");
    EXPECT_EQ(coordinator->waitingCount(), 2u);
    EXPECT_EQ(log.all<Coordinator::MountDetected>().size(), 5u);
    EXPECT_TRUE(log.all<Coordinator::SyncFailed>().empty());
    EXPECT_EQ(runner.started(), 1);

    runner.release();
    coordinator->waitForIdle();
    EXPECT_EQ(runner.started(), 3);
    EXPECT_EQ(runner.maxConcurrent(), 1);
    EXPECT_EQ(runner.roots(), (std::vector<fs::path>{"/media/test/CARD", "/media/test/CARD", "/media/test/CARD1"}));
    EXPECT_EQ(runner.triggers(), std::vector<SyncReport::Trigger>(3, SyncReport::Trigger::mount));
    EXPECT_EQ(coordinator->inFlightCount(), 0u);
    EXPECT_EQ(coordinator->waitingCount(), 0u);
    auto finished = log.all<Coordinator::SyncFinished>();
    ASSERT_EQ(finished.size(), 3u);
    EXPECT_EQ(finished[0].pairName, "A cam");
    EXPECT_FALSE(finished[0].stopped);
    EXPECT_EQ(store->allRuns().size(), 3u);
    // Each run's syncStarted comes after the previous run's syncFinished.
    std::vector<int> order;
    for (const auto& event : log.events()) {
        if (std::holds_alternative<Coordinator::SyncStarted>(event)) order.push_back(1);
        if (std::holds_alternative<Coordinator::SyncFinished>(event)) order.push_back(2);
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2, 1, 2, 1, 2}));

    // Released: the next trigger runs it again.
    coordinator->runPreset("A cam");
    coordinator->waitForIdle();
    EXPECT_EQ(runner.started(), 4);
    EXPECT_EQ(runner.triggers().back(), SyncReport::Trigger::manual);
}

TEST_F(CoordinatorTest, AWaitingMountRunsOnlyWhileItsPairStillMatchesAndNotAfterStop) {
    SyncPair pair = pairNamed("A cam", "CARD");
    config.pairs = {pair};
    auto coordinator = make();
    coordinator->handleMount(volumeOf("CARD"));
    ASSERT_TRUE(runner.waitStarted(1));
    coordinator->handleMount(volumeOf("CARD", "CARD1"));
    // Watching turned off: the waiting mount is dropped, the run going on ends as usual.
    coordinator->stop();
    EXPECT_EQ(coordinator->waitingCount(), 0u);
    coordinator->handleMount(volumeOf("CARD", "CARD2"));
    {
        // Switched off while it waits: it does not run.
        std::lock_guard guard(configLock);
        config.pairs[0].enabled = false;
    }
    runner.release();
    coordinator->waitForIdle();
    EXPECT_EQ(runner.started(), 1);
    EXPECT_EQ(coordinator->inFlightCount(), 0u);
    EXPECT_EQ(coordinator->waitingCount(), 0u);
    EXPECT_TRUE(log.all<Coordinator::SyncFailed>().empty());
}

TEST_F(CoordinatorTest, ManyTriggersFromManyThreadsNeverRunOnePairTwiceAtOnce) {
    config.pairs = {pairNamed("one", "CARD"), pairNamed("two", "card")};
    mounted = {volumeOf("CARD")};
    runner.release();  // runs finish at once, so claims come and go while triggers race
    auto coordinator = make();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                if (t % 2)
                    coordinator->handleMount(volumeOf("CARD"));
                else
                    coordinator->runScheduledSyncs();
            }
        });
    for (auto& thread : threads) thread.join();
    coordinator->waitForIdle();
    EXPECT_EQ(runner.maxConcurrent(), 1);
    EXPECT_GE(runner.started(), 2);
    EXPECT_EQ(coordinator->inFlightCount(), 0u);
    EXPECT_EQ(store->allRuns().size(), static_cast<size_t>(runner.started()));
}

TEST_F(CoordinatorTest, AThrowingRunIsReportedFailedAndReleasesItsClaim) {
    SyncPair pair = pairNamed("A cam", "CARD");
    config.pairs = {pair};
    runner.throwText_ = "The destination drive for /nowhere/A cam isn't connected — plug it in and re-run.";
    runner.release();
    auto coordinator = make();
    coordinator->handleMount(volumeOf("CARD"));
    coordinator->waitForIdle();
    auto failed = log.all<Coordinator::SyncFailed>();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].pairName, "A cam");
    EXPECT_EQ(failed[0].message, *runner.throwText_);
    EXPECT_EQ(log.all<Coordinator::SyncStarted>().size(), 1u);
    EXPECT_TRUE(log.all<Coordinator::SyncFinished>().empty());
    EXPECT_TRUE(store->allRuns().empty());
    EXPECT_EQ(coordinator->inFlightCount(), 0u);

    // Something that is not even an exception type, and a listener that throws.
    runner.throwText_.reset();
    runner.throwOther_ = true;
    coordinator->handleMount(volumeOf("CARD"));
    coordinator->waitForIdle();
    EXPECT_EQ(log.all<Coordinator::SyncFailed>().size(), 2u);
    EXPECT_EQ(coordinator->inFlightCount(), 0u);
}

TEST_F(CoordinatorTest, AThrowingListenerDoesNotStopTheRunOrKeepTheClaim) {
    config.pairs = {pairNamed("A cam", "CARD")};
    runner.release();
    std::atomic<int> calls{0};
    Coordinator coordinator([this] { return config; }, [] { return true; }, runner.function(), store,
                            [&](const Coordinator::Event&) {
                                ++calls;
                                throw std::runtime_error("listener broke");
                            });
    coordinator.handleMount(volumeOf("CARD"));
    coordinator.waitForIdle();
    EXPECT_EQ(store->allRuns().size(), 1u);
    EXPECT_EQ(coordinator.inFlightCount(), 0u);
    EXPECT_EQ(calls.load(), 3);  // mountDetected, syncStarted, syncFinished
}

TEST_F(CoordinatorTest, RunNowMatchesNameAndLabelExactly) {
    config.pairs = {pairNamed("Off", "CARD", false), pairNamed("A cam", "CARD")};
    mounted = {volumeOf("card")};
    auto coordinator = make();
    coordinator->runPreset("off");
    coordinator->runPreset("Off");       // disabled
    coordinator->runPreset("Unknown");  // no such pair
    EXPECT_TRUE(log.events().empty());

    coordinator->runPreset("A cam");  // the mounted label differs in letter case only
    auto failed = log.all<Coordinator::SyncFailed>();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].message, "Source drive \u201c" "CARD" "\u201d isn\u2019t mounted.");
    EXPECT_EQ(runner.started(), 0);

    mounted = {volumeOf("card"), volumeOf("CARD")};
    runner.release();
    coordinator->runPreset("A cam");
    coordinator->waitForIdle();
    ASSERT_EQ(runner.started(), 1);
    EXPECT_EQ(runner.triggers()[0], SyncReport::Trigger::manual);
}

TEST_F(CoordinatorTest, PromptedRunNowCopiesEveryCardOfThePairOneAtATime) {
    config.pairs = {pairNamed("Off", "CARD", false), pairNamed("A cam", "CARD")};
    auto coordinator = make();
    coordinator->runPromptedPair("Off");
    coordinator->runPromptedPair("Unknown");
    EXPECT_TRUE(log.events().empty());
    coordinator->runPromptedPair("A cam");  // no card mounted
    auto failed = log.all<Coordinator::SyncFailed>();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].message, "Source drive \u201c" "CARD" "\u201d isn\u2019t mounted.");

    // Two cards of the name (letter case ignored, as for a mount) and another volume.
    mounted = {volumeOf("card"), volumeOf("OTHER"), volumeOf("CARD", "CARD1")};
    coordinator->runPromptedPair("A cam");
    ASSERT_TRUE(runner.waitStarted(1));
    EXPECT_EQ(coordinator->waitingCount(), 1u);
    runner.release();
    coordinator->waitForIdle();
    EXPECT_EQ(runner.roots(), (std::vector<fs::path>{"/media/test/card", "/media/test/CARD1"}));
    EXPECT_EQ(runner.triggers(), std::vector<SyncReport::Trigger>(2, SyncReport::Trigger::manual));
    EXPECT_EQ(runner.maxConcurrent(), 1);
    EXPECT_EQ(coordinator->inFlightCount(), 0u);
}

TEST_F(CoordinatorTest, ScheduledSyncsCountMatchesNotStartsAndIgnoreAutoRun) {
    SyncPair pair = pairNamed("A cam", "CARD");
    config.pairs = {pair, pairNamed("B cam", "OTHER")};
    autoRun = false;
    auto coordinator = make();
    // One pair matching two mounted volumes counts twice but runs once.
    EXPECT_EQ(coordinator->runScheduledSyncs({volumeOf("CARD"), volumeOf("card")}), 2);
    ASSERT_TRUE(runner.waitStarted(1));
    EXPECT_TRUE(log.all<Coordinator::MountDetected>().empty());
    EXPECT_TRUE(log.all<Coordinator::PromptSuggested>().empty());
    EXPECT_EQ(coordinator->runScheduledSyncs({volumeOf("NOTHING")}), 0);
    runner.release();
    coordinator->waitForIdle();
    EXPECT_EQ(runner.started(), 1);
    EXPECT_EQ(runner.triggers()[0], SyncReport::Trigger::scheduled);
}

TEST_F(CoordinatorTest, DestroyingTheCoordinatorStopsRunsBetweenFilesAndJoinsThem) {
    config.pairs = {pairNamed("A cam", "CARD"), pairNamed("B cam", "CARD")};
    runner.observeCancel_ = true;
    auto coordinator = make();
    coordinator->handleMount(volumeOf("CARD"));
    ASSERT_TRUE(runner.waitStarted(2));
    coordinator->handleMount(volumeOf("CARD", "CARD1"));
    EXPECT_EQ(coordinator->waitingCount(), 2u);
    std::atomic<bool> destroyed{false};
    std::thread poker([&] {
        // The runs wait on a condition; wake them until they have seen the stop request.
        while (!destroyed) {
            runner.poke();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    coordinator.reset();  // returns only once both runs have ended
    destroyed = true;
    poker.join();
    const auto finished = log.all<Coordinator::SyncFinished>();
    ASSERT_EQ(finished.size(), 2u);
    // The record of a stopped run with no file is that of an empty card; the event tells.
    for (const auto& run : finished) EXPECT_TRUE(run.stopped) << run.pairName;
    EXPECT_EQ(store->allRuns().size(), 2u);
    EXPECT_EQ(runner.started(), 2);  // nothing that waited runs once stopping has begun
}
