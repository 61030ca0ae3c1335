// The reformat form's widgets, offscreen: the empty list, the volume combo keeping its
// selection across refreshes, the fact rows, the name preview, the enabled state of
// "Erase & Reformat", the busy state and the outcomes. Volumes come from a scripted backend;
// real reformats are exercised by the view model tests.

#include "EraseViewTest.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"
#include "BrindlecoveApp/Views/DriveFormatView.hpp"
#include "BrindlecoveApp/Views/SymbolLabel.hpp"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardItemModel>

#include "BrindlecoveApp/Views/WrappedToolTips.hpp"
#include "Support/ToolTipProbe.hpp"

#include <QAbstractItemView>
#include <QToolTip>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace brindlecove::testing {
namespace {

namespace fs = std::filesystem;
using VM = DriveFormatViewModel;

class DriveFormatViewTest : public EraseViewTest<DriveFormatView> {
protected:
    void SetUp() override {
        AppSandboxedTest::SetUp();
        VM::Dependencies deps;
        deps.backend.listCandidates = [this] { return listed; };
        deps.backend.inspect = [this](const fs::path& path) {
            VM::Facts facts;
            facts.deviceIdentifier = "/dev/sdc1";
            facts.volumeName = names.count(path.string()) ? names[path.string()] : path.filename().string();
            facts.mountPoint = path.string();
            facts.totalBytes = 31'900'000'000;
            facts.filesystem = "ExFAT";
            return facts;
        };
        deps.backend.route = [this](const VM::Facts&) { return route; };
        deps.backend.reformat = [this](const fs::path&, tessaline::DriveFormat, std::string_view, const VM::Facts&,
                                       VM::Route::Kind) {
            while (hold) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (fail) throw tessaline::DriveFormatError::diskutilFailed("mkfs.exfat: device is busy");
            return DriveFormatBackend::Result{};
        };
        route.kind = VM::Route::Kind::diskService;
        vm = std::make_unique<VM>(deps);
        view = std::make_unique<DriveFormatView>(*vm);
        view->show();  // showing refreshes the list
        drainEvents();
    }
    void choose(int index) {
        auto* combo = find<QComboBox>("format.volume");
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
        ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
        drainEvents();
    }
    void type(const char* name, const QString& text) {
        edit(name, text);
        drainEvents();
    }

    std::vector<tessaline::VolumeInfo> listed;
    std::map<std::string, std::string> names;
    std::atomic<bool> hold{false};
    std::atomic<bool> fail{false};
    VM::Route route;
    std::unique_ptr<VM> vm;
};

TEST_F(DriveFormatViewTest, WithNoVolumesOnlyTheEmptyLabelAndRefreshShow) {
    EXPECT_TRUE(shown("format.empty"));
    EXPECT_FALSE(shown("format.volume"));
    EXPECT_TRUE(shown("format.refresh"));
    EXPECT_FALSE(shown("format.group.newFormat"));
    EXPECT_FALSE(shown("format.group.reformat"));
    listed = {{"/media/u/CARD", "CARD"}};
    find<QPushButton>("format.refresh")->click();
    drainEvents();
    EXPECT_FALSE(shown("format.empty"));
    EXPECT_TRUE(shown("format.volume"));
    EXPECT_TRUE(shown("format.hint"));
    EXPECT_EQ(find<QComboBox>("format.volume")->itemText(0), QString::fromUtf8("Choose\u2026"));
}

TEST_F(DriveFormatViewTest, TheComboKeepsItsSelectionAcrossARefresh) {
    listed = {{"/media/u/Untitled", "Untitled"}, {"/media/u/Untitled1", "Untitled"}, {"/media/u/B", "B"}};
    vm->refreshVolumes();
    drainEvents();
    auto* combo = find<QComboBox>("format.volume");
    ASSERT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->itemText(2), QString::fromUtf8("Untitled \u2014 /media/u/Untitled1"));
    choose(2);
    EXPECT_EQ(vm->selectedVolumePath(), QString("/media/u/Untitled1"));
    type("format.confirmation", "Untitled1");

