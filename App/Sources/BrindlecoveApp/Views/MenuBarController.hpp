#pragma once
// The menu-bar extra: a tray icon titled "Brindlecove" whose menu is rendered from
// MenuBarModel. The menu is rebuilt deferred and coalesced whenever the sync manager changes
// (a button that clears the prompt must not delete its own QAction inside its slot), and
// refilled in place, never replaced. On X11 the icon is always asked for: without a tray host
// the menu still exists (tests use it) and the icon appears when a host arrives. Main thread.

#include "BrindlecoveApp/ViewModels/MenuBarModel.hpp"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace brindlecove {

class SyncManager;

class MenuBarController : public QObject {
    Q_OBJECT
public:
    MenuBarController(SyncManager& manager, std::function<void()> openWindow, std::function<void()> quit,
                      QObject* parent = nullptr);
    ~MenuBarController() override;

    QMenu* menu() const { return menu_.get(); }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    // The items the menu shows now.
    const std::vector<MenuItem>& items() const { return items_; }
    // Rebuilds at once (normally the rebuild waits for the event loop).
    void rebuildNow();
    // Runs one item's command as a click would.
    void perform(const MenuItem& item, bool checked);

    // Whether a tray host is there to show the icon now (the icon then is shown).
    static bool isTrayAvailable();

    // Text for a QAction: "&" doubled (else it marks a shortcut) and tabs turned into blanks
    // (a tab starts the shortcut column).
    static QString actionText(const QString& text);

private:
    void scheduleRebuild();

    QPointer<SyncManager> manager_;
    std::function<void()> openWindow_;
    std::function<void()> quit_;
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* tray_ = nullptr;
    std::vector<MenuItem> items_;
    bool rebuildPending_ = false;
};

}  // namespace brindlecove
