// The mouse wheel over a choice in the window: without focus, or with focus the program gave
// it, it scrolls the page and changes nothing (the camera profile of Erase Card, the file
// system of the reformat form); once the user clicked the box or tabbed to it, it steps the
// choice as usual.

#include "EraseViewTest.hpp"

#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/CardPrepView.hpp"
#include "BrindlecoveApp/Views/DriveFormatView.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/WheelGuard.hpp"

#include <QApplication>
#include <QComboBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace brindlecove::testing {
namespace {

namespace fs = std::filesystem;

// One notch of the wheel, downwards, over the middle of `widget`.
void wheelDown(QWidget* widget) {
    const QPointF local(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(local, widget->mapToGlobal(local), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

QScrollBar* pageBar(QWidget* control) {
    for (QWidget* around = control->parentWidget(); around; around = around->parentWidget())
        if (auto* page = qobject_cast<QScrollArea*>(around)) return page->verticalScrollBar();
    return nullptr;
}

// How the box comes to hold the focus the user gave it.
enum class UserFocus { click, tab };

// The wheel over `box` without focus, and with focus the program gave it (the window activated
// again after a dialog, the focus handed on by a control that was disabled, focus set at
// start): the choice stays, nothing is activated, the page scrolls. Then, the box clicked or
// tabbed to: the choice moves on.
void expectWheelChangesOnlyAfterTheUser(QComboBox* box, UserFocus user) {
    ASSERT_TRUE(box);
    EXPECT_EQ(box->focusPolicy(), Qt::StrongFocus) << "the wheel gives no focus";
    QScrollBar* bar = pageBar(box);
    ASSERT_TRUE(bar);
    ASSERT_GT(bar->maximum(), 0) << "the page can scroll";
    const int index = box->currentIndex();
    QSignalSpy activated(box, &QComboBox::activated);
    QWidget* window = box->window();
    window->activateWindow();
    QApplication::setActiveWindow(window);

    ASSERT_FALSE(box->hasFocus());
    bar->setValue(0);
    wheelDown(box);
    wheelDown(box);
    EXPECT_EQ(box->currentIndex(), index) << "without focus";
    EXPECT_GT(bar->value(), 0) << "the page scrolled";

    for (Qt::FocusReason given : {Qt::ActiveWindowFocusReason, Qt::TabFocusReason, Qt::OtherFocusReason}) {
        box->clearFocus();
        box->setFocus(given);
        ASSERT_TRUE(box->hasFocus());
        bar->setValue(0);
        wheelDown(box);
        EXPECT_EQ(box->currentIndex(), index) << "focus the program gave, reason " << given;
        EXPECT_GT(bar->value(), 0) << "the page scrolled, reason " << given;
    }
    EXPECT_EQ(activated.count(), 0);

    if (user == UserFocus::click) {
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, box->rect().center());
        // The popup's own activation is handled while it is open, as on a desktop.
        QCoreApplication::processEvents();
        box->hidePopup();
    } else {
        // Tab from the control before it in the focus chain.
        QWidget* before = box->previousInFocusChain();
        while (before && (before->focusPolicy() & Qt::TabFocus) != Qt::TabFocus) before = before->previousInFocusChain();
        ASSERT_TRUE(before);
        box->clearFocus();
        before->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(before, Qt::Key_Tab);
    }
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    ASSERT_TRUE(box->hasFocus());
    const int scrolled = bar->value();
    wheelDown(box);
    EXPECT_NE(box->currentIndex(), index) << "a box the user took up takes the wheel";
    EXPECT_EQ(bar->value(), scrolled);

    // Focus lost to another window and given back by the program ends the user's choice.
    const int now = box->currentIndex();
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(box, &out);
    QFocusEvent in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(box, &in);
    wheelDown(box);
    EXPECT_EQ(box->currentIndex(), now) << "after the window was activated again";
}

class WheelOverChoicesTest : public AppSandboxedTest {};

TEST_F(WheelOverChoicesTest, TheProfileBoxOfTheWindowsEraseSection) {
    WindowServices services;
    services.screens = [](AppSection section, MainWindow& window) -> QWidget* {
        return section == AppSection::eraseCard ? makeCardPrepView(window) : nullptr;
    };
    MainWindow window(services);
    window.resize(720, 480);
    window.show();
    window.select(AppSection::eraseCard);
    drainEvents();
    auto* profile = window.currentScreen()->findChild<QComboBox*>(QStringLiteral("erase.profile"));
    ASSERT_TRUE(profile);
    CardPrepViewModel& model = window.models().cardPrep();
    const QString chosen = model.selectedProfileID();
    expectWheelChangesOnlyAfterTheUser(profile, UserFocus::click);
    EXPECT_NE(model.selectedProfileID(), chosen) << "the focused change reaches the view model";
    EXPECT_EQ(model.selectedProfileID(), profile->currentData().toString());
}

TEST_F(WheelOverChoicesTest, TheFileSystemBoxOfTheReformatForm) {
    WheelGuard::install();
    DriveFormatViewModel::Dependencies deps;
    deps.backend.listCandidates = [] { return std::vector<tessaline::VolumeInfo>{{"/media/u/CARD", "CARD"}}; };
    deps.backend.inspect = [](const fs::path& path) {
        DriveFormatViewModel::Facts facts;
        facts.deviceIdentifier = "/dev/sdc1";
        facts.volumeName = "CARD";
        facts.mountPoint = path.string();
        facts.totalBytes = 31'900'000'000;
        facts.filesystem = "ExFAT";
        return facts;
    };
    deps.backend.route = [](const DriveFormatViewModel::Facts&) {
        return DriveFormatBackend::Route{DriveFormatBackend::Route::Kind::direct};
    };
    DriveFormatViewModel vm(deps);
    DriveFormatView view(vm);
    view.resize(720, 300);
    view.show();
    drainEvents();
    vm.setSelectedVolumePath(QStringLiteral("/media/u/CARD"));
    ASSERT_TRUE(waitFor([&] { return !vm.isBusy(); }));
    drainEvents();
    auto* box = view.findChild<QComboBox*>(QStringLiteral("format.fileSystem"));
    ASSERT_TRUE(box && box->isVisibleTo(&view));
    const auto format = vm.format();
    expectWheelChangesOnlyAfterTheUser(box, UserFocus::tab);
    EXPECT_NE(vm.format(), format) << "the focused change reaches the view model";
}

}  // namespace
}  // namespace brindlecove::testing
