// The Report section in a real main window at the window's least size (720x480) and at its
// default size (900x600): every text gets the room it needs, nothing is drawn over anything
// else, and nothing is wider than the window.

#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/ElidedLabel.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/ReportFileList.hpp"
#include "BrindlecoveApp/Views/ReportView.hpp"
#include "BrindlecoveApp/Views/StatCard.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/ReportFixtures.hpp"

#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

using namespace brindlecove;
using namespace brindlecove::testing;
namespace fs = std::filesystem;

namespace {

class ReportLayoutTest : public AppSandboxedTest {
protected:
    void SetUp() override {
        AppSandboxedTest::SetUp();
        destination = sandbox.path() / "BACKUP_A" / "Shoot" / "Day2_A001";
        fs::create_directories(destination);
        WindowServices services;
        services.dialogs.chooseFolder = [this](const FolderRequest&) { return std::optional<QString>(qtPath(destination)); };
        services.dialogs.confirm = [](const Confirmation&) { return false; };
        services.screens = [](AppSection section, MainWindow& window) -> QWidget* {
            return section == AppSection::report ? makeReportView(window) : nullptr;
        };
        window = std::make_unique<MainWindow>(std::move(services));
        window->show();
        window->select(AppSection::report);
    }
    void TearDown() override {
        window.reset();
        AppSandboxedTest::TearDown();
    }

    QWidget* screen() const { return window->currentScreen(); }
    template <class T>
    T* find(const char* name) const {
        return screen()->findChild<T*>(QString::fromLatin1(name));
    }
    void showAt(QSize size) {
        window->resize(size);
        drainEvents();
        ASSERT_EQ(window->size(), size);
    }
    // `widget`'s rectangle in the screen's coordinates.
    QRect onScreen(const QWidget* widget) const {
        return QRect(widget->mapTo(screen(), QPoint(0, 0)), widget->size());
    }

    // A label shows all of its text: it is as tall as its lines need (with the font's
    // descent, where underscores are drawn) and lies within its parent.
    static void expectWhole(const QLabel* label, const std::string& where) {
        SCOPED_TRACE(where + " " + label->objectName().toStdString() + " \"" + label->text().toStdString() + "\"");
        ASSERT_FALSE(label->geometry().isEmpty());
        const int needed = label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
        EXPECT_GE(label->height(), needed);
        if (!label->text().isEmpty()) EXPECT_GE(label->contentsRect().height(), label->fontMetrics().height());
        EXPECT_TRUE(label->parentWidget()->rect().contains(label->geometry()))
            << "label " << label->geometry().height() << " high at y " << label->geometry().y() << " in a parent "
            << label->parentWidget()->height() << " high";
    }

    void expectLaidOut(const std::string& where) {
        // Every text of the section, banner, tiles, rescue group and list header included.
        for (QLabel* label : screen()->findChildren<QLabel*>())
            if (label->isVisible() && !label->text().isEmpty()) expectWhole(label, where);

        // The four tiles show their number and label inside the tile.
        for (const char* name : {"report.tile.missing", "report.tile.confirmed", "report.tile.duplicates",
                                 "report.tile.mismatches"}) {
            auto* tile = find<StatCard>(name);
            ASSERT_NE(tile, nullptr) << name;
            for (const char* part : {"statCard.count", "statCard.label"}) {
                auto* label = tile->findChild<QLabel*>(QString::fromLatin1(part));
                ASSERT_TRUE(label && label->isVisible()) << where << " " << name << " " << part;
                EXPECT_FALSE(label->geometry().isEmpty()) << where << " " << name << " " << part;
                EXPECT_TRUE(tile->rect().contains(label->geometry())) << where << " " << name << " " << part;
            }
        }

        // The list keeps a few rows, and its footer stands below it, not over it.
        auto* list = find<QListView>("fileList.view");
        auto* footer = find<QLabel>("fileList.footer");
        ASSERT_TRUE(list && footer);
        EXPECT_GE(list->height(), list->minimumHeight()) << where;
        EXPECT_GE(list->viewport()->height(), ReportFileList::minimumRows * list->gridSize().height()) << where;
        EXPECT_FALSE(onScreen(footer).intersects(onScreen(list))) << where;
        EXPECT_GE(onScreen(footer).top(), onScreen(list).bottom()) << where;

        // Nothing is wider than the window: the section scrolls up and down only.
        auto* scroll = screen()->findChild<QScrollArea*>();
        ASSERT_NE(scroll, nullptr);
        EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible()) << where;
        EXPECT_LE(scroll->widget()->width(), scroll->viewport()->width()) << where;
    }

