#include "BrindlecoveApp/ViewModels/MenuBarModel.hpp"
#include "BrindlecoveApp/ViewModels/SyncManager.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/SyncManagerFixtures.hpp"

#include <QSignalSpy>

#include <sys/stat.h>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;
using tessaline::MountSyncCoordinator;
using tessaline::SyncConfiguration;
using tessaline::SyncPair;
using tessaline::SyncReport;
using tessaline::VolumeInfo;
namespace fs = std::filesystem;

namespace {

using brindlecove::testing::syncPair;
const auto message = brindlecove::testing::activityMessage;

struct FakeClock {
    QDateTime now = QDateTime(QDate(2025, 3, 7), QTime(14, 5, 9));
    Clock clock() {
        return [this] { return now; };
    }
};

}  // namespace

class SyncManagerTests : public AppSandboxedTest {
protected:
    fs::path configURL() const { return sandbox.path() / "app" / "sync-config.json"; }
    fs::path historyURL() const { return sandbox.path() / "app" / "sync-runs.json"; }
    SyncManager::Environment environment(bool withCoordinator = false) {
        SyncManager::Environment env = brindlecove::testing::sandboxSyncEnvironment(
            sandbox.path(), qpath(configHome() / "autostart"), QStringLiteral("org.example.Sync"));
        env.listVolumes = [this] { return volumes; };
        if (!withCoordinator)
            env.makeCoordinator = [](SyncManager::Providers, std::shared_ptr<tessaline::SyncReportStore>) {
                return std::shared_ptr<MountSyncCoordinator>();
            };
        env.clock = fakeClock.clock();
        return env;
    }
    // A coordinator whose runs copy nothing and finish at once, over the fake volume list.
    SyncManager::Environment environmentWithStandInRuns() {
        SyncManager::Environment env = environment();
        env.makeCoordinator = brindlecove::testing::standInCoordinator([this] { return volumes; });
        return env;
    }

    FakeClock fakeClock;
    std::vector<VolumeInfo> volumes{{"/", "System", false, false, true}, {"/media/u/CARD", "CARD", true, true, false}};
};

TEST_F(SyncManagerTests, SyncNowWithoutMatchesExplainsItselfAndTheActivityKeepsTheNewestFifty) {
    SyncManager manager(environment());
    manager.runScheduledNow(false);
    ASSERT_EQ(manager.activity().size(), 1);
    EXPECT_EQ(message(manager.activity()[0]),
              QString::fromUtf8("⚠️ Sync Now: no enabled sync pairs — add one or flip its toggle on."));
    EXPECT_EQ(manager.activity()[0], QStringLiteral("2:05:09 PM  ") + message(manager.activity()[0]));

    manager.addPair(syncPair("Day", "A001", sandbox.path() / "b"));
    manager.addPair(syncPair("Night", "B002", sandbox.path() / "b"));
    manager.addPair(syncPair("Off", "CARD", sandbox.path() / "b", false));
    manager.runScheduledNow(false);
    EXPECT_EQ(message(manager.activity()[0]),
              QString::fromUtf8("⚠️ Sync Now: nothing ran — no enabled pair's source (A001, B002) matches a mounted "
                                "volume (System, CARD). The source must be the drive's volume name exactly."));

    for (int i = 0; i < 60; ++i) {
        fakeClock.now = fakeClock.now.addSecs(1);
        manager.runScheduledNow(false);
    }
    ASSERT_EQ(manager.activity().size(), SyncManager::activityLimit);
    EXPECT_TRUE(manager.activity().front().startsWith(QStringLiteral("2:06:09 PM  ")));
    EXPECT_TRUE(manager.activity().back().startsWith(QStringLiteral("2:05:20 PM  ")));
}

