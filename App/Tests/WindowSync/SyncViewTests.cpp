#include "BrindlecoveApp/Platform/RemovableMounts.hpp"
#include "BrindlecoveApp/ViewModels/SyncManager.hpp"
#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"
#include "BrindlecoveApp/Views/AddSyncPairSheet.hpp"
#include "BrindlecoveApp/Views/SyncView.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/SyncManagerFixtures.hpp"
#include "Support/TestSandbox.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Sync/SyncConfiguration.hpp"
#include "Tessaline/Sync/SyncRunner.hpp"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;
using tessaline::SyncPair;
using tessaline::VolumeInfo;
namespace fs = std::filesystem;

namespace {

using brindlecove::testing::syncPair;
const auto message = brindlecove::testing::activityMessage;

}  // namespace

class SyncViewTests : public AppSandboxedTest {
protected:
    void TearDown() override {
        view.reset();
        manager.reset();
        AppSandboxedTest::TearDown();
    }

    fs::path configURL() const { return sandbox.path() / "app" / "sync-config.json"; }

    // A manager over the sandbox whose coordinator's runs copy nothing and finish at once.
    SyncManager& makeManager() {
        SyncManager::Environment env = brindlecove::testing::sandboxSyncEnvironment(
            sandbox.path(), qpath(configHome() / "autostart"), QStringLiteral("org.example.Sync"));
        env.listVolumes = [this] { return volumes; };
        env.makeCoordinator = brindlecove::testing::standInCoordinator([this] { return volumes; });
        env.clock = [this] { return now; };
        manager = std::make_unique<SyncManager>(env);
        return *manager;
    }

    SyncView& makeView() {
        if (!manager) makeManager();
        AddSyncPairSheet::Dependencies deps;
        deps.candidateVolumes = [this] { return candidates; };
        deps.dialogs.chooseFolder = [this](const FolderRequest& request) {
            requests.push_back(request);
            return folderAnswer;
        };
        view = std::make_unique<SyncView>(*manager, std::move(deps));
        view->resize(640, 900);
        view->show();
        return *view;
    }

    static void settle() {
        drainEvents();
        QTest::qWait(1);
        drainEvents();
    }

    template <class T>
    T* child(const QString& name, QObject* in = nullptr) const {
        return (in ? in : view.get())->findChild<T*>(name);
    }

    QList<QWidget*> pairRows() const {
        QList<QWidget*> rows;
        for (QWidget* row : view->findChildren<QWidget*>(QStringLiteral("sync.pairRow")))
            if (row->parentWidget()) rows << row;
        return rows;
    }

    QStringList pairRoutes() const {
        QStringList out;
        for (QWidget* row : pairRows()) out << child<QLabel>(QStringLiteral("pair.route"), row)->text();
        return out;
    }

    AddSyncPairSheet* openSheet() {
        child<QPushButton>(QStringLiteral("sync.addPair"))->click();
        AddSyncPairSheet* sheet = view->addSheet();
        EXPECT_NE(sheet, nullptr);
        if (sheet) EXPECT_TRUE(sheet->isVisible());
        return sheet;
    }

    std::unique_ptr<SyncManager> manager;
    std::unique_ptr<SyncView> view;
    std::vector<VolumeInfo> volumes{{"/", "System", false, false, true}, {"/media/u/CARD", "CARD", true, true, false}};
    std::vector<VolumeInfo> candidates{{"/media/u/CARD", "CARD", true, true, false},
                                       {"/media/u/B_CAM", "B_CAM", true, true, false}};
    QDateTime now = QDateTime(QDate(2025, 3, 7), QTime(14, 5, 9));
    std::vector<FolderRequest> requests;
    std::optional<QString> folderAnswer;
};