    fs::path destination;
    std::unique_ptr<MainWindow> window;
};

}  // namespace

TEST_F(ReportLayoutTest, EveryPartKeepsItsSizeAtTheLeastAndTheDefaultWindowSize) {
    auto& scan = window->models().scan();
    for (auto report : {countsReport(0, 10), countsReport(10, 0), countsReport(3, 5, 1, 1)}) {
        scan.setLastReport(report);
        // With clips still only on the card, the rescue group shows a destination whose path
        // has underscores.
        if (find<QWidget>("report.rescue")->isVisibleTo(screen())) window->models().missingSync().pickDestination();
        for (QSize size : {QSize(720, 480), QSize(900, 600)}) {
            showAt(size);
            const std::string where = std::to_string(size.width()) + "x" + std::to_string(size.height()) + " with " +
                                      std::to_string(report->missing().size()) + " missing";
            expectLaidOut(where);
        }
    }
    auto* path = find<ElidedLabel>("rescue.destinationPath");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(path->fullText(), qtPath(destination));
    EXPECT_TRUE(path->isVisible());
}

TEST_F(ReportLayoutTest, ALongDestinationIsShortenedInItsMiddleNotWideningTheSection) {
    destination = sandbox.path() / "BACKUP_A" / std::string(40, 'x') / "Shoot_Day_Two" / "Camera_A" / "Day2_A001";
    fs::create_directories(destination);
    window->models().scan().setLastReport(countsReport(3, 5));
    window->models().missingSync().pickDestination();
    showAt(QSize(720, 480));
    expectLaidOut("720x480 with a long path");
    auto* path = find<ElidedLabel>("rescue.destinationPath");
    EXPECT_EQ(path->fullText(), qtPath(destination));
    EXPECT_TRUE(path->text().contains(QStringLiteral("…")));
    EXPECT_TRUE(path->text().endsWith(QStringLiteral("Day2_A001")));
    EXPECT_EQ(path->toolTip(), qtPath(destination));
}

TEST_F(ReportLayoutTest, ALongSyncTitleIsCutInItsMiddleNotWideningTheSection) {
    // 1,000 missing clips of 5 files each and 1,000 other files only on the card.
    auto report = std::make_shared<tessaline::VerificationReport>(*countsReport(0, 5));
    for (int c = 0; c < 1000; ++c) {
        std::vector<tessaline::Fingerprint> files;
        for (int f = 0; f < 5; ++f)
            files.push_back(fingerprint("/media/u/CARD/DCIM/B" + std::to_string(c) + "_" + std::to_string(f) + ".JPG", 10));
        report->results.push_back(clip(std::move(files), tessaline::MatchStatus::missing()));
        report->otherFiles.push_back({"/media/u/CARD/MISC/F" + std::to_string(c) + ".DAT", 5,
                                      tessaline::OtherFile::Role::other, std::nullopt});
    }
    window->models().scan().setLastReport(report);
    window->models().missingSync().pickDestination();
    const QString whole = QStringLiteral("Sync 1,000 Missing Clips (5,000 Files) and 1,000 Other Files to Drive");
    auto* sync = find<QPushButton>("rescue.sync");
    ASSERT_NE(sync, nullptr);
    showAt(QSize(720, 480));
    expectLaidOut("720x480 with a long sync title");
    EXPECT_TRUE(sync->text().contains(QStringLiteral("…"))) << sync->text().toStdString();
    EXPECT_TRUE(sync->text().startsWith(QStringLiteral("Sync 1,000 Missing Clips")));
    EXPECT_EQ(sync->toolTip(), whole);
    EXPECT_LE(onScreen(sync).right(), find<QWidget>("report.rescue")->mapTo(screen(), QPoint(0, 0)).x() +
                                          find<QWidget>("report.rescue")->width());
    // With room enough it is whole again.
    showAt(QSize(1400, 600));
    EXPECT_EQ(sync->text(), whole);
    EXPECT_TRUE(sync->toolTip().isEmpty());
}