TEST_F(SyncManagerTests, SyncNowCountsStartedPairsAndTheScheduleNotesItsRun) {
    SyncManager manager(environmentWithStandInRuns());
    manager.addPair(syncPair("Cam A", "CARD", sandbox.path() / "b"));
    manager.runScheduledNow(false);
    EXPECT_EQ(message(manager.activity()[0]), QString::fromUtf8("▶️ Sync Now: started 1 pair"));
    // The stand-in run finds nothing to copy: nothing went wrong, so the check mark.
    ASSERT_TRUE(waitFor([&] { return message(manager.activity()[0]).startsWith(QString::fromUtf8("✅")); }));
    EXPECT_EQ(message(manager.activity()[0]), QString::fromUtf8("✅ “Cam A”: 0 new files, 0 present, 0 failed"));
    EXPECT_EQ(message(manager.activity()[1]), QString::fromUtf8("▶️ Syncing “Cam A”…"));
    ASSERT_TRUE(manager.todayReport());
    EXPECT_EQ(manager.todayReport()->runs.size(), 1u);
    manager.coordinator()->waitForIdle();
    drainEvents();

    manager.addPair(syncPair("Cam B", "card", sandbox.path() / "c"));
    QSignalSpy lastRun(&manager, &SyncManager::lastScheduledRunChanged);
    manager.runScheduledNow(true);
    EXPECT_EQ(lastRun.count(), 1);
    EXPECT_EQ(manager.lastScheduledRun(), fakeClock.now);
    EXPECT_EQ(message(manager.activity()[1]), QString::fromUtf8("⏰ Scheduled sync triggered"));
    EXPECT_EQ(message(manager.activity()[0]), QString::fromUtf8("▶️ Sync Now: started 2 pairs"));
    manager.coordinator()->waitForIdle();
}

TEST_F(SyncManagerTests, ARunStoppedBeforeItsFirstFileIsMarkedAsAWarning) {
    SyncManager::Environment env = environment();
    env.makeCoordinator = brindlecove::testing::standInCoordinator([this] { return volumes; }, /*stopped=*/true);
    SyncManager manager(env);
    manager.addPair(syncPair("Cam A", "CARD", sandbox.path() / "b"));
    manager.runScheduledNow(false);
    // The same counts as a run with nothing to copy; only the stop tells them apart.
    ASSERT_TRUE(waitFor([&] { return message(manager.activity()[0]).contains(QString::fromUtf8("“Cam A”:")); }));
    EXPECT_EQ(message(manager.activity()[0]), QString::fromUtf8("⚠️ “Cam A”: 0 new files, 0 present, 0 failed"));
    manager.coordinator()->waitForIdle();
}

TEST_F(SyncManagerTests, PairEditsSaveAndAFailedSaveIsReported) {
    {
        SyncManager manager(environment());
        QSignalSpy pairsChanged(&manager, &SyncManager::pairsChanged);
        SyncPair day = syncPair("Day", "A001", sandbox.path() / "b");
        manager.togglePair(day.id);  // nobody has it: nothing saved
        EXPECT_FALSE(fs::exists(configURL()));
        manager.removePair(day.id);  // saved even when nothing was removed
        EXPECT_TRUE(fs::exists(configURL()));
        manager.addPair(day);
        manager.togglePair(day.id);
        EXPECT_EQ(pairsChanged.count(), 3);
        EXPECT_FALSE(manager.pairs()[0].enabled);
    }
    SyncManager reloaded(environment());
    ASSERT_EQ(reloaded.pairs().size(), 1u);
    EXPECT_FALSE(reloaded.pairs()[0].enabled);
    EXPECT_FALSE(reloaded.configuration().pairs[0].enabled);

    fs::remove_all(configURL().parent_path());
    tessaline::testing::writeFile(configURL().parent_path(), "a file where the folder belongs");
    reloaded.addPair(syncPair("Night", "B002", sandbox.path() / "b"));
    EXPECT_EQ(reloaded.pairs().size(), 2u);
    EXPECT_TRUE(message(reloaded.activity()[0]).startsWith(QString::fromUtf8("⚠️ Couldn't save sync pairs: ")))
        << message(reloaded.activity()[0]).toStdString();
}

TEST_F(SyncManagerTests, AnUnreadableConfigurationIsKeptAsideAndSaid) {
    tessaline::testing::writeFile(configURL(), "{\"pairs\": [ broken");
    SyncManager manager(environment());
    EXPECT_TRUE(manager.pairs().empty());
    EXPECT_EQ(manager.configuration(), SyncConfiguration::fallback());
    ASSERT_EQ(manager.activity().size(), 1);
    EXPECT_TRUE(message(manager.activity()[0])
                    .startsWith(QString::fromUtf8("⚠️ Couldn't read sync pairs (sync-config.json) — it was kept as "
                                                  "sync-config.json.unreadable-")));
    EXPECT_TRUE(message(manager.activity()[0]).endsWith(QStringLiteral("; starting with none.")));
    int aside = 0;
    for (const auto& entry : fs::directory_iterator(configURL().parent_path()))
        aside += entry.path().filename().string().starts_with("sync-config.json.unreadable-");
    EXPECT_EQ(aside, 1);
}