TEST_F(SyncViewTests, AddingAPairThroughTheSheetWritesTheConfiguration) {
    makeView();
    EXPECT_TRUE(child<QLabel>(QStringLiteral("sync.noPairs"))->isVisible());
    EXPECT_FALSE(child<QPushButton>(QStringLiteral("sync.syncNow"))->isEnabled());

    AddSyncPairSheet* sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->size(), QSize(460, 420));
    auto* inserted = child<QComboBox>(QStringLiteral("sheet.inserted"), sheet);
    ASSERT_TRUE(inserted->isVisible());
    EXPECT_EQ(inserted->count(), 3);
    EXPECT_EQ(inserted->itemText(0), QString::fromUtf8("—"));
    EXPECT_EQ(inserted->itemText(1), QStringLiteral("CARD"));
    auto* add = child<QPushButton>(QStringLiteral("sheet.add"), sheet);
    EXPECT_FALSE(add->isEnabled());
    EXPECT_EQ(child<QLabel>(QStringLiteral("sheet.destination"), sheet)->text(), QStringLiteral("No folder chosen"));

    Q_EMIT inserted->activated(1);
    EXPECT_EQ(child<QLineEdit>(QStringLiteral("sheet.sourceLabel"), sheet)->text(), QStringLiteral("CARD"));
    EXPECT_FALSE(add->isEnabled());

    fs::path destination = sandbox.path() / "Shuttle" / "Cards";
    fs::create_directories(destination);
    auto* choose = child<QPushButton>(QStringLiteral("sheet.choose"), sheet);
    choose->click();  // cancelled: still no folder
    folderAnswer = qpath(destination);
    choose->click();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].prompt, QStringLiteral("Choose Destination"));
    EXPECT_TRUE(requests[0].canCreateFolders);
    EXPECT_EQ(requests[0].startFolder, RemovableMounts::parentFolder());
    EXPECT_EQ(child<QLabel>(QStringLiteral("sheet.destination"), sheet)->text(), qpath(destination));
    EXPECT_FALSE(child<QLabel>(QStringLiteral("sheet.warning"), sheet)->isVisible());
    ASSERT_TRUE(add->isEnabled());

    QPointer<AddSyncPairSheet> closing(sheet);
    add->click();
    settle();
    EXPECT_TRUE(closing.isNull());
    ASSERT_EQ(manager->pairs().size(), 1u);
    const SyncPair& added = manager->pairs().front();
    EXPECT_EQ(added.name, "CARD \u2192 sync");
    EXPECT_EQ(added.sourceVolumeLabel, "CARD");
    EXPECT_FALSE(added.sourceSubpath);
    EXPECT_EQ(added.destinationPath, destination.string());
    EXPECT_TRUE(added.preserveStructure && added.verifyAfterCopy && added.enabled);
    EXPECT_EQ(tessaline::SyncConfiguration::load(configURL()).pairs, manager->pairs());
    EXPECT_EQ(pairRoutes(), QStringList{QStringLiteral("CARD \u2192 ") + qpath(destination)});
    EXPECT_FALSE(child<QLabel>(QStringLiteral("sync.noPairs"))->isVisible());
    EXPECT_TRUE(child<QPushButton>(QStringLiteral("sync.syncNow"))->isEnabled());
}

