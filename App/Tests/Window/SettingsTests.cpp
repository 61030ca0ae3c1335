#include "BrindlecoveApp/Platform/RemovableMounts.hpp"
#include "BrindlecoveApp/Views/SettingsView.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/QtWarningLog.hpp"

#include "Tessaline/Index/FingerprintIndex.hpp"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace brindlecove;

namespace {

class Settings : public brindlecove::testing::AppSandboxedTest {
protected:
    std::optional<QString> nextFolder;
    std::vector<FolderRequest> folderRequests;
    bool confirmAnswer = true;
    int confirmations = 0;

    Dialogs dialogs() {
        Dialogs d;
        d.chooseFolder = [this](const FolderRequest& request) {
            folderRequests.push_back(request);
            return nextFolder;
        };
        d.confirm = [this](const Confirmation& question) {
            ++confirmations;
            EXPECT_EQ(question.title, QStringLiteral("Clear the scan cache?"));
            return confirmAnswer;
        };
        return d;
    }
    static SettingsModel::Runner inlineRunner() {
        return [](std::function<void()> work) { work(); };
    }
    std::filesystem::path bookmarksFile() const { return dataHome() / "Brindlecove" / "bookmarks.json"; }
};

}  // namespace

TEST_F(Settings, ShowsTheEngineVersionAndAClosedGuide) {
    SettingsView view(dialogs(), inlineRunner());
    auto* version = view.findChild<QLabel*>(QStringLiteral("settings.engineVersion"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), QStringLiteral("0.9.0"));
    auto* rows = view.findChild<QWidget*>(QStringLiteral("settings.guideRows"));
    ASSERT_NE(rows, nullptr);
    EXPECT_TRUE(rows->isHidden());
    // Seven guide rows: every section but Settings itself.
    EXPECT_EQ(rows->findChildren<QLabel*>().size(), 7 * 3);
}

TEST_F(Settings, TheGrantPanelOpensWhereDrivesMountAndTheReportsPanelMayCreateFolders) {
    SettingsView view(dialogs(), inlineRunner());
    view.findChild<QPushButton*>(QStringLiteral("settings.grantAccess"))->click();
    ASSERT_EQ(folderRequests.size(), 1u);
    const FolderRequest& grant = folderRequests[0];
    EXPECT_EQ(grant.prompt, QStringLiteral("Grant Access"));
    EXPECT_EQ(grant.message, QStringLiteral("Pick the SD card or drive Brindlecove should remember."));
    EXPECT_FALSE(grant.canCreateFolders);
    EXPECT_EQ(grant.startFolder, RemovableMounts::parentFolder());
    if (QFileInfo(QStringLiteral("/media")).isDir()) {
        // Never the working directory: somewhere under the folders where drives mount.
        EXPECT_TRUE(grant.startFolder.startsWith(QStringLiteral("/media")) ||
                    grant.startFolder.startsWith(QStringLiteral("/run/media/")))
            << grant.startFolder.toStdString();
    }

    view.model().chooseReportsFolder();
    ASSERT_EQ(folderRequests.size(), 2u);
    EXPECT_EQ(folderRequests[1].prompt, QStringLiteral("Save Reports Here"));
    EXPECT_TRUE(folderRequests[1].canCreateFolders);
    // No reports folder yet: the panel opens at home, never in the working directory.
    EXPECT_EQ(folderRequests[1].startFolder, QDir::homePath());

    // With one set, "Change…" opens at it.
    const std::filesystem::path reports = sandbox.path() / "Reports";
    std::filesystem::create_directories(reports);
    nextFolder = qpath(reports);
    view.model().chooseReportsFolder();
    ASSERT_EQ(view.model().reportsFolderPath(), qpath(reports));
    view.findChild<QPushButton*>(QStringLiteral("settings.changeReports"))->click();
    ASSERT_EQ(folderRequests.size(), 4u);
    EXPECT_EQ(folderRequests[3].startFolder, qpath(reports));
}

