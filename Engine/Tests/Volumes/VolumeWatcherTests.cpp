// Mount watching on real loop mounts: events for mounts and unmounts (also for a card
// unmounted and mounted again between two looks), none after stop(), not even for events
// already handed to the caller's queue.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/VolumeWatcher.hpp"

#include <fcntl.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace tessaline {
namespace {

using testing::LoopVolume;
using testing::runCommand;
using Event = VolumeWatcher::Event;

// Collects events from any thread; waits (bounded, generously) for the one wanted.
class EventLog {
public:
    void add(const Event& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
        changed_.notify_all();
    }
    // Index of the first event at or after `from` for which `want` holds; -1 after 20 s.
    template <class Predicate>
    int waitFor(Predicate want, size_t from = 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        int found = -1;
        changed_.wait_for(lock, std::chrono::seconds(20), [&] {
            for (size_t i = from; i < events_.size(); ++i)
                if (want(events_[i])) {
                    found = static_cast<int>(i);
                    return true;
                }
            return false;
        });
        return found;
    }
    std::vector<Event> events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

auto mountedAt(const std::filesystem::path& url) {
    return [url](const Event& e) {
        auto* m = std::get_if<VolumeWatcher::Mounted>(&e);
        return m && m->volume.url == url;
    };
}
auto unmountedAt(const std::filesystem::path& url) {
    return [url](const Event& e) {
        auto* u = std::get_if<VolumeWatcher::Unmounted>(&e);
        return u && u->url == url;
    };
}

TEST(VolumeWatcherTests, ReportsMountAndUnmountOfACard) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, "WATCH_ME", /*mount=*/false);
    EventLog log;
    VolumeWatcher watcher([&](const Event& e) { log.add(e); });
    ASSERT_TRUE(watcher.isWatching());
    card.remount();
    int mounted = log.waitFor(mountedAt(card.mountPoint()));
    ASSERT_GE(mounted, 0);
    const auto volume = std::get<VolumeWatcher::Mounted>(log.events()[mounted]).volume;  // a copy: events() returns a temporary
    EXPECT_EQ(volume.label, "WATCH_ME");
    EXPECT_FALSE(volume.isInternal);
    // A read-only remount keeps the mount: the next event must be the unmount.
    ASSERT_EQ(runCommand({"mount", "-o", "remount,ro", card.mountPoint().string()}).exitCode, 0);
    card.unmount();
    int unmounted = log.waitFor(unmountedAt(card.mountPoint()), mounted + 1);
    ASSERT_GE(unmounted, 0);
    // Other tests may mount at the same time: look only at this card's events.
    auto events = log.events();
    for (int i = mounted + 1; i < unmounted; ++i) EXPECT_FALSE(mountedAt(card.mountPoint())(events[i]));
}

TEST(VolumeWatcherTests, ReportsFuseExfatCardAndPostsThroughCallerQueue) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("exfat", 32, "EOS_DIGITAL", /*mount=*/false);
    EventLog log;
    std::atomic<int> posted{0};
    VolumeWatcher watcher([&](const Event& e) { log.add(e); },
                          [&](std::function<void()> closure) {
                              ++posted;
                              closure();
                          });
    card.remount();
    int mounted = log.waitFor(mountedAt(card.mountPoint()));
    ASSERT_GE(mounted, 0);
    EXPECT_EQ(std::get<VolumeWatcher::Mounted>(log.events()[mounted]).volume.label, "EOS_DIGITAL");
    card.unmount();
    EXPECT_GE(log.waitFor(unmountedAt(card.mountPoint()), mounted + 1), 0);
    EXPECT_GE(posted.load(), 2);
}

