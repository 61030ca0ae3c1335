// The Copy and Production Log sections inside a main window: both read the window's one
// CopyViewModel, a copy keeps running while the user looks at other sections, the close
// check knows about it, and the Production Log shows the copy's log when it ends.

#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/CopyView.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/ProductionLogView.hpp"
#include "Support/AppTestSandbox.hpp"

#include <QLabel>
#include <QPushButton>

#include <deque>

#include <gtest/gtest.h>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;
using tessaline::testing::writePatternFile;
namespace fs = std::filesystem;

class CopySectionsInWindow : public AppSandboxedTest {};

TEST_F(CopySectionsInWindow, ACopyRunsOnAcrossSectionsAndItsLogReachesTheProductionLog) {
    const auto& folder = sandbox;
    for (int i = 0; i < 3; ++i) writePatternFile(folder / ("card/DCIM/C" + std::to_string(i) + ".MP4"), 30'000 + i, 3);
    auto answers = std::make_shared<std::deque<QString>>(
        std::deque<QString>{qpath(folder / "card"), qpath(folder / "drive")});
    WindowServices services;
    services.dialogs.chooseFolder = [answers](const FolderRequest&) -> std::optional<QString> {
        if (answers->empty()) return std::nullopt;
        QString answer = answers->front();
        answers->pop_front();
        return answer;
    };
    services.dialogs.confirm = [](const Confirmation&) { return true; };
    services.screens = [](AppSection section, MainWindow& window) -> QWidget* {
        if (section == AppSection::copy) return makeCopyView(window);
        if (section == AppSection::productionLog) return makeProductionLogView(window);
        return nullptr;
    };
    MainWindow window(std::move(services));
    window.select(AppSection::productionLog);
    ASSERT_TRUE(qobject_cast<ProductionLogView*>(window.currentScreen()));
    EXPECT_EQ(window.currentScreen()->findChild<QLabel*>("emptyState.title")->text(), "No Transfer Yet");

    window.select(AppSection::copy);
    ASSERT_TRUE(qobject_cast<CopyView*>(window.currentScreen()));
    window.currentScreen()->findChild<QPushButton*>("copy.chooseCard")->click();
    window.currentScreen()->findChild<QPushButton*>("copy.chooseDestination")->click();
    drainEvents();
    window.currentScreen()->findChild<QPushButton*>("copy.start")->click();
    CopyViewModel& model = window.models().copy();
    EXPECT_TRUE(model.isRunning());
    EXPECT_EQ(window.models().runningNoun(), QStringLiteral("copy"));

    // Away and back while the card settles: the rebuilt screen shows the running copy.
    window.select(AppSection::productionLog);
    drainEvents();
    window.select(AppSection::copy);
    drainEvents();
    EXPECT_TRUE(window.currentScreen()->findChild<QPushButton*>("copy.stop")->isVisibleTo(window.currentScreen()));
    window.select(AppSection::productionLog);
    ASSERT_TRUE(waitFor([&] { return !model.isRunning(); }, 60'000));
    drainEvents();
    EXPECT_FALSE(window.models().runningNoun());
    ASSERT_TRUE(model.lastLog());
    EXPECT_EQ(window.currentScreen()->findChild<QLabel*>("banner.title")->text(), "All 3 files verified byte-for-byte");
    EXPECT_EQ(window.currentScreen()->findChild<QLabel*>("productionLog.filesHeader")->text(), "Files (3)");
    drainEvents();
}
