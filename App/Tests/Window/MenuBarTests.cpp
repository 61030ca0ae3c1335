#include "BrindlecoveApp/ViewModels/MenuBarModel.hpp"
#include "BrindlecoveApp/ViewModels/SyncManager.hpp"
#include "BrindlecoveApp/Views/MenuBarController.hpp"
#include "Support/AppTestSandbox.hpp"

#include <QMenu>

#include <gtest/gtest.h>

using namespace brindlecove;

namespace {

QStringList texts(const std::vector<MenuItem>& items) {
    QStringList lines;
    for (const auto& item : items)
        lines << (item.kind == MenuItem::Kind::separator ? QStringLiteral("---") : item.text);
    return lines;
}

const MenuItem* find(const std::vector<MenuItem>& items, const QString& text) {
    for (const auto& item : items)
        if (item.text == text) return &item;
    return nullptr;
}

}  // namespace

TEST(MenuBarModel, NoPairsNoPromptNoRuns) {
    MenuBarSnapshot s;
    auto items = MenuBarModel::build(s);
    EXPECT_EQ(texts(items), (QStringList{"No syncs yet today", "---", "Watch drives",
                                         "Auto-sync on insert (off = prompt me)", "Scheduled daily sync",
                                         "Sync All Now", "---", "Launch at login: —", "Enable Launch at Login",
                                         "---", "Open Brindlecove", "Quit Brindlecove"}));
    EXPECT_FALSE(find(items, "Sync All Now")->enabled);
    EXPECT_TRUE(find(items, "Enable Launch at Login")->enabled);
    EXPECT_TRUE(find(items, "Watch drives")->checked);
    EXPECT_TRUE(find(items, "Auto-sync on insert (off = prompt me)")->checked);
    EXPECT_FALSE(find(items, "Scheduled daily sync")->checked);
    // A report that holds no run still reads as no syncs.
    s.today = MenuBarSnapshot::TodayTotals{0, 0, 0, 0};
    EXPECT_EQ(MenuBarModel::build(s).front().text, QStringLiteral("No syncs yet today"));
}

TEST(MenuBarModel, PromptPresetsTotalsAndScheduleLines) {
    MenuBarSnapshot s;
    s.today = MenuBarSnapshot::TodayTotals{2, 12, 30, 1};
    s.pendingPrompt = MenuBarSnapshot::Prompt{QStringLiteral("A_CAM"), {QStringLiteral("One"), QStringLiteral("Two")}};
    s.pairs = {{QStringLiteral("One"), true}, {QStringLiteral("Off"), false}};
    s.lastScheduledRun = QDateTime(QDate(2025, 3, 7), QTime(14, 5), Qt::UTC);
    s.launchAtLoginStatus = QStringLiteral("enabled");
    auto items = MenuBarModel::build(s);
    EXPECT_EQ(texts(items),
              (QStringList{"Today: 12 new files · 30 present · 1 failed", "---", "💡 “A_CAM” inserted", "Run “One” now",
                           "Run “Two” now", "Dismiss", "---", "Watch drives", "Auto-sync on insert (off = prompt me)",
                           "Scheduled daily sync", "---", "Presets", "Run “One”", "Sync All Now", "---",
                           "Last scheduled run: Mar 7, 2025 2:05 PM", "Launch at login: enabled",
                           "Enable Launch at Login", "---", "Open Brindlecove", "Quit Brindlecove"}));
    EXPECT_EQ(find(items, "Run “Two” now")->command, MenuCommand::runPromptedPair);
    EXPECT_EQ(find(items, "Run “Two” now")->argument, QStringLiteral("Two"));
    EXPECT_TRUE(find(items, "Sync All Now")->enabled);

    // Every pair switched off: the heading stays, with no button under it.
    s.pairs = {{QStringLiteral("Off"), false}};
    s.pendingPrompt.reset();
    auto allOff = MenuBarModel::build(s);
    auto heading = texts(allOff).indexOf(QStringLiteral("Presets"));
    ASSERT_GE(heading, 0);
    EXPECT_EQ(texts(allOff)[heading + 1], QStringLiteral("Sync All Now"));
    EXPECT_TRUE(find(allOff, "Sync All Now")->enabled);
}

TEST(MenuBarController, AmpersandsAndTabsSurviveAsActionText) {
    EXPECT_EQ(MenuBarController::actionText(QStringLiteral("Run “A&B\tCam”")), QStringLiteral("Run “A&&B Cam”"));
}

class MenuBarControllerTest : public brindlecove::testing::AppSandboxedTest {};

TEST_F(MenuBarControllerTest, MenuFollowsTheSyncManagerAndButtonsClearThePrompt) {
    SyncManager manager;
    bool opened = false, quit = false;
    MenuBarController controller(manager, [&] { opened = true; }, [&] { quit = true; });
    QMenu* menu = controller.menu();
    auto actionTexts = [&] {
        QStringList list;
        for (QAction* a : menu->actions()) list << (a->isSeparator() ? QStringLiteral("---") : a->text());
        return list;
    };
    EXPECT_FALSE(actionTexts().contains(QStringLiteral("Presets")));

    tessaline::SyncPair pair;
    pair.name = "A&B Cam";
    pair.sourceVolumeLabel = "A_CAM";
    pair.destinationPath = (sandbox.path() / "backup").string();
    manager.addPair(pair);
    manager.setPendingPrompt(SyncManager::PendingPrompt{QUuid::createUuid(), QStringLiteral("A_CAM"),
                                                        {QStringLiteral("A&B Cam")}});
    // The rebuild is deferred to the event loop and coalesced.
    ASSERT_TRUE(waitFor([&] { return actionTexts().contains(QStringLiteral("Run “A&&B Cam”")); }));
    EXPECT_TRUE(actionTexts().contains(QStringLiteral("💡 “A_CAM” inserted")));

    const MenuItem* dismiss = nullptr;
    for (const auto& item : controller.items())
        if (item.command == MenuCommand::dismissPrompt) dismiss = &item;
    ASSERT_NE(dismiss, nullptr);
    controller.perform(*dismiss, false);
    EXPECT_FALSE(manager.pendingPrompt().has_value());
    ASSERT_TRUE(waitFor([&] { return !actionTexts().contains(QStringLiteral("Dismiss")); }));

    for (QAction* a : menu->actions())
        if (a->text() == QStringLiteral("Watch drives")) a->trigger();  // checked → unchecked
    EXPECT_FALSE(manager.enabled());
    for (QAction* a : menu->actions())
        if (a->text() == QStringLiteral("Open Brindlecove")) a->trigger();
    for (QAction* a : menu->actions())
        if (a->text() == QStringLiteral("Quit Brindlecove")) a->trigger();
    EXPECT_TRUE(opened);
    EXPECT_TRUE(quit);
}