    // A new volume appears; the list is rebuilt and the selection, facts and typed name stay.
    listed.insert(listed.begin(), {"/media/u/A", "A"});
    find<QPushButton>("format.refresh")->click();
    drainEvents();
    EXPECT_EQ(combo->count(), 5);
    EXPECT_EQ(combo->currentIndex(), 3);
    EXPECT_EQ(vm->selectedVolumePath(), QString("/media/u/Untitled1"));
    EXPECT_TRUE(vm->facts().has_value());
    EXPECT_EQ(vm->confirmationText(), "Untitled1");
    EXPECT_TRUE(find<QPushButton>("format.run")->isEnabled());
}

TEST_F(DriveFormatViewTest, FactsPreviewConfirmationAndOutcome) {
    listed = {{"/media/u/CARD", "CARD"}};
    names["/media/u/CARD"] = "Card";
    vm->refreshVolumes();
    choose(1);
    EXPECT_EQ(find<QLabel>("format.device")->text(), "/dev/sdc1");
    EXPECT_EQ(find<QLabel>("format.filesystem")->text(), "ExFAT");
    const QString capacity = Formats::fileByteCount(31'900'000'000);
    EXPECT_EQ(find<QLabel>("format.capacity")->text(), capacity);
    EXPECT_EQ(find<SymbolLabel>("format.warning")->text(),
              QString::fromUtf8("This erases EVERYTHING on \u201cCard\u201d (") + capacity +
                  ") and rebuilds it as ExFAT. There is no undo.");
    EXPECT_EQ(find<QLabel>("format.blurb")->text(),
              QString::fromUtf8("Cameras & cross-platform drives \u2014 what most cameras expect on SDXC cards (64 GB+)."));
    EXPECT_EQ(find<QLabel>("format.confirmationTitle")->text(), "Type the volume's name (Card) to confirm");
    // The name preview: "Card" becomes "CARD" under the ExFAT label rules.
    EXPECT_TRUE(shown("format.preview"));
    EXPECT_EQ(find<QLabel>("format.preview")->text(), QString::fromUtf8("Will be named \u201cCARD\u201d (ExFAT label rules)."));
    type("format.newName", "CARD");
    EXPECT_FALSE(shown("format.preview"));
    auto* fileSystem = find<QComboBox>("format.fileSystem");
    fileSystem->setCurrentIndex(2);
    Q_EMIT fileSystem->activated(2);
    drainEvents();
    EXPECT_EQ(vm->format(), tessaline::DriveFormat::apfs);
    EXPECT_TRUE(find<SymbolLabel>("format.warning")->text().endsWith("rebuilds it as APFS. There is no undo."));

    auto* run = find<QPushButton>("format.run");
    type("format.confirmation", "card");
    EXPECT_FALSE(run->isEnabled());
    type("format.confirmation", "Card ");
    EXPECT_FALSE(run->isEnabled());
    type("format.confirmation", "Card");
    EXPECT_TRUE(run->isEnabled());

    hold = true;
    fail = true;
    run->click();
    drainEvents();
    EXPECT_TRUE(shown("format.formatting"));
    EXPECT_FALSE(run->isEnabled());
    EXPECT_FALSE(find<QComboBox>("format.volume")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("format.refresh")->isEnabled());
    EXPECT_FALSE(fileSystem->isEnabled());
    EXPECT_FALSE(find<QLineEdit>("format.newName")->isEnabled());
    EXPECT_FALSE(find<QLineEdit>("format.confirmation")->isEnabled());
    // Showing the form again while it runs refreshes nothing.
    listed = {};
    view->hide();
    view->show();
    drainEvents();
    EXPECT_EQ(find<QComboBox>("format.volume")->count(), 2);
    hold = false;
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    drainEvents();
    EXPECT_EQ(find<SymbolLabel>("format.outcome")->text(), "mkfs.exfat: device is busy");
    EXPECT_TRUE(shown("format.failedNote"));
    EXPECT_EQ(find<QLabel>("format.failedNote")->text(),
              QString::fromUtf8("Nothing was formatted if the error came from a safety check. If the system refused the "
                                "operation, Disks can do it \u2014 this is the same engine."));
    EXPECT_FALSE(run->isEnabled());

    // Another format makes the form usable again: the volume is checked afresh.
    fileSystem->setCurrentIndex(0);
    Q_EMIT fileSystem->activated(0);
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    drainEvents();
    EXPECT_EQ(vm->phase(), VM::Phase(VM::Ready{}));
    EXPECT_FALSE(shown("format.outcome"));
    type("format.confirmation", "Card");
    EXPECT_TRUE(run->isEnabled());

    // A reformat whose volume is not mounted again: the done message stays in view.
    fail = false;
    run->click();
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    drainEvents();
    EXPECT_FALSE(shown("format.group.reformat"));
    EXPECT_TRUE(shown("format.doneAlone"));
    EXPECT_EQ(find<SymbolLabel>("format.doneAlone")->text(),
              QString::fromUtf8("Reformatted as ExFAT, named \u201cCARD\u201d. It is ready but not mounted."));
}

TEST_F(DriveFormatViewTest, ChoosingTheVolumeAgainAfterAFailureMakesTheFormUsable) {
    listed = {{"/media/u/CARD", "CARD"}};
    vm->refreshVolumes();
    choose(1);
    type("format.confirmation", "CARD");
    fail = true;
    auto* run = find<QPushButton>("format.run");
    run->click();
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    drainEvents();
    ASSERT_TRUE(shown("format.outcome"));
    EXPECT_FALSE(run->isEnabled());

    // The same entry, picked again in the list, checks the volume afresh.
    choose(1);
    EXPECT_EQ(vm->phase(), VM::Phase(VM::Ready{}));
    EXPECT_FALSE(shown("format.outcome"));
    EXPECT_EQ(find<QLineEdit>("format.confirmation")->text(), "");
    type("format.confirmation", "CARD");
    EXPECT_TRUE(run->isEnabled());

    // So does Refresh after another failure.
    run->click();
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    drainEvents();
    ASSERT_TRUE(shown("format.outcome"));
    find<QPushButton>("format.refresh")->click();
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    drainEvents();
    EXPECT_EQ(vm->phase(), VM::Phase(VM::Ready{}));
    EXPECT_FALSE(shown("format.outcome"));
}

TEST_F(DriveFormatViewTest, AFailureAtTheFootOfASmallFormIsScrolledIntoView) {
    view->resize(460, 420);  // the detail area of the smallest window
    listed = {{"/media/u/CARD", "CARD"}};
    vm->refreshVolumes();
    choose(1);
    type("format.confirmation", "CARD");
    fail = true;
    find<QPushButton>("format.run")->click();
    ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
    drainEvents();
    auto* scroll = view->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    auto* outcome = find<SymbolLabel>("format.outcome");
    ASSERT_TRUE(shown("format.outcome"));
    const QRect inViewport(outcome->mapTo(scroll->viewport(), QPoint(0, 0)), outcome->size());
    EXPECT_GT(scroll->verticalScrollBar()->value(), 0);
    EXPECT_TRUE(scroll->viewport()->rect().contains(inViewport)) << "outcome at " << inViewport.y();
}

TEST_F(DriveFormatViewTest, FormatsThatCannotBeMadeAreDisabledWithTheirReason) {
    route.unmakeable[tessaline::DriveFormat::apfs] = "the system disk service can't create it";
    route.unmakeable[tessaline::DriveFormat::hfsPlus] = "the system disk service can't create it";
    listed = {{"/media/u/CARD", "CARD"}};
    vm->refreshVolumes();
    choose(1);
    auto* fileSystem = find<QComboBox>("format.fileSystem");
    auto* items = qobject_cast<QStandardItemModel*>(fileSystem->model());
    ASSERT_NE(items, nullptr);
    ASSERT_EQ(fileSystem->count(), 4);
    EXPECT_EQ(fileSystem->itemText(0), "ExFAT");
    EXPECT_TRUE(items->item(0)->isEnabled());
    EXPECT_EQ(fileSystem->itemText(2), QString::fromUtf8("APFS \u2014 the system disk service can't create it"));
    EXPECT_FALSE(items->item(2)->isEnabled());
    EXPECT_EQ(fileSystem->itemText(3),
              QString::fromUtf8("Mac OS Extended (Journaled) \u2014 the system disk service can't create it"));
    EXPECT_FALSE(items->item(3)->isEnabled());
    EXPECT_FALSE(shown("format.routeProblem"));
    type("format.confirmation", "CARD");
    EXPECT_TRUE(find<QPushButton>("format.run")->isEnabled());
    vm->setFormat(tessaline::DriveFormat::apfs);  // e.g. chosen before the volume
    drainEvents();
    EXPECT_FALSE(find<QPushButton>("format.run")->isEnabled());
    EXPECT_TRUE(shown("format.runReason"));
    EXPECT_EQ(find<QLabel>("format.runReason")->text(),
              "APFS can't be made on this volume: the system disk service can't create it");
}

TEST_F(DriveFormatViewTest, TheVolumeBoxNamesTheVolumeShownAndTheFormNeverKeepsAFileSystemTheVolumeCantTake) {
    listed = {{"/media/u/CARD", "CARD"}, {"/media/u/SMALL", "SMALL"}};
    vm->refreshVolumes();
    choose(1);
    auto* volume = find<QComboBox>("format.volume");
    auto tipOf = [&](QWidget* widget) {
        const auto tip = showToolTip(widget, widget->rect().center());
        return tip ? tip->text : QString("<none>");
    };
    EXPECT_EQ(tipOf(volume), "CARD");
    // Refilled under a signal blocker with the same entry chosen, now under another name.
    listed = {{"/media/u/CARD", "NEW_NAME"}, {"/media/u/SMALL", "SMALL"}};
    find<QPushButton>("format.refresh")->click();
    drainEvents();
    EXPECT_EQ(volume->currentText(), "NEW_NAME");
    EXPECT_EQ(tipOf(volume), "NEW_NAME");
    EXPECT_EQ(volume->toolTip(), "NEW_NAME");

    // FAT32 chosen for the first card; the second can't take it: the first it can take is chosen.
    vm->setFormat(tessaline::DriveFormat::fat32);
    drainEvents();
    const QString reason = "FAT32 needs a volume of at least 512 MB, and this one holds 268 MB";
    route.unmakeable[tessaline::DriveFormat::fat32] = reason;
    route.unmakeable[tessaline::DriveFormat::exfat] = "no exFAT tool";
    choose(2);
    EXPECT_EQ(vm->format(), tessaline::DriveFormat::apfs);
    auto* fileSystem = find<QComboBox>("format.fileSystem");
    EXPECT_EQ(fileSystem->currentText(), "APFS");
    // A cut reason ends in an ellipsis, and is whole in the entry's tooltip.
    EXPECT_EQ(fileSystem->view()->textElideMode(), Qt::ElideRight);
    EXPECT_EQ(fileSystem->itemData(1, Qt::ToolTipRole).toString(), QString::fromUtf8("FAT32 (MS-DOS) \u2014 ") + reason);

    // A disabled Erase & Reformat says why in words, until it is enabled.
    auto* why = find<QLabel>("format.runReason");
    EXPECT_FALSE(find<QPushButton>("format.run")->isEnabled());
    EXPECT_TRUE(shown("format.runReason"));
    EXPECT_EQ(why->text(), "Type the volume's name in the field above to enable Erase & Reformat.");
    type("format.confirmation", "small");
    EXPECT_EQ(why->text(), QString::fromUtf8("The typed name doesn't match the volume's name \u2014 type it exactly, "
                                             "capitals included."));
    type("format.confirmation", "SMALL");
    EXPECT_TRUE(find<QPushButton>("format.run")->isEnabled());
    EXPECT_FALSE(shown("format.runReason"));
}

TEST_F(DriveFormatViewTest, AVeryLongEntrysTooltipInTheVolumeListWrapsOnTheScreen) {
    WrappedToolTips::install();
    const std::string label(200, 'L');
    listed = {{"/media/u/CARD", "CARD"}, {"/media/u/" + label, label}};
    vm->refreshVolumes();
    drainEvents();
    auto* combo = find<QComboBox>("format.volume");
    combo->showPopup();
    drainEvents();
    QAbstractItemView* list = combo->view();
    const QRect row = list->visualRect(list->model()->index(2, 0));
    ASSERT_TRUE(row.isValid());
    const auto tip = showToolTip(list->viewport(), row.center());
    combo->hidePopup();
    ASSERT_TRUE(tip);
    EXPECT_TRUE(tip->text.startsWith(QString::fromStdString(label))) << tip->text.toStdString();
    EXPECT_TRUE(tip->screen.contains(tip->geometry)) << "the tooltip stays on the screen";
    EXPECT_LT(tip->geometry.width(), tip->screen.width() / 2) << "wrapped, not one line as wide as the name";
    EXPECT_GT(tip->geometry.height(), 2 * QFontMetrics(QToolTip::font()).height()) << "on several lines";
}

TEST_F(DriveFormatViewTest, TheVolumeListOpensNoWiderThanTheWindowWithLongEntriesCutInTheMiddle) {
    for (const QSize size : {QSize(720, 480), QSize(900, 600)}) {
        SCOPED_TRACE(size.width());
        view->resize(size);
        const std::string label = "B_CAM_" + std::string(190, 'y') + "_END";
        listed = {{"/media/u/CARD", "CARD"}, {"/media/u/" + label, label}};
        vm->refreshVolumes();
        drainEvents();
        auto* combo = find<QComboBox>("format.volume");
        EXPECT_LE(combo->width(), size.width());
        combo->showPopup();
        drainEvents();
        const QWidget* list = combo->view()->window();
        const QRect usable(view->mapToGlobal(QPoint(0, 0)), view->size());
        EXPECT_TRUE(usable.contains(list->geometry())) << "the list " << list->width() << " px wide";
        EXPECT_EQ(combo->view()->textElideMode(), Qt::ElideMiddle);
        EXPECT_EQ(combo->itemData(2, Qt::ToolTipRole).toString(), QString::fromStdString(label));
        combo->hidePopup();
    }
}

TEST_F(DriveFormatViewTest, WithNoWayToReformatTheFormSaysWhyBeforeTheConfirmation) {
    route = {};
    route.problem = "Reformatting goes through the system disk service (udisks2), which isn't answering here.";
    listed = {{"/media/u/CARD", "CARD"}};
    vm->refreshVolumes();
    choose(1);
    EXPECT_TRUE(shown("format.routeProblem"));
    EXPECT_EQ(find<SymbolLabel>("format.routeProblem")->text(), route.problem);
    EXPECT_FALSE(find<QLineEdit>("format.confirmation")->isEnabled());
    vm->setConfirmationText("CARD");
    drainEvents();
    EXPECT_FALSE(find<QPushButton>("format.run")->isEnabled());
}

TEST_F(DriveFormatViewTest, AVolumeWithoutANameCanNeverBeReformatted) {
    listed = {{"/media/u/X", "X"}};
    names["/media/u/X"] = "";
    vm->refreshVolumes();
    choose(1);
    EXPECT_EQ(find<QLabel>("format.confirmationTitle")->text(), "Type the volume's name () to confirm");
    EXPECT_TRUE(find<SymbolLabel>("format.warning")->text().startsWith(QString::fromUtf8("This erases EVERYTHING on \u201c\u201d (")));
    type("format.confirmation", "");
    EXPECT_FALSE(find<QPushButton>("format.run")->isEnabled());
}

}  // namespace
}  // namespace brindlecove::testing
