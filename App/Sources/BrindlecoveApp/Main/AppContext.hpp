#pragma once
// The running application: the three stores that live for the whole run (sync manager, log
// store, job store, created in that order), the menu-bar extra, and the main windows. With
// no window open the tray, the mount watching and the daily schedule go on. Quitting never
// asks a window: every run is stopped and the event loop ends. Main thread.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace brindlecove {

class LogStore;
class MenuBarController;
class ProjectStore;
class SyncManager;

class AppContext : public QObject {
    Q_OBJECT
public:
    struct Options {
        Dialogs dialogs;                 // none: the real panels
        FileRevealer revealer;           // none: the desktop's file manager
        SyncManager* syncManager = nullptr;  // none: made here (tests pass their own)
        bool quitWithoutTray = true;     // never run unseen: without a tray, closing the last window
                                         // quits, and losing the tray with no window reopens one
    };

    AppContext();
    explicit AppContext(Options options, QObject* parent = nullptr);
    ~AppContext() override;

    SyncManager& syncManager() { return *syncManager_; }
    LogStore& logStore() { return *logStore_; }
    ProjectStore& projectStore() { return *projectStore_; }
    MenuBarController& menuBar() { return *menuBar_; }

    // Raises the most recent main window, or opens a new one on Scan when none is open.
    MainWindow* openMainWindow();
    QList<MainWindow*> windows() const;
    // Builds each section's screen for a window.
    QWidget* makeScreen(AppSection section, MainWindow& window);

    // Stops every run of every window and ends the event loop; nothing can veto it.
    void quit();

    // How often the tray host is looked for while no window is open.
    static constexpr int trayWatchMilliseconds = 2000;

private:
    bool anyWindowVisible() const;
    void lastWindowClosed();
    void checkTrayWithoutWindow();

    Options options_;
    std::unique_ptr<SyncManager> ownedSyncManager_;
    SyncManager* syncManager_ = nullptr;
    std::unique_ptr<LogStore> logStore_;
    std::unique_ptr<ProjectStore> projectStore_;
    std::unique_ptr<MenuBarController> menuBar_;
    QList<QPointer<MainWindow>> windows_;
    QTimer trayWatch_;
};

}  // namespace brindlecove
