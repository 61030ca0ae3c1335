#include "BrindlecoveApp/Main/AppContext.hpp"

#include "BrindlecoveApp/ViewModels/LogStore.hpp"
#include "BrindlecoveApp/ViewModels/ProjectStore.hpp"
#include "BrindlecoveApp/ViewModels/SyncManager.hpp"
#include "BrindlecoveApp/Views/CardPrepView.hpp"
#include "BrindlecoveApp/Views/CopyView.hpp"
#include "BrindlecoveApp/Views/DesktopFileRevealer.hpp"
#include "BrindlecoveApp/Views/LogsView.hpp"
#include "BrindlecoveApp/Views/MenuBarController.hpp"
#include "BrindlecoveApp/Views/ProductionLogView.hpp"
#include "BrindlecoveApp/Views/ReportView.hpp"
#include "BrindlecoveApp/Views/ScanView.hpp"
#include "BrindlecoveApp/Views/SettingsView.hpp"
#include "BrindlecoveApp/Views/SyncView.hpp"
#include "BrindlecoveApp/Views/WidgetDialogs.hpp"

#include <QApplication>

namespace brindlecove {

AppContext::AppContext() : AppContext(Options{}) {}

AppContext::AppContext(Options options, QObject* parent) : QObject(parent), options_(std::move(options)) {
    if (!options_.dialogs.chooseFolder || !options_.dialogs.confirm) options_.dialogs = widgetDialogs();
    if (!options_.dialogs.saveFile) options_.dialogs.saveFile = widgetDialogs().saveFile;
    if (!options_.revealer.reveal || !options_.revealer.open) options_.revealer = desktopFileRevealer();
    if (options_.syncManager) {
        syncManager_ = options_.syncManager;
    } else {
        ownedSyncManager_ = std::make_unique<SyncManager>();
        syncManager_ = ownedSyncManager_.get();
    }
    logStore_ = std::make_unique<LogStore>();
    projectStore_ = std::make_unique<ProjectStore>();
    menuBar_ = std::make_unique<MenuBarController>(
        *syncManager_, [this] { openMainWindow(); }, [this] { quit(); });
    connect(qApp, &QGuiApplication::lastWindowClosed, this, &AppContext::lastWindowClosed);
    // While no window is open, the tray host is looked for now and then: losing it would
    // leave the process unseen.
    trayWatch_.setInterval(trayWatchMilliseconds);
    connect(&trayWatch_, &QTimer::timeout, this, &AppContext::checkTrayWithoutWindow);
}

AppContext::~AppContext() {
    for (const auto& window : windows_)
        if (window) delete window.data();
}

QList<MainWindow*> AppContext::windows() const {
    QList<MainWindow*> open;
    for (const auto& window : windows_)
        if (window) open.append(window.data());
    return open;
}

MainWindow* AppContext::openMainWindow() {
    QList<MainWindow*> open = windows();
    if (!open.isEmpty()) {
        MainWindow* window = open.back();
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->activateWindow();
        return window;
    }
    WindowServices services;
    services.syncManager = syncManager_;
    services.logStore = logStore_.get();
    services.projectStore = projectStore_.get();
    services.dialogs = options_.dialogs;
    services.revealer = options_.revealer;
    services.screens = [this](AppSection section, MainWindow& window) { return makeScreen(section, window); };
    services.quit = [this] { quit(); };
    auto* window = new MainWindow(std::move(services));
    windows_.append(QPointer<MainWindow>(window));
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

QWidget* AppContext::makeScreen(AppSection section, MainWindow& window) {
    switch (section) {
    case AppSection::scan: return makeScanView(window);
    case AppSection::report: return makeReportView(window);
    case AppSection::copy: return makeCopyView(window);
    case AppSection::productionLog: return makeProductionLogView(window);
    case AppSection::sync: return makeSyncView(window);
    case AppSection::eraseCard: return makeCardPrepView(window);
    case AppSection::logs: return makeLogsView(window);
    case AppSection::settings: return new SettingsView(window.services().dialogs);
    }
    return nullptr;  // the window shows the section's placeholder
}

void AppContext::quit() {
    for (MainWindow* window : windows()) window->stopAllRuns();
    // exit() rather than quit(): quit() sends close events, and a window could veto them.
    QCoreApplication::exit(0);
}

bool AppContext::anyWindowVisible() const {
    for (MainWindow* window : windows())
        if (window->isVisible()) return true;
    return false;
}

void AppContext::lastWindowClosed() {
    if (anyWindowVisible() || !options_.quitWithoutTray) return;
    // Without a tray host nothing would be left to reopen a window or quit: an invisible
    // process would go on syncing. End instead; a later launch starts afresh. The icon is
    // shown whenever a host exists, so the same fact decides both.
    if (!MenuBarController::isTrayAvailable()) {
        qInfo("Brindlecove: no system tray is available, so closing the last window quits.");
        quit();
        return;
    }
    trayWatch_.start();
}

void AppContext::checkTrayWithoutWindow() {
    if (anyWindowVisible()) {
        trayWatch_.stop();
        return;
    }
    if (MenuBarController::isTrayAvailable()) return;
    // The tray host went away with no window open: show the window again rather than go on
    // unseen (a panel that restarts brings the icon back; the window can then be closed).
    trayWatch_.stop();
    qInfo("Brindlecove: the system tray went away, so the window is shown again.");
    openMainWindow();
}

}  // namespace brindlecove