TEST_F(Settings, UsingTheSectionPrintsNoQtWarning) {
    {
        tessaline::FingerprintIndex index(tessaline::FingerprintIndex::defaultDatabaseURL());
        index.upsert(tessaline::Fingerprint{.url = "/media/card/A001.MOV", .byteSize = 1234}, "A_CAM", 1'700'000'000.0);
    }
    const std::filesystem::path reports = sandbox.path() / "Reports";
    std::filesystem::create_directories(reports);
    brindlecove::testing::QtWarningLog warnings;
    SettingsView view(dialogs(), inlineRunner());
    view.resize(720, 480);
    view.show();
    ASSERT_TRUE(waitFor([&] { return view.model().showsCacheStatistics(); }));
    // Every rebuild of the form, with and without a reports folder and cache statistics.
    nextFolder = qpath(reports);
    view.findChild<QPushButton*>(QStringLiteral("settings.chooseReports"))->click();
    view.findChild<QPushButton*>(QStringLiteral("settings.changeReports"))->click();
    nextFolder.reset();
    view.findChild<QPushButton*>(QStringLiteral("settings.grantAccess"))->click();
    view.model().refresh();
    drainEvents();
    confirmAnswer = true;
    view.model().confirmAndClearCache();
    ASSERT_TRUE(waitFor([&] { return !view.model().showsCacheStatistics(); }));
    view.findChild<QPushButton*>(QStringLiteral("settings.stopReports"))->click();
    drainEvents();
    EXPECT_FALSE(view.model().reportsFolderPath());
    EXPECT_TRUE(warnings.withoutPlatformNotices().isEmpty())
        << warnings.withoutPlatformNotices().join(QLatin1Char('\n')).toStdString();
}

TEST_F(Settings, GrantingAndForgettingADriveRewritesTheGrantsFile) {
    TESSALINE_REQUIRE_ROOT();
    tessaline::testing::LoopVolume drive("ext4", 64, "BACKUP_A");
    SettingsView view(dialogs(), inlineRunner());
    drainEvents();
    EXPECT_TRUE(view.model().grantedLabels().isEmpty());

    nextFolder.reset();  // a cancelled panel changes nothing
    view.model().grantAccess();
    EXPECT_FALSE(std::filesystem::exists(bookmarksFile()));

    nextFolder = QString::fromStdString(drive.mountPoint().string());
    view.model().grantAccess();
    drainEvents();
    EXPECT_EQ(view.model().grantedLabels(), QStringList{QStringLiteral("BACKUP_A")});
    EXPECT_FALSE(view.model().lastError().has_value());
    EXPECT_NE(tessaline::testing::readFile(bookmarksFile()).find("BACKUP_A"), std::string::npos);
    auto* shown = view.findChild<QLabel*>(QStringLiteral("settings.drive"));
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text(), QStringLiteral("BACKUP_A"));

    // Granting the same drive again replaces its entry.
    view.model().grantAccess();
    EXPECT_EQ(view.model().grantedLabels().size(), 1);

    auto* forget = view.findChild<QPushButton*>(QStringLiteral("settings.forget"));
    ASSERT_NE(forget, nullptr);
    forget->click();
    drainEvents();
    EXPECT_TRUE(view.model().grantedLabels().isEmpty());
    EXPECT_EQ(tessaline::testing::readFile(bookmarksFile()).find("BACKUP_A"), std::string::npos);
}

TEST_F(Settings, ClearingTheCacheEmptiesTheDatabaseAfterConfirmation) {
    {
        tessaline::FingerprintIndex index(tessaline::FingerprintIndex::defaultDatabaseURL());
        tessaline::Fingerprint fingerprint{.url = "/media/card/A001.MOV", .byteSize = 1234};
        index.upsert(fingerprint, "A_CAM", 1'700'000'000.0);
    }
    SettingsView view(dialogs(), inlineRunner());
    ASSERT_TRUE(waitFor([&] { return view.model().showsCacheStatistics(); }));
    EXPECT_EQ(view.model().cacheStats()->totalRows, 1);
    auto* rows = view.findChild<QLabel*>(QStringLiteral("settings.cacheRows"));
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->text(), QStringLiteral("1"));

    confirmAnswer = false;  // cancelled: nothing happens
    view.model().confirmAndClearCache();
    drainEvents();
    EXPECT_EQ(view.model().cacheStats()->totalRows, 1);

    confirmAnswer = true;
    auto* clear = view.findChild<QPushButton*>(QStringLiteral("settings.clearCache"));
    ASSERT_NE(clear, nullptr);
    clear->click();
    ASSERT_TRUE(waitFor([&] { return view.model().cacheStats() && !view.model().showsCacheStatistics(); }));
    EXPECT_EQ(confirmations, 2);
    EXPECT_FALSE(view.model().cacheError().has_value());
    tessaline::FingerprintIndex reopened(tessaline::FingerprintIndex::defaultDatabaseURL());
    EXPECT_EQ(reopened.stats().totalRows, 0);
    drainEvents();
    EXPECT_NE(view.findChild<QLabel*>(QStringLiteral("settings.cacheEmpty")), nullptr);
}

TEST(SettingsModel, VolumeRowsReadCountAndScanDate) {
    tessaline::CacheStats::VolumeStat stat{"A_CAM", 1234, std::nullopt};
    EXPECT_EQ(SettingsModel::volumeRowText(stat), QStringLiteral("1,234 files"));
    stat.lastScanned = 1'741'356'309.0;  // 2025-03-07 14:05:09 UTC
    EXPECT_EQ(SettingsModel::volumeRowText(stat), QStringLiteral("1,234 files · scanned Mar 7, 2025"));
}
