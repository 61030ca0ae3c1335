// The sync manager over the real coordinator, volume watcher, runner and copy engine, with
// loop-mounted cards and drives: drives pulled or swapped under a run, cards arriving while
// their pair runs, and a run stopped by quitting. Where a moment must be exact, a hook sits
// at the runner's event callback; everything else is the application's own path.

#include "BrindlecoveApp/Platform/MainThread.hpp"
#include "BrindlecoveApp/ViewModels/SyncManager.hpp"
#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/SyncManagerFixtures.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Sync/SyncConfiguration.hpp"
#include "Tessaline/Sync/SyncRunner.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;
using tessaline::CopyEngine;
using tessaline::testing::LoopVolume;
namespace fs = std::filesystem;

namespace {

const auto message = brindlecove::testing::activityMessage;

int linesStartingWith(const SyncManager& manager, const QString& start) {
    int n = 0;
    for (const QString& line : manager.activity()) n += message(line).startsWith(start) ? 1 : 0;
    return n;
}

// Lines that end a run: finished (proven or not) or failed.
int finishedOrFailed(const SyncManager& manager) {
    return linesStartingWith(manager, QString::fromUtf8("✅")) + linesStartingWith(manager, QString::fromUtf8("⚠️ “")) +
           linesStartingWith(manager, QString::fromUtf8("❌"));
}

bool hasLine(const SyncManager& manager, const QString& text) {
    for (const QString& line : manager.activity())
        if (message(line) == text) return true;
    return false;
}

// Watches the runs of the coordinator made below, from their own threads.
struct RunProbe {
    std::mutex lock;
    int running = 0;
    int mostAtOnce = 0;
    // Called with every runner event, on the run's thread, before the coordinator sees it.
    std::function<void(const CopyEngine::Event&, const CopyEngine::CancelTest&)> hook;
    std::atomic<int> mountsHandled{0};  // matching mount triggers the coordinator finished handling
};

// After the destination drive was pulled while the card settled (its empty mount folder
// stays on the system disk): nothing landed there and nothing is called verified.
void expectNothingLandedAfterThePull(const SyncManager& manager, const LoopVolume& drive, int files) {
    manager.coordinator()->waitForIdle();
    EXPECT_TRUE(fs::is_empty(drive.mountPoint())) << "the copy fell through onto the system disk";
    EXPECT_TRUE(hasLine(manager, QString::fromUtf8("⚠️ “Cards”: 0 new files, 0 present, %1 failed").arg(files)))
        << manager.activity().join(QStringLiteral("\n")).toStdString();
    ASSERT_TRUE(manager.todayReport());
    ASSERT_EQ(manager.todayReport()->runs.size(), 1u);
    EXPECT_FALSE(manager.todayReport()->runs[0].allVerified);
    EXPECT_FALSE(manager.todayReport()->allClean());
}

// The card's DCIM/<clip> is at the backup's DCIM/<clip>, byte for byte.
void expectCopied(const fs::path& backup, const LoopVolume& card, const std::string& clip) {
    EXPECT_EQ(tessaline::testing::readFile(backup / "DCIM" / clip),
              tessaline::testing::readFile(card.mountPoint() / "DCIM" / clip))
        << clip;
}

const std::vector<std::string> sevenClips = {"C0001.MP4", "C0002.MP4", "C0003.MP4", "C0004.MP4",
                                             "C0005.MP4", "C0006.MP4", "C0007.MP4"};

bool isFirstSettling(const CopyEngine::Event& event, bool& seen) {
    if (seen || !std::holds_alternative<CopyEngine::SettlingEvent>(event)) return false;
    seen = true;
    return true;
}

}  // namespace

class SyncManagerDriveTests : public AppSandboxedTest {
protected:
    std::string label(const char* prefix) const { return prefix + std::to_string(::getpid() % 100000); }

