// The sync manager driven by a real mount: a labelled loop-mounted card image.

#include "BrindlecoveApp/ViewModels/MenuBarModel.hpp"
#include "BrindlecoveApp/ViewModels/SyncManager.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/SyncManagerFixtures.hpp"

#include "Tessaline/Sync/SyncConfiguration.hpp"

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;
using tessaline::testing::LoopVolume;
namespace fs = std::filesystem;

class SyncManagerMountTests : public AppSandboxedTest {};

namespace {
const auto message = brindlecove::testing::activityMessage;

bool hasLine(const SyncManager& manager, const QString& text) {
    for (const QString& line : manager.activity())
        if (message(line) == text) return true;
    return false;
}
}  // namespace

TEST_F(SyncManagerMountTests, AnInsertedCardPromptsWithAutoRunOffAndSyncsWithItOn) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "BCV_MGR_CARD", false);
    card.remount();
    tessaline::testing::writePatternFile(card.mountPoint() / "DCIM" / "A001.MOV", 300'000, 1);
    tessaline::testing::writePatternFile(card.mountPoint() / "DCIM" / "A002.MOV", 200'000, 2);
    card.unmount();

    const fs::path backup = sandbox.path() / "backup";
    fs::create_directories(backup);
    tessaline::SyncConfiguration config = tessaline::SyncConfiguration::fallback();
    config.settleQuietSeconds = 0;
    // A mount matches the pair's label ignoring case.
    config.pairs.push_back(brindlecove::testing::syncPair("Cards", "bcv_mgr_card", backup));
    SyncManager::Environment env = brindlecove::testing::sandboxSyncEnvironment(
        sandbox.path(), qpath(configHome() / "autostart"), QStringLiteral("org.example.Mount"));
    config.save(env.configURL);

    SyncManager manager(env);
    ASSERT_TRUE(manager.coordinator()->isWatching());
    manager.setAutoRunOnMount(false);
    card.remount();
    ASSERT_TRUE(waitFor([&] { return manager.pendingPrompt().has_value(); }));
    EXPECT_EQ(manager.pendingPrompt()->cardLabel, QStringLiteral("BCV_MGR_CARD"));
    EXPECT_EQ(manager.pendingPrompt()->pairNames, QStringList{QStringLiteral("Cards")});
    EXPECT_EQ(message(manager.activity()[0]), QString::fromUtf8("💡 BCV_MGR_CARD inserted — run Cards?"));
    EXPECT_EQ(message(manager.activity()[1]), QString::fromUtf8("📥 BCV_MGR_CARD mounted — 1 sync pair queued"));
    EXPECT_EQ(manager.coordinator()->inFlightCount(), 0u);
    card.unmount();

    manager.setPendingPrompt(std::nullopt);
    manager.setAutoRunOnMount(true);
    card.remount();
    ASSERT_TRUE(waitFor([&] { return hasLine(manager, QString::fromUtf8("✅ “Cards”: 2 new files, 0 present, 0 failed")); },
                        60'000));
    EXPECT_TRUE(hasLine(manager, QString::fromUtf8("▶️ Syncing “Cards”…")));
    EXPECT_FALSE(manager.pendingPrompt());
    EXPECT_TRUE(fs::exists(backup / "DCIM" / "A001.MOV"));
    ASSERT_TRUE(manager.todayReport());
    EXPECT_EQ(manager.todayReport()->runs.size(), 1u);
    EXPECT_EQ(manager.todayReport()->newFiles(), 2);
    manager.coordinator()->waitForIdle();
}

// A card whose pair folder is a link to a folder of the computer: Sync Now copies nothing,
// the activity says why, and today's totals (the menu's first line) count the failed run.
TEST_F(SyncManagerMountTests, ACardFolderLinkedOffTheCardIsAFailedRunWithItsReason) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, "BCV_MGR_LINK");
    const fs::path canary = sandbox.path() / "home";
    tessaline::testing::writePatternFile(canary / "CANARY.MOV", 30'000, 1);
    fs::create_directory_symlink(canary, card.mountPoint() / "DCIM");

    const fs::path backup = sandbox.path() / "backup";
    fs::create_directories(backup);
    tessaline::SyncConfiguration config = tessaline::SyncConfiguration::fallback();
    config.settleQuietSeconds = 0;
    tessaline::SyncPair pair = brindlecove::testing::syncPair("Cards", "BCV_MGR_LINK", backup / "Day1");
    pair.sourceSubpath = "DCIM";
    config.pairs.push_back(pair);
    SyncManager::Environment env = brindlecove::testing::sandboxSyncEnvironment(
        sandbox.path(), qpath(configHome() / "autostart"), QStringLiteral("org.example.Link"));
    env.listVolumes = [&] {
        return std::vector<tessaline::VolumeInfo>{{card.mountPoint(), "BCV_MGR_LINK", true, true, false}};
    };
    config.save(env.configURL);

    SyncManager manager(env);
    manager.runScheduledNow(false);
    const QString reason = QString::fromUtf8("❌ “Cards” failed: The source folder ") +
                           qpath(card.mountPoint() / "DCIM") +
                           QString::fromUtf8(" leads off the card through a link, so nothing was copied.");
    ASSERT_TRUE(waitFor([&] { return hasLine(manager, reason); }, 60'000));
    manager.coordinator()->waitForIdle();
    EXPECT_FALSE(fs::exists(backup / "Day1"));
    ASSERT_TRUE(manager.todayReport());
    EXPECT_EQ(manager.todayReport()->failedVerifications(), 1);
    EXPECT_EQ(MenuBarModel::build(MenuBarModel::snapshot(manager)).front().text,
              QString::fromUtf8("Today: 0 new files · 0 present · 1 failed"));
}