TEST_F(SyncManagerTests, TodaysTotalsAreReadAgainAfterMidnight) {
    fakeClock.now = QDateTime(QDate(2025, 3, 7), QTime(23, 59, 30));
    {
        tessaline::SyncReportStore history(historyURL());
        SyncReport::Run run;
        run.sourcePath = "/media/u/CARD";
        run.destinationPath = "/media/u/Backup";
        run.at = static_cast<double>(QDateTime(QDate(2025, 3, 7), QTime(23, 0)).toSecsSinceEpoch());
        run.newFiles = 4;
        history.append(run);
    }
    SyncManager manager(environment());
    ASSERT_TRUE(manager.todayReport());
    EXPECT_EQ(manager.todayReport()->newFiles(), 4);
    manager.checkDayChange();
    EXPECT_EQ(manager.todayReport()->newFiles(), 4);

    fakeClock.now = fakeClock.now.addSecs(60);
    QSignalSpy renewed(&manager, &SyncManager::todayReportChanged);
    manager.checkDayChange();
    EXPECT_EQ(renewed.count(), 1);
    EXPECT_TRUE(manager.todayReport()->runs.empty());
}

// A damaged history whose counts add past the limit of an int: the menu's totals stop there
// and never show a wrapped negative.
TEST_F(SyncManagerTests, TodaysTotalsOfADamagedHistoryNeverWrapInTheMenu) {
    {
        tessaline::SyncReportStore history(historyURL());
        SyncReport::Run run;
        run.sourcePath = "/media/u/CARD";
        run.destinationPath = "/media/u/Backup";
        run.at = static_cast<double>(fakeClock.now.toSecsSinceEpoch());
        run.newFiles = run.existingFiles = run.failedFiles = INT32_MAX - 1;
        run.bytesCopied = INT64_MAX - 1;
        history.append(run);
        history.append(run);
    }
    SyncManager manager(environment());
    ASSERT_TRUE(manager.todayReport());
    EXPECT_EQ(manager.todayReport()->totalBytesCopied(), INT64_MAX);
    EXPECT_EQ(MenuBarModel::build(MenuBarModel::snapshot(manager)).front().text,
              QString::fromUtf8("Today: 2,147,483,647 new files · 2,147,483,647 present · 2,147,483,647 failed"));
}

TEST_F(SyncManagerTests, SwitchesStartFreshAndActAsTheyShould) {
    SyncManager manager(environment(true));
    EXPECT_TRUE(manager.enabled());
    EXPECT_TRUE(manager.autoRunOnMount());
    EXPECT_FALSE(manager.scheduledSyncEnabled());
    ASSERT_TRUE(manager.coordinator());
    EXPECT_TRUE(manager.coordinator()->isWatching());
    manager.setEnabled(true);
    EXPECT_TRUE(manager.coordinator()->isWatching());
    manager.setEnabled(false);
    EXPECT_FALSE(manager.coordinator()->isWatching());

    manager.setScheduledSyncEnabled(true);
    QPointer<DailyTimer> first = manager.scheduledService()->scheduler();
    manager.setScheduledSyncEnabled(true);
    EXPECT_EQ(manager.scheduledService()->scheduler(), first.data());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->intervalSeconds(), 86400);
    manager.setScheduledSyncEnabled(false);
    EXPECT_EQ(manager.scheduledService()->scheduler(), nullptr);

    manager.setAutoRunOnMount(false);
    SyncManager relaunched(environment());
    EXPECT_TRUE(relaunched.enabled());
    EXPECT_TRUE(relaunched.autoRunOnMount());
    EXPECT_FALSE(relaunched.scheduledSyncEnabled());
}

TEST_F(SyncManagerTests, LaunchAtLoginReportsItsStatusAndFailures) {
    SyncManager manager(environment());
    EXPECT_EQ(manager.launchAtLoginStatus(), QStringLiteral("notRegistered"));
    manager.setLaunchAtLogin(true);
    EXPECT_EQ(manager.launchAtLoginStatus(), QStringLiteral("enabled"));
    EXPECT_TRUE(manager.activity().isEmpty());

    fs::remove_all(configHome() / "autostart");
    tessaline::testing::writeFile(configHome() / "autostart", "not a folder");
    manager.setLaunchAtLogin(true);
    EXPECT_EQ(manager.launchAtLoginStatus(), QStringLiteral("unavailable"));
    EXPECT_TRUE(message(manager.activity()[0])
                    .startsWith(QString::fromUtf8("⚠️ Launch-at-login change failed: Couldn't write ")));
}