    // A card labelled `cardLabel` holding DCIM/<name> clips of `bytes` bytes each, not
    // mounted yet (mounting it is the insertion the watcher sees).
    static std::unique_ptr<LoopVolume> unmountedCard(const std::string& cardLabel, const std::vector<std::string>& clips,
                                                     size_t bytes, unsigned seed = 1, int sizeMiB = 32) {
        auto card = std::make_unique<LoopVolume>("ext4", sizeMiB, cardLabel, false);
        card->remount();
        for (const std::string& clip : clips)
            tessaline::testing::writePatternFile(card->mountPoint() / "DCIM" / clip, bytes, seed++);
        card->unmount();
        return card;
    }

    // One pair "Cards" from `cardLabel` to `destination`, the card settling `settleSeconds`.
    tessaline::SyncConfiguration configuration(const std::string& cardLabel, const fs::path& destination,
                                               double settleSeconds) const {
        tessaline::SyncConfiguration config = tessaline::SyncConfiguration::fallback();
        config.settleQuietSeconds = settleSeconds;
        config.pairs = {brindlecove::testing::syncPair("Cards", cardLabel, destination)};
        return config;
    }

    // An empty backup folder on the system disk.
    fs::path backupFolder() const {
        fs::create_directories(sandbox.path() / "backup");
        return sandbox.path() / "backup";
    }

    // The real manager's environment over `config`; with `probe`, a real coordinator and
    // runner whose runs the probe watches.
    SyncManager::Environment environment(const tessaline::SyncConfiguration& config,
                                         std::shared_ptr<RunProbe> probe = nullptr) {
        SyncManager::Environment env = brindlecove::testing::sandboxSyncEnvironment(
            sandbox.path(), qpath(configHome() / "autostart"), QStringLiteral("org.example.Drives"));
        config.save(env.configURL);
        if (!probe) return env;
        env.makeCoordinator = [probe](SyncManager::Providers providers,
                                      std::shared_ptr<tessaline::SyncReportStore> store) {
            tessaline::SyncRunner runner(std::make_shared<tessaline::SecurityScopedBookmarkStore>());
            auto run = [runner, probe](const tessaline::SyncPair& p, const fs::path& root,
                                       tessaline::SyncReport::Trigger trigger, const tessaline::SettleOptions& settle,
                                       const CopyEngine::CancelTest& isCancelled,
                                       const CopyEngine::EventHandler& onEvent) {
                {
                    std::lock_guard guard(probe->lock);
                    probe->mostAtOnce = std::max(probe->mostAtOnce, ++probe->running);
                }
                struct Leave {
                    RunProbe& probe;
                    ~Leave() {
                        std::lock_guard guard(probe.lock);
                        --probe.running;
                    }
                } leave{*probe};
                return runner.run(p, root, trigger, settle, isCancelled, [&](const CopyEngine::Event& event) {
                    if (probe->hook) probe->hook(event, isCancelled);
                    if (onEvent) onEvent(event);
                });
            };
            auto onEvent = [probe, inner = providers.onEvent](const tessaline::MountSyncCoordinator::Event& event) {
                inner(event);
                // Sent inside the mount trigger on the main thread: this runs once it returned.
                const auto* mount = std::get_if<tessaline::MountSyncCoordinator::MountDetected>(&event);
                if (mount && mount->matchedPairs > 0) MainThread::post([probe] { ++probe->mountsHandled; });
            };
            return std::make_shared<tessaline::MountSyncCoordinator>(
                providers.configuration, providers.autoRun, run, std::move(store), onEvent,
                [](std::function<void()> work) { MainThread::post(std::move(work)); });
        };
        return env;
    }
};

