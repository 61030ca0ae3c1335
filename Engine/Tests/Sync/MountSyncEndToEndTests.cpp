#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Sync/MountSyncCoordinator.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <unistd.h>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;
using Coordinator = MountSyncCoordinator;

namespace {

// Collects the events that concern one label or pair (other tests mount volumes too).
class Events {
public:
    void add(const Coordinator::Event& event) {
        std::lock_guard guard(lock_);
        events_.push_back(event);
        changed_.notify_all();
    }
    template <class T, class Pred>
    size_t count(Pred pred) const {
        std::lock_guard guard(lock_);
        return countLocked<T>(pred);
    }
    // Bounded so that a fault fails the test instead of hanging it.
    template <class T, class Pred>
    bool waitFor(size_t n, Pred pred) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(120), [&] { return countLocked<T>(pred) >= n; });
    }

private:
    template <class T, class Pred>
    size_t countLocked(Pred pred) const {
        size_t n = 0;
        for (const auto& event : events_)
            if (const T* e = std::get_if<T>(&event); e && pred(*e)) ++n;
        return n;
    }
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Coordinator::Event> events_;
};

class MountSyncEndToEnd : public SandboxedTest {
protected:
    std::string label = "BCSYNC" + std::to_string(::getpid() % 100000);
    SyncPair pair;
    SyncConfiguration config{{}, 2.0, 30.0};
    bool autoRun = true;
    Events events;
    std::shared_ptr<SyncReportStore> history = std::make_shared<SyncReportStore>(sandbox / "sync-runs.json");
    std::shared_ptr<SecurityScopedBookmarkStore> grants =
        std::make_shared<SecurityScopedBookmarkStore>(sandbox / "bookmarks.json");

    void SetUp() override {
        pair.id = Uuid::random();
        pair.name = "A cam to backup";
        pair.sourceVolumeLabel = label;
        pair.destinationPath = (sandbox / "backup/Day1").string();
        fs::create_directories(sandbox / "backup");
        config.pairs = {pair};
    }

    std::unique_ptr<Coordinator> make() {
        return std::make_unique<Coordinator>([this] { return config; }, [this] { return autoRun; },
                                             SyncRunner(grants), history,
                                             [this](const Coordinator::Event& e) { events.add(e); });
    }

    auto mine() {
        return [this](const auto& e) {
            if constexpr (requires { e.label; })
                return e.label == label;
            else
                return e.pairName == pair.name;
        };
    }
};

}  // namespace

TEST_F(MountSyncEndToEnd, MountingTheCardRunsItsPairOnceAndRecordsOneVerifiedRun) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, label);
    writePatternFile(card.mountPoint() / "DCIM/100CANON/IMG_0001.CR3", 2'000'000, 3);
    writePatternFile(card.mountPoint() / "DCIM/100CANON/IMG_0002.CR3", 1'000'000, 4);
    writeFile(card.mountPoint() / "PRIVATE/M4ROOT/CLIP/C0001.XML", "<clip/>");
    card.unmount();

    auto coordinator = make();
    coordinator->start();
    card.remount();
    ASSERT_TRUE(events.waitFor<Coordinator::SyncFinished>(1, mine()));
    coordinator->waitForIdle();

    EXPECT_EQ(events.count<Coordinator::MountDetected>([&](const auto& e) { return e.label == label && e.matchedPairs == 1; }), 1u);
    EXPECT_EQ(events.count<Coordinator::SyncStarted>(mine()), 1u);
    EXPECT_EQ(events.count<Coordinator::SyncFailed>(mine()), 0u);
    EXPECT_GE(events.count<Coordinator::SyncProgress>([&](const Coordinator::SyncProgress& e) {
                  return e.pairName == pair.name && std::holds_alternative<CopyEngine::SettlingEvent>(e.event);
              }),
              1u);
    auto runs = history->allRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].allVerified);
    EXPECT_EQ(runs[0].fileCount, 3);
    EXPECT_EQ(runs[0].triggeredBy, SyncReport::Trigger::mount);
    EXPECT_EQ(runs[0].sourcePath, card.mountPoint().string());
    fs::path backup = sandbox / "backup/Day1";
    EXPECT_EQ(readFile(backup / "DCIM/100CANON/IMG_0001.CR3"), readFile(card.mountPoint() / "DCIM/100CANON/IMG_0001.CR3"));
    EXPECT_EQ(readFile(backup / "PRIVATE/M4ROOT/CLIP/C0001.XML"), "<clip/>");
    coordinator->stop();
}