TEST_F(SyncViewTests, TheSheetTakesTextsAsTypedAndThePickerFollowsTheField) {
    folderAnswer = qpath(sandbox.path());
    makeView();
    AddSyncPairSheet* sheet = openSheet();
    auto* label = child<QLineEdit>(QStringLiteral("sheet.sourceLabel"), sheet);
    auto* inserted = child<QComboBox>(QStringLiteral("sheet.inserted"), sheet);
    auto* add = child<QPushButton>(QStringLiteral("sheet.add"), sheet);
    child<QPushButton>(QStringLiteral("sheet.choose"), sheet)->click();

    QTest::keyClicks(label, QStringLiteral("B_CAM"));
    EXPECT_EQ(inserted->currentIndex(), 2);
    label->setText(QStringLiteral("Other"));
    EXPECT_EQ(inserted->currentIndex(), -1);
    Q_EMIT inserted->activated(0);  // "—" empties the label
    EXPECT_TRUE(label->text().isEmpty());
    EXPECT_FALSE(add->isEnabled());
    label->setText(QStringLiteral(" "));  // a blank label still counts
    EXPECT_EQ(inserted->currentIndex(), -1);
    EXPECT_TRUE(add->isEnabled());

    child<QLineEdit>(QStringLiteral("sheet.name"), sheet)->setText(QStringLiteral("A-Cam \u2192 Backup"));
    child<QLineEdit>(QStringLiteral("sheet.subpath"), sheet)->setText(QStringLiteral("  "));
    child<QCheckBox>(QStringLiteral("sheet.preserve"), sheet)->setChecked(false);
    add->click();
    settle();
    ASSERT_EQ(manager->pairs().size(), 1u);
    const SyncPair& added = manager->pairs().front();
    EXPECT_EQ(added.name, "A-Cam \u2192 Backup");
    EXPECT_EQ(added.sourceVolumeLabel, " ");
    EXPECT_EQ(added.sourceSubpath, std::optional<std::string>("  "));
    EXPECT_FALSE(added.preserveStructure);
    EXPECT_EQ(pairRoutes().front(), QStringLiteral(" /   \u2192 ") + qpath(sandbox.path()));

    // Without inserted volumes there is no picker; a new sheet starts empty.
    candidates.clear();
    sheet = openSheet();
    EXPECT_FALSE(child<QComboBox>(QStringLiteral("sheet.inserted"), sheet)->isVisible());
    EXPECT_TRUE(child<QLineEdit>(QStringLiteral("sheet.sourceLabel"), sheet)->text().isEmpty());
    child<QPushButton>(QStringLiteral("sheet.cancel"), sheet)->click();
    settle();
    EXPECT_EQ(manager->pairs().size(), 1u);
}

TEST_F(SyncViewTests, TheSheetOffersOnlyLabelsAndItsListStaysInsideIt) {
    const std::string longLabel = "A_CAM_" + std::string(190, 'x') + "_END";
    VolumeInfo unlabeled{"/media/u/4A1C-09E2", "4A1C-09E2", true, true, false};
    unlabeled.hasOwnLabel = false;
    candidates = {{"/media/u/CARD", "CARD", true, true, false},
                  unlabeled,
                  {"/media/u/" + longLabel, longLabel, true, true, false}};
    makeView();
    AddSyncPairSheet* sheet = openSheet();
    auto* inserted = child<QComboBox>(QStringLiteral("sheet.inserted"), sheet);
    ASSERT_EQ(inserted->count(), 3) << "an unlabeled volume has no label to pair by";
    EXPECT_EQ(inserted->itemText(1), "CARD");
    EXPECT_EQ(inserted->itemData(2, Qt::ToolTipRole).toString(), QString::fromStdString(longLabel));
    EXPECT_EQ(inserted->view()->textElideMode(), Qt::ElideMiddle);
    inserted->showPopup();
    settle();
    const QWidget* list = inserted->view()->window();
    const QRect usable(sheet->mapToGlobal(QPoint(0, 0)), sheet->size());
    EXPECT_TRUE(usable.contains(list->geometry()))
        << "the list " << list->width() << " px wide in a sheet of " << sheet->width();
    inserted->hidePopup();
}

TEST_F(SyncViewTests, TheSheetWarnsWhenTheDestinationIsOnTheSourceDrive) {
    TESSALINE_REQUIRE_ROOT();
    tessaline::testing::LoopVolume drive("ext4", 16, "A-CAM");
    fs::create_directories(drive.mountPoint() / "Backup");
    folderAnswer = qpath(drive.mountPoint() / "Backup");
    makeView();
    AddSyncPairSheet* sheet = openSheet();
    auto* warning = child<QLabel>(QStringLiteral("sheet.warning"), sheet);
    auto* label = child<QLineEdit>(QStringLiteral("sheet.sourceLabel"), sheet);
    label->setText(QStringLiteral("a-cam"));
    child<QPushButton>(QStringLiteral("sheet.choose"), sheet)->click();
    ASSERT_TRUE(warning->isVisible());
    EXPECT_TRUE(warning->text().contains(QStringLiteral("into itself")));
    EXPECT_TRUE(child<QPushButton>(QStringLiteral("sheet.add"), sheet)->isEnabled());  // a warning, not a block
    label->setText(QStringLiteral("B-CAM"));
    EXPECT_FALSE(warning->isVisible());
    sheet->reject();
}