TEST(VolumeWatcherTests, ACardUnmountedAndMountedAgainWhileTheWatcherIsBusyIsReported) {
    TESSALINE_REQUIRE_ROOT();
    if (lastingMountId(AT_FDCWD, "/", 0).value_or(0) <= INT32_MAX)
        GTEST_SKIP() << "the kernel gives no lasting mount IDs (Linux 6.8 and later do): such a remount is not seen";
    LoopVolume card("ext4", 16, "REINSERTED");
    LoopVolume other("ext4", 16, "WAKE_UP", /*mount=*/false);
    EventLog log;
    // The first hand-over holds the watcher's thread until the card has gone and come back,
    // so the watcher looks at the table only after both (the table ID is handed out again).
    std::mutex holdMutex;
    std::condition_variable holdChanged;
    bool holding = true, held = false;
    VolumeWatcher watcher([&](const Event& e) { log.add(e); },
                          [&](std::function<void()> closure) {
                              {
                                  std::unique_lock<std::mutex> lock(holdMutex);
                                  held = true;
                                  holdChanged.notify_all();
                                  holdChanged.wait(lock, [&] { return !holding; });
                              }
                              closure();
                          });
    auto release = [&] {
        std::lock_guard<std::mutex> lock(holdMutex);
        holding = false;
        holdChanged.notify_all();
    };
    // Released on every way out, before the watcher's stop waits for its thread.
    std::unique_ptr<void, std::function<void(void*)>> releaseOnExit(&holdMutex, [&](void*) { release(); });
    other.remount();
    {
        std::unique_lock<std::mutex> lock(holdMutex);
        ASSERT_TRUE(holdChanged.wait_for(lock, std::chrono::seconds(20), [&] { return held; }));
    }
    const size_t before = log.events().size();
    card.unmount();
    card.remount();
    release();
    const int gone = log.waitFor(unmountedAt(card.mountPoint()), before);
    ASSERT_GE(gone, 0);
    EXPECT_GE(log.waitFor(mountedAt(card.mountPoint()), gone + 1), 0);
}

TEST(VolumeWatcherTests, NothingReachesTheHandlerAfterStopEvenIfQueued) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, "QUEUED", /*mount=*/false);
    std::mutex queueMutex;
    std::condition_variable queued;
    std::vector<std::function<void()>> queue;
    std::atomic<int> handled{0};
    VolumeWatcher watcher([&](const Event&) { ++handled; },
                          [&](std::function<void()> closure) {
                              std::lock_guard<std::mutex> lock(queueMutex);
                              queue.push_back(std::move(closure));
                              queued.notify_all();
                          });
    card.remount();
    {
        std::unique_lock<std::mutex> lock(queueMutex);
        ASSERT_TRUE(queued.wait_for(lock, std::chrono::seconds(20), [&] { return !queue.empty(); }));
    }
    watcher.stop();
    EXPECT_FALSE(watcher.isWatching());
    card.unmount();
    std::vector<std::function<void()>> pending;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        pending.swap(queue);
    }
    for (auto& closure : pending) closure();
    EXPECT_EQ(handled.load(), 0);
    watcher.stop();  // a second stop does nothing
}

TEST(VolumeWatcherTests, HandlerMayStopItsOwnWatcher) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, "SELF_STOP", /*mount=*/false);
    EventLog log;
    std::unique_ptr<VolumeWatcher> watcher;
    std::atomic<int> calls{0};
    watcher = std::make_unique<VolumeWatcher>([&](const Event& e) {
        ++calls;
        watcher->stop();
        log.add(e);
    });
    card.remount();
    // The first event may come from another test's mount running at the same time.
    ASSERT_GE(log.waitFor([](const Event&) { return true; }), 0);
    card.unmount();
    EXPECT_FALSE(watcher->isWatching());
    watcher.reset();
    EXPECT_EQ(calls.load(), 1);
}

TEST(VolumeWatcherTests, StopWithoutEventsReturnsAndDestructorIsSafe) {
    VolumeWatcher watcher([](const Event&) {});
    EXPECT_TRUE(watcher.isWatching());
    watcher.stop();
    EXPECT_FALSE(watcher.isWatching());
}

}  // namespace
}  // namespace tessaline