TEST_F(MountSyncEndToEnd, AWaitingCardPulledBeforeItsTurnIsReportedNotMountedAndNotRun) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume first("ext4", 32, label);
    LoopVolume second("ext4", 32, label);
    writeFile(first.mountPoint() / "A001.MOV", "first card");
    writeFile(second.mountPoint() / "B001.MOV", "second card");
    auto coordinator = make();
    coordinator->handleMount(VolumeInfo{first.mountPoint(), label, true, true, false});
    ASSERT_TRUE(events.waitFor<Coordinator::SyncStarted>(1, mine()));  // settling for 2 s
    coordinator->handleMount(VolumeInfo{second.mountPoint(), label, true, true, false});
    EXPECT_EQ(coordinator->waitingCount(), 1u);
    second.unmount();  // its folder stays, empty, on the system disk
    coordinator->waitForIdle();

    EXPECT_EQ(events.count<Coordinator::SyncStarted>(mine()), 1u);
    ASSERT_EQ(events.count<Coordinator::SyncFailed>([&](const Coordinator::SyncFailed& e) {
                  return e.pairName == pair.name && e.message == "Source drive “" + label + "” isn’t mounted.";
              }),
              1u);
    auto runs = history->allRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].sourcePath, first.mountPoint().string());
    EXPECT_EQ(coordinator->inFlightCount(), 0u);
}

// The card of the pair's name carries its DCIM folder as a link to a folder of the computer:
// the mount-triggered run copies none of it and is a failed run in the history, with the
// reason sent along.
TEST_F(MountSyncEndToEnd, ACardWhoseSourceFolderIsALinkCopiesNoCanaryAndFails) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, label);
    writeFile(sandbox / "canary/DCIM/100CANON/CANARY.MOV", "not on the card");
    fs::create_directory_symlink(sandbox / "canary/DCIM", card.mountPoint() / "DCIM");
    config.pairs[0].sourceSubpath = "DCIM";
    auto coordinator = make();
    coordinator->handleMount(VolumeInfo{card.mountPoint(), label, true, true, false});
    ASSERT_TRUE(events.waitFor<Coordinator::SyncFinished>(1, mine()));
    coordinator->waitForIdle();

    const std::string reason = "The source folder " + (card.mountPoint() / "DCIM").string() +
                               " leads off the card through a link, so nothing was copied.";
    EXPECT_EQ(events.count<Coordinator::SyncFinished>([&](const Coordinator::SyncFinished& e) {
                  return e.pairName == pair.name && e.failure == reason && !e.stopped;
              }),
              1u);
    EXPECT_EQ(events.count<Coordinator::SyncProgress>(mine()), 0u);
    auto runs = history->allRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].failedFiles, 1);
    EXPECT_FALSE(runs[0].allVerified);
    EXPECT_FALSE(history->report(0).allClean());
    EXPECT_FALSE(fs::exists(sandbox / "backup/Day1"));
}

TEST_F(MountSyncEndToEnd, WithAutoRunOffAMountBringsAPromptAndCopiesNothing) {
    TESSALINE_REQUIRE_ROOT();
    autoRun = false;
    LoopVolume card("ext4", 32, label);
    writeFile(card.mountPoint() / "A001.MOV", "clip");
    card.unmount();
    auto coordinator = make();
    coordinator->start();
    card.remount();
    ASSERT_TRUE(events.waitFor<Coordinator::PromptSuggested>(1, mine()));
    coordinator->waitForIdle();
    EXPECT_EQ(events.count<Coordinator::SyncStarted>(mine()), 0u);
    EXPECT_EQ(coordinator->inFlightCount(), 0u);
    EXPECT_TRUE(history->allRuns().empty());
    EXPECT_FALSE(fs::exists(sandbox / "backup/Day1"));
}

TEST_F(MountSyncEndToEnd, ParallelRunsIntoOneDestinationKeepEveryFile) {
    // Two cards whose clips have the same names, flattened into one folder at the same time.
    fs::path cardA = sandbox / "cardA";
    fs::path cardB = sandbox / "cardB";
    for (int i = 0; i < 6; ++i) {
        std::string name = "DCIM/C000" + std::to_string(i) + ".MP4";
        writePatternFile(cardA / name, 400'000 + i, 10 + i);
        writePatternFile(cardB / name, 400'000 + i, 20 + i);
    }
    SyncPair a = pair, b = pair;
    a.id = Uuid::random();
    a.name = "A";
    a.sourceVolumeLabel = "CARD_A";
    a.preserveStructure = false;
    b.id = Uuid::random();
    b.name = "B";
    b.sourceVolumeLabel = "CARD_B";
    b.preserveStructure = false;
    config = SyncConfiguration{{a, b}, 0, 0};
    auto coordinator = make();
    EXPECT_EQ(coordinator->runScheduledSyncs({VolumeInfo{cardA, "CARD_A", true, true, false},
                                              VolumeInfo{cardB, "CARD_B", true, true, false}}),
              2);
    coordinator->waitForIdle();

    auto runs = history->allRuns();
    ASSERT_EQ(runs.size(), 2u);
    for (const auto& run : runs) {
        EXPECT_TRUE(run.allVerified);
        EXPECT_EQ(run.newFiles, 6);
    }
    std::multiset<std::string> expected, found;
    for (const auto& card : {cardA, cardB})
        for (const auto& entry : fs::recursive_directory_iterator(card))
            if (entry.is_regular_file()) expected.insert(readFile(entry.path()));
    for (const auto& entry : fs::directory_iterator(sandbox / "backup/Day1")) found.insert(readFile(entry.path()));
    EXPECT_EQ(found, expected);
}