TEST_F(SyncViewTests, SwitchesWriteTheManagerAndFollowIt) {
    makeView();
    auto* enabled = child<QCheckBox>(QStringLiteral("sync.enabled"));
    auto* autoRun = child<QCheckBox>(QStringLiteral("sync.autoRun"));
    auto* scheduled = child<QCheckBox>(QStringLiteral("sync.scheduled"));
    EXPECT_TRUE(enabled->isChecked());
    EXPECT_TRUE(autoRun->isChecked());
    EXPECT_FALSE(scheduled->isChecked());

    enabled->click();
    autoRun->click();
    scheduled->click();
    EXPECT_FALSE(manager->enabled());
    EXPECT_FALSE(manager->autoRunOnMount());
    EXPECT_TRUE(manager->scheduledSyncEnabled());

    manager->setEnabled(true);
    manager->setScheduledSyncEnabled(false);
    settle();
    EXPECT_TRUE(enabled->isChecked());
    EXPECT_FALSE(scheduled->isChecked());

    EXPECT_FALSE(child<QLabel>(QStringLiteral("sync.lastRun"))->isVisibleTo(view.get()));
    manager->runScheduledNow(true);
    settle();
    EXPECT_TRUE(child<QLabel>(QStringLiteral("sync.lastRun"))->isVisibleTo(view.get()));
    EXPECT_EQ(child<QLabel>(QStringLiteral("sync.lastRun"))->text(), QStringLiteral("Mar 7, 2025, 2:05 PM"));

    child<QPushButton>(QStringLiteral("sync.enableLogin"))->click();
    settle();
    EXPECT_EQ(child<QLabel>(QStringLiteral("sync.loginStatus"))->text(), manager->launchAtLoginStatus());
    EXPECT_EQ(manager->launchAtLoginStatus(), QStringLiteral("enabled"));
    EXPECT_EQ(child<QLabel>(QStringLiteral("sync.configPath"))->text(),
              QStringLiteral("Config file: ") + qpath(configURL()));
}

TEST_F(SyncViewTests, ClickingARowsToggleAndTrashRebuildsAfterTheClick) {
    makeManager();
    manager->addPair(syncPair("Cam A", "CARD", sandbox.path() / "a"));
    manager->addPair(syncPair("Cam B", "B_CAM", sandbox.path() / "b"));
    makeView();
    ASSERT_EQ(pairRows().size(), 2);

    QPointer<QCheckBox> toggle = child<QCheckBox>(QStringLiteral("pair.toggle"), pairRows()[0]);
    QPointer<QToolButton> trash = child<QToolButton>(QStringLiteral("pair.trash"), pairRows()[0]);
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(manager->pairs()[0].enabled);
    trash->click();  // the same row, before the rebuild has run
    settle();
    EXPECT_TRUE(toggle.isNull());
    EXPECT_TRUE(trash.isNull());
    ASSERT_EQ(manager->pairs().size(), 1u);
    EXPECT_EQ(manager->pairs()[0].name, "Cam B");
    EXPECT_EQ(tessaline::SyncConfiguration::load(configURL()).pairs.size(), 1u);
    ASSERT_EQ(pairRows().size(), 1);

    // Only a disabled pair: "Sync Now" stays enabled and says why nothing ran.
    QPointer<QCheckBox> kept = child<QCheckBox>(QStringLiteral("pair.toggle"), pairRows()[0]);
    kept->click();
    settle();
    ASSERT_TRUE(kept);  // a switch flipped in place keeps its row (and the keyboard focus)
    EXPECT_FALSE(kept->isChecked());
    manager->togglePair(manager->pairs()[0].id);
    settle();
    EXPECT_TRUE(kept->isChecked());
    kept->click();
    settle();
    auto* syncNow = child<QPushButton>(QStringLiteral("sync.syncNow"));
    ASSERT_TRUE(syncNow->isEnabled());
    syncNow->click();
    settle();
    EXPECT_TRUE(child<QLabel>(QStringLiteral("sync.activity"))
                    ->text()
                    .contains(QString::fromUtf8("⚠️ Sync Now: no enabled sync pairs — add one or flip its toggle on.")));

    QTest::mouseClick(child<QToolButton>(QStringLiteral("pair.trash"), pairRows()[0]), Qt::LeftButton);
    settle();
    EXPECT_TRUE(pairRows().isEmpty());
    EXPECT_TRUE(child<QLabel>(QStringLiteral("sync.noPairs"))->isVisible());
}