TEST_F(SyncManagerDriveTests, AnImpostorDriveAtTheDestinationIsRefusedWhileTheGrantedDriveIsElsewhere) {
    TESSALINE_REQUIRE_ROOT();
    const std::string cardLabel = label("BCIMPC");
    const std::string driveLabel = label("SHUTTLE");
    auto card = unmountedCard(cardLabel, {"A001.MOV"}, 200'000);
    LoopVolume granted("ext4", 32, driveLabel);
    LoopVolume impostor("ext4", 32, driveLabel);
    tessaline::SecurityScopedBookmarkStore().grant(granted.mountPoint());

    tessaline::SyncConfiguration config = configuration(cardLabel, impostor.mountPoint() / "Footage", 0);
    SyncManager manager(environment(config));
    card->remount();
    const QString refused = QString::fromUtf8("❌ “Cards” failed: The drive at ") +
                            QString::fromStdString(config.pairs[0].destinationPath) +
                            QString::fromUtf8(" is not the granted “") + QString::fromStdString(driveLabel) +
                            QString::fromUtf8("” — connect the right drive and re-run.");
    ASSERT_TRUE(waitFor([&] { return finishedOrFailed(manager) > 0; }, 60'000));
    EXPECT_TRUE(hasLine(manager, refused)) << manager.activity().join(QStringLiteral("\n")).toStdString();
    manager.coordinator()->waitForIdle();
    EXPECT_FALSE(fs::exists(impostor.mountPoint() / "Footage"));
    EXPECT_FALSE(fs::exists(granted.mountPoint() / "Footage"));
    ASSERT_TRUE(manager.todayReport());
    EXPECT_TRUE(manager.todayReport()->runs.empty());
}

TEST_F(SyncManagerDriveTests, TwoCardsWithOneLabelInsertedTogetherAreBothCopiedOneRunAtATime) {
    TESSALINE_REQUIRE_ROOT();
    const std::string cardLabel = label("BCTWIN");
    auto first = unmountedCard(cardLabel, {"A001.MOV", "A002.MOV"}, 300'000);
    auto second = unmountedCard(cardLabel, {"B001.MOV"}, 200'000, 3);

    const fs::path backup = backupFolder();
    // The first run still settles when the second card arrives.
    tessaline::SyncConfiguration config = configuration(cardLabel, backup, 1);
    auto probe = std::make_shared<RunProbe>();
    SyncManager manager(environment(config, probe));
    first->remount();
    second->remount();
    ASSERT_TRUE(waitFor([&] { return finishedOrFailed(manager) >= 2; }, 60'000))
        << manager.activity().join(QStringLiteral("\n")).toStdString();
    manager.coordinator()->waitForIdle();

    const QString queued = QString::fromStdString(cardLabel) + QString::fromUtf8(" mounted — 1 sync pair queued");
    EXPECT_EQ(linesStartingWith(manager, QString::fromUtf8("📥 ") + queued), 2);
    EXPECT_EQ(linesStartingWith(manager, QString::fromUtf8("▶️ Syncing “Cards”…")), 2);
    EXPECT_EQ(linesStartingWith(manager, QString::fromUtf8("✅ “Cards”: ")), 2);
    EXPECT_EQ(probe->mostAtOnce, 1);
    expectCopied(backup, *first, "A001.MOV");
    expectCopied(backup, *second, "B001.MOV");
    ASSERT_TRUE(manager.todayReport());
    ASSERT_EQ(manager.todayReport()->runs.size(), 2u);
    EXPECT_EQ(manager.todayReport()->cardsProcessed(), 2);
    EXPECT_EQ(manager.todayReport()->newFiles(), 3);
    EXPECT_TRUE(manager.todayReport()->allClean());
}

TEST_F(SyncManagerDriveTests, ThePromptsRunNowCopiesBothCardsOfOneLabel) {
    TESSALINE_REQUIRE_ROOT();
    const std::string cardLabel = label("BCPROMPT");
    auto first = unmountedCard(cardLabel, {"A001.MOV"}, 300'000);
    auto second = unmountedCard(cardLabel, {"B001.MOV"}, 200'000, 3);
    const fs::path backup = backupFolder();
    auto probe = std::make_shared<RunProbe>();
    SyncManager manager(environment(configuration(cardLabel, backup, 0.5), probe));
    manager.setAutoRunOnMount(false);
    first->remount();
    second->remount();
    ASSERT_TRUE(waitFor([&] { return linesStartingWith(manager, QString::fromUtf8("💡")) == 2; }, 30'000));
    ASSERT_TRUE(manager.pendingPrompt());
    EXPECT_EQ(manager.pendingPrompt()->pairNames, QStringList{QStringLiteral("Cards")});
    EXPECT_EQ(manager.coordinator()->inFlightCount(), 0u);

    manager.runPromptedPair(QStringLiteral("Cards"));
    ASSERT_TRUE(waitFor([&] { return finishedOrFailed(manager) >= 2; }, 60'000))
        << manager.activity().join(QStringLiteral("\n")).toStdString();
    manager.coordinator()->waitForIdle();
    EXPECT_EQ(linesStartingWith(manager, QString::fromUtf8("✅ “Cards”: 1 new file, 0 present, 0 failed")), 2);
    EXPECT_EQ(probe->mostAtOnce, 1);
    expectCopied(backup, *first, "A001.MOV");
    expectCopied(backup, *second, "B001.MOV");
    ASSERT_TRUE(manager.todayReport());
    ASSERT_EQ(manager.todayReport()->runs.size(), 2u);
    EXPECT_EQ(manager.todayReport()->runs[0].triggeredBy, tessaline::SyncReport::Trigger::manual);
}

TEST_F(SyncManagerDriveTests, ACardInsertedAgainDuringItsRunIsSyncedOnceMoreAfterIt) {
    TESSALINE_REQUIRE_ROOT();
    const std::string cardLabel = label("BCAGAIN");
    auto card = unmountedCard(cardLabel, {"A001.MOV", "A002.MOV"}, 300'000);

    const fs::path backup = backupFolder();
    tessaline::SyncConfiguration config = configuration(cardLabel, backup, 0.5);
    auto probe = std::make_shared<RunProbe>();
    bool seen = false;
    probe->hook = [&](const CopyEngine::Event& event, const CopyEngine::CancelTest&) {
        if (!isFirstSettling(event, seen)) return;
        // Pulled and inserted again twice while the first run settles: one more run, not two.
        for (int i = 0; i < 2; ++i) {
            card->unmount();
            // A hand takes a moment to put a card back. Without the pause, a remount within the
            // same wake-up of the mount watcher gets the old mount's reused ID and looks like
            // no change at all (the watcher thread may wake late on a loaded machine).
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            card->remount();
            int handled = probe->mountsHandled + 1;
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (probe->mountsHandled < handled && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    SyncManager manager(environment(config, probe));
    card->remount();
    ASSERT_TRUE(waitFor([&] { return finishedOrFailed(manager) >= 2; }, 60'000))
        << manager.activity().join(QStringLiteral("\n")).toStdString();
    manager.coordinator()->waitForIdle();
    drainEvents();

    EXPECT_EQ(probe->mountsHandled.load(), 3);
    EXPECT_EQ(linesStartingWith(manager, QString::fromUtf8("▶️ Syncing “Cards”…")), 2);
    EXPECT_EQ(probe->mostAtOnce, 1);
    // Newest first: the run after the re-insert finds everything in place.
    QStringList finished;
    for (const QString& line : manager.activity())
        if (message(line).startsWith(QString::fromUtf8("✅"))) finished << message(line);
    EXPECT_EQ(finished, (QStringList{QString::fromUtf8("✅ “Cards”: 0 new files, 2 present, 0 failed"),
                                     QString::fromUtf8("✅ “Cards”: 2 new files, 0 present, 0 failed")}));
    ASSERT_TRUE(manager.todayReport());
    EXPECT_EQ(manager.todayReport()->runs.size(), 2u);
    EXPECT_TRUE(manager.todayReport()->allClean());
}

TEST_F(SyncManagerDriveTests, ARunStoppedByQuittingLeavesTodaysReportNotClean) {
    TESSALINE_REQUIRE_ROOT();
    const std::string cardLabel = label("BCQUIT");
    // More files than the copy writes ahead in one batch, so the stop leaves some behind.
    std::vector<std::string> clips;
    for (int i = 1; i <= 70; ++i) clips.push_back(fmt::format("A{:03}.MOV", i));
    auto card = unmountedCard(cardLabel, clips, 200'000, 1, 64);

    const fs::path backup = backupFolder();
    tessaline::SyncConfiguration config = configuration(cardLabel, backup, 0);
    auto probe = std::make_shared<RunProbe>();
    std::atomic<bool> halfway{false};
    probe->hook = [&](const CopyEngine::Event& event, const CopyEngine::CancelTest& isCancelled) {
        const auto* finished = std::get_if<CopyEngine::FileFinishedEvent>(&event);
        if (!finished || finished->index != 1) return;  // zero-based: the second file
        // Two files are done: the application quits now.
        halfway = true;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!isCancelled() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    auto manager = std::make_unique<SyncManager>(environment(config, probe));
    card->remount();
    ASSERT_TRUE(waitFor([&] { return halfway.load(); }, 60'000));
    manager.reset();  // stops the run between files and waits for it

    SyncManager relaunched(environment(config));
    ASSERT_TRUE(relaunched.todayReport());
    const tessaline::SyncReport& report = *relaunched.todayReport();
    ASSERT_EQ(report.runs.size(), 1u);
    // Two files were reported when the quit came; the copies proven ahead of the stop in the
    // same batch stay at the destination, and the stopped run's record counts every one of
    // them: record and destination agree.
    int atDestination = 0;
    for (const auto& entry : fs::recursive_directory_iterator(backup)) atDestination += entry.is_regular_file();
    EXPECT_GE(report.runs[0].fileCount, 2);
    EXPECT_EQ(report.runs[0].fileCount, atDestination);
    EXPECT_EQ(report.runs[0].newFiles, atDestination);
    EXPECT_EQ(report.runs[0].failedFiles, 0);
    EXPECT_FALSE(report.runs[0].allVerified);
    EXPECT_FALSE(report.allClean());
    EXPECT_EQ(report.summary().find("All synced files verified"), std::string::npos) << report.summary();
    EXPECT_NE(report.summary().find("⚠ 1 run not fully verified"), std::string::npos) << report.summary();
}

TEST_F(SyncManagerDriveTests, TheDestinationPulledAtTheFirstSettleStepReceivesNothing) {
    TESSALINE_REQUIRE_ROOT();
    const std::string cardLabel = label("BCPULLC");
    auto card = unmountedCard(cardLabel, sevenClips, 150'000);
    LoopVolume drive("ext4", 32, label("SHUTTLE"));
    tessaline::SyncConfiguration config = configuration(cardLabel, drive.mountPoint() / "Footage", 1);
    auto probe = std::make_shared<RunProbe>();
    bool seen = false;
    probe->hook = [&](const CopyEngine::Event& event, const CopyEngine::CancelTest&) {
        if (isFirstSettling(event, seen)) drive.unmount();
    };
    SyncManager manager(environment(config, probe));
    card->remount();
    ASSERT_TRUE(waitFor([&] { return finishedOrFailed(manager) > 0; }, 60'000));
    EXPECT_TRUE(seen);
    expectNothingLandedAfterThePull(manager, drive, 7);
}

TEST_F(SyncManagerDriveTests, TheDestinationPulledWhileTheCardSettlesReceivesNothing) {
    TESSALINE_REQUIRE_ROOT();
    const std::string cardLabel = label("BCPULLT");
    auto card = unmountedCard(cardLabel, sevenClips, 150'000);
    LoopVolume drive("ext4", 32, label("SHUTTLE"));
    // The application's default wait.
    tessaline::SyncConfiguration config = configuration(cardLabel, drive.mountPoint() / "Footage", 3);
    SyncManager manager(environment(config));
    card->remount();
    ASSERT_TRUE(waitFor([&] { return linesStartingWith(manager, QString::fromUtf8("▶️ Syncing")) > 0; }, 60'000));
    waitFor([] { return false; }, 500);  // well inside the 3 s the card settles
    drive.unmount();
    ASSERT_TRUE(waitFor([&] { return finishedOrFailed(manager) > 0; }, 60'000));
    expectNothingLandedAfterThePull(manager, drive, 7);
}

// A running pair shows how far it is, as the Copy section shows a card copy: the settle wait,
// then each file with the run's bytes rising to the whole, the first copy read back, and the
// line gone once the run ended.
TEST_F(SyncManagerDriveTests, ARunningPairShowsItsFilesAndBytesMovingUntilItEnds) {
    TESSALINE_REQUIRE_ROOT();
    const std::string cardLabel = label("BCMOVE");
    const size_t clipBytes = 12'000'000;
    auto card = unmountedCard(cardLabel, {"C0001.MP4", "C0002.MP4", "C0003.MP4"}, clipBytes, 1, 64);
    const fs::path backup = backupFolder();
    SyncManager manager(environment(configuration(cardLabel, backup, 0.5), std::make_shared<RunProbe>()));
    std::vector<std::vector<SyncRunProgress>> seen;
    QObject::connect(&manager, &SyncManager::runningSyncsChanged, [&] { seen.push_back(manager.runningSyncs()); });
    card->remount();
    ASSERT_TRUE(waitFor([&] { return finishedOrFailed(manager) >= 1; }, 60'000))
        << manager.activity().join(QStringLiteral("\n")).toStdString();
    manager.coordinator()->waitForIdle();
    drainEvents();

    ASSERT_GE(seen.size(), 3u);
    EXPECT_TRUE(seen.back().empty()) << "the line stays after the run ended";
    EXPECT_TRUE(manager.runningSyncs().empty());
    const int64_t total = 3 * static_cast<int64_t>(clipBytes);
    bool waited = false;
    bool verified = false;
    std::set<int> files;
    int64_t copied = 0;
    double bar = 0;
    for (const auto& runs : seen) {
        if (runs.empty()) continue;
        ASSERT_EQ(runs.size(), 1u);
        const SyncRunProgress& run = runs.front();
        EXPECT_EQ(run.pairName, "Cards");
        waited |= run.statusLine().startsWith(QStringLiteral("Waiting for card to finish writing… "));
        if (run.checking && run.checking->phase == CopyEngine::CheckingEvent::Phase::readBack) {
            verified |= run.statusLine() == QStringLiteral("Verifying C0001.MP4 — file 1 of 3") &&
                        run.bytesLine().endsWith(QStringLiteral(" read back"));
            continue;
        }
        if (!run.planned || run.checking || run.fileName.isEmpty()) continue;
        files.insert(run.fileIndex);
        EXPECT_EQ(run.overallBytes, total);
        EXPECT_GE(run.overallBytesCopied, copied) << "the bytes went back";
        copied = run.overallBytesCopied;
        EXPECT_EQ(run.statusLine(), QStringLiteral("Copying %1 — file %2 of 3").arg(run.fileName).arg(run.fileIndex + 1));
        EXPECT_EQ(run.bytesLine(), TransferTexts::bytesOf(run.overallBytesCopied, total));
        ASSERT_TRUE(run.fraction());
        EXPECT_GE(*run.fraction(), bar);
        bar = *run.fraction();
    }
    EXPECT_TRUE(waited);
    EXPECT_TRUE(verified);
    EXPECT_EQ(files, (std::set<int>{0, 1, 2}));
    EXPECT_EQ(copied, total);
    EXPECT_DOUBLE_EQ(bar, 1.0);
}
