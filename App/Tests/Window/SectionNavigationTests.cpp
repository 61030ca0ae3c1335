#include "BrindlecoveApp/AppSection.hpp"
#include "BrindlecoveApp/Main/AppContext.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"
#include "BrindlecoveApp/Views/SettingsView.hpp"
#include "Support/AppTestSandbox.hpp"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QListWidget>

#include <gtest/gtest.h>

using namespace brindlecove;

namespace {

class SectionNavigation : public brindlecove::testing::AppSandboxedTest {
protected:
    Dialogs answering(bool confirm, int* asked = nullptr) {
        Dialogs dialogs;
        dialogs.chooseFolder = [](const FolderRequest&) { return std::optional<QString>(); };
        dialogs.confirm = [confirm, asked](const Confirmation&) {
            if (asked) ++*asked;
            return confirm;
        };
        return dialogs;
    }

    MainWindow* makeWindow(Dialogs dialogs) {
        WindowServices services;
        services.dialogs = std::move(dialogs);
        return new MainWindow(std::move(services));
    }
};

QStringList sidebarTexts(MainWindow& window) {
    auto* sidebar = window.findChild<QListWidget*>(QStringLiteral("sidebar"));
    QStringList texts;
    for (int i = 0; i < sidebar->count(); ++i) texts << sidebar->item(i)->text();
    return texts;
}

}  // namespace

TEST(AppSection, LabelsSymbolsAndExactLookup) {
    QStringList labels, symbols;
    for (AppSection section : allAppSections) {
        labels << rawValue(section);
        symbols << symbolName(section);
    }
    EXPECT_EQ(labels, (QStringList{"Scan", "Report", "Copy", "Production Log", "Sync", "Erase Card", "Logs",
                                   "Settings"}));
    EXPECT_EQ(symbols, (QStringList{"externaldrive.badge.checkmark", "list.bullet.clipboard", "doc.on.doc.fill",
                                    "doc.badge.gearshape", "arrow.triangle.2.circlepath", "eraser.fill",
                                    "clock.arrow.circlepath", "gearshape"}));
    EXPECT_EQ(appSectionFromRaw(QStringLiteral("Production Log")), AppSection::productionLog);
    EXPECT_EQ(appSectionFromRaw(QStringLiteral("production log")), std::nullopt);
    EXPECT_EQ(appSectionFromRaw(QStringLiteral("ProductionLog")), std::nullopt);
    EXPECT_EQ(appSectionFromRaw(QStringLiteral("Production Log ")), std::nullopt);
}

TEST_F(SectionNavigation, WindowOpensOnScanWithEightSectionsInOrder) {
    std::unique_ptr<MainWindow> window(makeWindow(answering(true)));
    EXPECT_EQ(window->objectName(), QStringLiteral("main"));
    EXPECT_GE(window->minimumWidth(), 720);
    EXPECT_GE(window->minimumHeight(), 480);
    EXPECT_EQ(sidebarTexts(*window), (QStringList{"Scan", "Report", "Copy", "Production Log", "Sync", "Erase Card",
                                                  "Logs", "Settings"}));
    auto* sidebar = window->findChild<QListWidget*>(QStringLiteral("sidebar"));
    for (int i = 0; i < sidebar->count(); ++i)
        EXPECT_EQ(sidebar->item(i)->data(Qt::UserRole + 1).toString(), symbolName(allAppSections[size_t(i)]));
    EXPECT_EQ(window->selection(), AppSection::scan);
    auto* line = window->currentScreen()->findChild<QLabel*>(QStringLiteral("screen.purpose"));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text(), purpose(AppSection::scan));
}

TEST_F(SectionNavigation, EverySectionShowsItsScreenAndNoneShowsTheEmptyState) {
    std::unique_ptr<MainWindow> window(makeWindow(answering(true)));
    for (AppSection section : allAppSections) {
        window->select(section);
        ASSERT_EQ(window->selection(), section);
        auto* title = window->currentScreen()->findChild<QLabel*>(QStringLiteral("screen.title"));
        ASSERT_NE(title, nullptr) << rawValue(section).toStdString();
        EXPECT_EQ(title->text(), rawValue(section));
    }
    window->select(std::nullopt);
    EXPECT_EQ(window->selection(), std::nullopt);
    EXPECT_EQ(window->currentScreen()->objectName(), QStringLiteral("emptyState"));
    auto* text = window->currentScreen()->findChild<QLabel*>(QStringLiteral("emptyState.title"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text(), QStringLiteral("Select a section"));
    // A new window starts on Scan whatever another one shows.
    window->select(AppSection::logs);
    std::unique_ptr<MainWindow> second(makeWindow(answering(true)));
    EXPECT_EQ(second->selection(), AppSection::scan);
}

TEST_F(SectionNavigation, ClosingAsksOnlyWhileARunIsInProgress) {
    int asked = 0;
    bool running = true, stopped = false;
    QPointer<MainWindow> window(makeWindow(answering(false, &asked)));
    window->addRunWatch({[&]() -> std::optional<QString> {
                             return running ? std::optional<QString>(QStringLiteral("copy")) : std::nullopt;
                         },
                         [&] { stopped = true; }});
    window->show();
    EXPECT_FALSE(window->close());  // the user kept the run: the window stays
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(stopped);
    ASSERT_TRUE(window);

    running = false;
    EXPECT_TRUE(window->close());  // nothing runs: no question
    EXPECT_EQ(asked, 1);
    drainEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());  // deleted on close, with its view models
}

TEST_F(SectionNavigation, ConfirmedCloseStopsTheRun) {
    bool stopped = false;
    QPointer<MainWindow> window(makeWindow(answering(true)));
    window->addRunWatch({[]() { return std::optional<QString>(QStringLiteral("scan")); }, [&] { stopped = true; }});
    window->show();
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(stopped);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

TEST_F(SectionNavigation, OpenRaisesTheWindowOrMakesANewOneOnScan) {
    AppContext::Options options;
    options.dialogs = answering(true);
    options.quitWithoutTray = false;
    AppContext context(std::move(options));
    MainWindow* first = context.openMainWindow();
    first->select(AppSection::logs);
    EXPECT_EQ(context.openMainWindow(), first);  // raised, not duplicated
    EXPECT_EQ(context.windows().size(), 1);
    EXPECT_EQ(first->selection(), AppSection::logs);

    QPointer<MainWindow> gone(first);
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(gone.isNull());
    EXPECT_TRUE(context.windows().isEmpty());

    MainWindow* again = context.openMainWindow();
    EXPECT_NE(again, nullptr);
    EXPECT_EQ(again->selection(), AppSection::scan);
    // Settings is a real screen, not a placeholder.
    again->select(AppSection::settings);
    EXPECT_NE(qobject_cast<SettingsView*>(again->currentScreen()), nullptr);
}