TEST_F(SyncViewTests, ThePromptComesFirstAndItsButtonsClearItBeforeRunning) {
    makeManager();
    manager->addPair(syncPair("Cam A", "CARD", sandbox.path() / "a"));
    manager->addPair(syncPair("Cam A2", "CARD", sandbox.path() / "a2"));
    makeView();
    auto* prompt = child<QGroupBox>(QStringLiteral("sync.prompt"));
    EXPECT_FALSE(prompt->isVisible());
    EXPECT_TRUE(child<QLabel>(QStringLiteral("sync.noSyncs"))->isVisible());
    EXPECT_TRUE(child<QLabel>(QStringLiteral("sync.noActivity"))->isVisible());

    manager->setPendingPrompt(SyncManager::PendingPrompt{QUuid::createUuid(), QStringLiteral("CARD"),
                                                         {QStringLiteral("Cam A"), QStringLiteral("Cam A2")}});
    settle();
    ASSERT_TRUE(prompt->isVisible());
    QList<QGroupBox*> boxes = view->findChildren<QGroupBox*>();
    EXPECT_EQ(boxes.front(), prompt);
    EXPECT_EQ(child<QLabel>(QStringLiteral("prompt.title"))->text(), QString::fromUtf8("“CARD” detected"));
    QStringList buttons;
    for (QPushButton* b : prompt->findChildren<QPushButton*>()) buttons << b->text();
    EXPECT_EQ(buttons, (QStringList{QString::fromUtf8("Run “Cam A”"), QString::fromUtf8("Run “Cam A2”"),
                                    QStringLiteral("Dismiss")}));

    QPointer<QPushButton> run = prompt->findChildren<QPushButton*>().front();
    QTest::mouseClick(run, Qt::LeftButton);
    EXPECT_FALSE(manager->pendingPrompt());
    settle();
    EXPECT_TRUE(run.isNull());
    EXPECT_FALSE(prompt->isVisible());
    ASSERT_TRUE(waitFor([&] {
        settle();
        // The run's finishing line, whatever mark its verdict carries.
        return !manager->activity().isEmpty() &&
               message(manager->activity()[0]).contains(QString::fromUtf8("“Cam A”: 0 new"));
    }, 30'000));  // the run goes through the coordinator's own thread: generous under a loaded machine
    EXPECT_EQ(message(manager->activity()[1]), QString::fromUtf8("▶️ Syncing “Cam A”…"));
    settle();
    EXPECT_EQ(child<QWidget>(QStringLiteral("sync.totals"))->findChildren<QLabel*>().size(), 10);

    // Dismiss clears the prompt and starts nothing.
    manager->setPendingPrompt(SyncManager::PendingPrompt{QUuid::createUuid(), QStringLiteral("CARD"),
                                                         {QStringLiteral("Cam A")}});
    settle();
    const qsizetype lines = manager->activity().size();
    QPointer<QPushButton> dismiss = child<QPushButton>(QStringLiteral("prompt.dismiss"));
    ASSERT_TRUE(dismiss);
    dismiss->click();
    settle();
    EXPECT_TRUE(dismiss.isNull());
    EXPECT_FALSE(manager->pendingPrompt());
    QTest::qWait(50);
    EXPECT_EQ(manager->activity().size(), lines);
}

// A pair running shows a row of its own above the pairs, with its file, its bar and its bytes
// as the copy stands; the row goes when the run ends. The real runner copies a folder card,
// held half-way through its first file until the row is looked at.
TEST_F(SyncViewTests, ARunningPairShowsItsFileBarAndBytesUntilItEnds) {
    const fs::path card = sandbox.path() / "CARD";
    tessaline::testing::writePatternFile(card / "DCIM/C0001.MP4", 24u << 20, 1);
    tessaline::testing::writePatternFile(card / "DCIM/C0002.MP4", 1u << 20, 2);
    volumes = {{card, "CARD", true, true, false}};
    // Held on the run's thread until released; released at the latest when the test ends.
    struct Hold {
        std::atomic<bool> reached{false};
        std::atomic<bool> released{false};
    };
    auto hold = std::make_shared<Hold>();
    struct Release {
        std::shared_ptr<Hold> hold;
        ~Release() { hold->released = true; }
    } release{hold};
    SyncManager::Environment env = brindlecove::testing::sandboxSyncEnvironment(
        sandbox.path(), qpath(configHome() / "autostart"), QStringLiteral("org.example.Sync"));
    env.listVolumes = [this] { return volumes; };
    env.makeCoordinator = [this, hold](SyncManager::Providers providers,
                                       std::shared_ptr<tessaline::SyncReportStore> store) {
        tessaline::SyncRunner runner(
            std::make_shared<tessaline::SecurityScopedBookmarkStore>(sandbox.path() / "bookmarks.json"));
        auto run = [runner, hold](const SyncPair& p, const fs::path& root, tessaline::SyncReport::Trigger trigger,
                                  const tessaline::SettleOptions& settle,
                                  const tessaline::CopyEngine::CancelTest& isCancelled,
                                  const tessaline::CopyEngine::EventHandler& onEvent) {
            return runner.run(p, root, trigger, settle, isCancelled, [&](const tessaline::CopyEngine::Event& event) {
                onEvent(event);
                const auto* progress = std::get_if<tessaline::CopyEngine::FileProgressEvent>(&event);
                if (hold->reached || !progress || progress->bytesCopiedThisFile * 2 < progress->fileBytes) return;
                hold->reached = true;
                for (int waited = 0; !hold->released && waited < 30'000; waited += 5)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            });
        };
        return std::make_shared<tessaline::MountSyncCoordinator>(providers.configuration, providers.autoRun, run,
                                                                 std::move(store), providers.onEvent,
                                                                 [](std::function<void()>) {},
                                                                 [this] { return volumes; });
    };
    manager = std::make_unique<SyncManager>(env);
    manager->addPair(syncPair("Cam A", "CARD", sandbox.path() / "backup"));
    makeView();
    auto* running = child<QGroupBox>(QStringLiteral("sync.running"));
    EXPECT_FALSE(running->isVisible());

    manager->runScheduledNow(false);
    ASSERT_TRUE(waitFor([&] { return hold->reached.load(); }, 30'000));
    ASSERT_TRUE(waitFor([&] {
        settle();
        return running->isVisible() &&
               child<QLabel>(QStringLiteral("running.status"), running)->text().startsWith(QStringLiteral("Copying"));
    }, 10'000));
    EXPECT_EQ(child<QLabel>(QStringLiteral("running.name"), running)->text(), QStringLiteral("Cam A"));
    EXPECT_EQ(child<QLabel>(QStringLiteral("running.status"), running)->text(),
              QString::fromUtf8("Copying C0001.MP4 — file 1 of 2"));
    ASSERT_EQ(manager->runningSyncs().size(), 1u);
    const int64_t copied = manager->runningSyncs().front().overallBytesCopied;
    EXPECT_GE(copied, int64_t{12} << 20);
    EXPECT_EQ(child<QLabel>(QStringLiteral("running.bytes"), running)->text(),
              TransferTexts::bytesOf(copied, int64_t{25} << 20));
    auto* bar = child<QProgressBar>(QStringLiteral("running.progress"), running);
    EXPECT_EQ(bar->maximum(), 10000);
    EXPECT_EQ(bar->value(), static_cast<int>(copied * 10000 / (int64_t{25} << 20)));
    // Below the switches, above the pairs.
    const QList<QGroupBox*> boxes = view->findChildren<QGroupBox*>();
    EXPECT_LT(boxes.indexOf(running), boxes.indexOf(child<QGroupBox>(QStringLiteral("sync.pairs"))));

    hold->released = true;
    ASSERT_TRUE(waitFor([&] {
        settle();
        return !running->isVisible();
    }, 30'000));
    EXPECT_TRUE(manager->runningSyncs().empty());
    EXPECT_TRUE(message(manager->activity()[0]).contains(QString::fromUtf8("“Cam A”: 2 new files")))
        << manager->activity().join(QStringLiteral("\n")).toStdString();
}
