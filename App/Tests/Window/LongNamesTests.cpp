// A card mounted at a folder with a 200-character name (no spaces): every section of a
// window of the least size shows it without a horizontal scroll bar, the name cut in the
// middle where it has one line, the whole name in its tooltip.

#include "BrindlecoveApp/AppSection.hpp"
#include "BrindlecoveApp/Main/AppContext.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/LoopVolumeSet.hpp"
#include "Support/ReportFixtures.hpp"

#include "Tessaline/Index/FingerprintIndex.hpp"
#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"

#include <QAbstractScrollArea>
#include <QComboBox>
#include <QLabel>
#include <QScrollBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <set>

namespace brindlecove::testing {
namespace {

namespace fs = std::filesystem;
using tessaline::MatchStatus;

class LongNames : public AppSandboxedTest {};

// Every scroll area of the shown screen fits its width; the widths that do not, named.
std::vector<std::string> overflowing(QWidget* screen) {
    std::vector<std::string> wide;
    for (auto* area : screen->findChildren<QAbstractScrollArea*>()) {
        if (!area->isVisibleTo(screen)) continue;
        if (area->horizontalScrollBar()->maximum() > 0)
            wide.push_back(area->objectName().toStdString() + " scrolls by " +
                           std::to_string(area->horizontalScrollBar()->maximum()) + " px");
    }
    return wide;
}

TEST_F(LongNames, EverySectionOfASmallWindowShowsACardAtA200CharacterFolder) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    LoopVolumeSet loops;
    const std::string name = "A_CAM_" + std::string(190, 'x') + "_END";
    ASSERT_EQ(name.size(), 200u);
    // Without a label of its own a volume is named for the folder it is mounted at.
    auto& volume = loops.add("ext4", "", 64, false);
    const fs::path card = sandbox.path() / name;
    loops.mountAt(volume, "ext4", card);
    tessaline::testing::writePatternFile(card / "DCIM" / "C0001.MP4", 20'000);
    {
        tessaline::FingerprintIndex index(tessaline::FingerprintIndex::defaultDatabaseURL());
        index.upsert(tessaline::Fingerprint{.url = card / "DCIM/C0001.MP4", .byteSize = 20'000}, name, 1'717'243'200.0);
    }

    tessaline::SecurityScopedBookmarkStore().grant(card);

    AppContext::Options options;
    options.dialogs.chooseFolder = [&](const FolderRequest&) { return std::optional<QString>(qpath(card)); };
    options.dialogs.confirm = [](const Confirmation&) { return false; };
    options.dialogs.saveFile = [](const SaveRequest&) { return std::optional<QString>(); };
    options.quitWithoutTray = false;
    AppContext context(std::move(options));
    MainWindow* window = context.openMainWindow();
    window->resize(720, 480);
    window->show();
    drainEvents();
    window->models().scan().pickCard();
    window->models().scan().setLastReport(
        makeReport({clip({fingerprint(card / "DCIM/C0001.MP4", 20'000)}, MatchStatus::missing())}, card));
    window->models().copy().pickCard();
    window->models().copy().pickDestination();
    window->models().cardPrep().takeCard(qpath(card));
    ASSERT_TRUE(waitFor([&] { return !window->models().cardPrep().isBusy(); }));

    // One-line names are cut in the middle and whole in their tooltips.
    std::set<std::string> cutNames;
    auto expectCut = [&](QWidget* screen) {
        for (auto* label : screen->findChildren<QLabel*>()) {
            if (!label->isVisibleTo(screen) || label->wordWrap() ||
                !label->toolTip().contains(QString::fromStdString(name)))
                continue;
            const std::string which = label->objectName().toStdString();
            EXPECT_LT(label->text().size(), label->toolTip().size()) << which;
            EXPECT_TRUE(label->text().contains(QString::fromUtf8("\u2026"))) << which;
            EXPECT_TRUE(label->text().contains(QStringLiteral("_END"))) << which << " " << label->text().toStdString();
            cutNames.insert(which);
        }
    };
    for (AppSection section : allAppSections) {
        SCOPED_TRACE(rawValue(section).toStdString());
        window->select(section);
        QWidget* screen = window->currentScreen();
        ASSERT_TRUE(screen);
        waitFor([] { return false; }, 300);  // background counts and statistics come back
        if (section == AppSection::eraseCard) {
            EXPECT_EQ(overflowing(screen), std::vector<std::string>{}) << "camera-profile mode";
            expectCut(screen);
            screen->findChild<QToolButton*>(QStringLiteral("erase.mode.reformat"))->click();
            auto* volumes = screen->findChild<QComboBox*>(QStringLiteral("format.volume"));
            ASSERT_TRUE(volumes);
            ASSERT_TRUE(waitFor([&] {
                drainEvents();
                return volumes->findData(qpath(card)) >= 0;
            }));
            const int index = volumes->findData(qpath(card));
            volumes->setCurrentIndex(index);
            Q_EMIT volumes->activated(index);
            ASSERT_TRUE(waitFor([&] { return !window->models().driveFormat().isBusy(); }));
            drainEvents();
            EXPECT_EQ(volumes->itemData(index, Qt::ToolTipRole).toString(), QString::fromStdString(name));
        }
        EXPECT_EQ(overflowing(screen), std::vector<std::string>{});
        EXPECT_LE(screen->minimumSizeHint().width(), screen->width());
        expectCut(screen);
    }
    // The Scan section's card folder and inserted-volume row, Copy's two folders, Erase
    // Card's card, the reformat confirmation's title, the Settings drive and cache rows.
    EXPECT_EQ(cutNames, (std::set<std::string>{"scan.card.path", "symbolLabel.text", "copy.cardPath",
                                                "copy.destinationPath", "erase.cardPath", "format.confirmationTitle",
                                                "settings.drive", "settings.cacheVolume"}));
}

}  // namespace
}  // namespace brindlecove::testing
