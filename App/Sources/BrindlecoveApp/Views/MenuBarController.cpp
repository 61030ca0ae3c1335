#include "BrindlecoveApp/Views/MenuBarController.hpp"

#include "BrindlecoveApp/ViewModels/SyncManager.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

namespace brindlecove {

MenuBarController::MenuBarController(SyncManager& manager, std::function<void()> openWindow,
                                     std::function<void()> quit, QObject* parent)
    : QObject(parent),
      manager_(&manager),
      openWindow_(std::move(openWindow)),
      quit_(std::move(quit)),
      menu_(std::make_unique<QMenu>()) {
    menu_->setObjectName(QStringLiteral("trayMenu"));
    tray_ = new QSystemTrayIcon(this);
    tray_->setIcon(Symbols::icon(QStringLiteral("externaldrive.badge.checkmark")));
    tray_->setToolTip(QStringLiteral("Brindlecove"));
    tray_->setContextMenu(menu_.get());
    // XEmbed tray hosts do not open the menu on a left click; open it ourselves.
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            menu_->popup(QCursor::pos());
    });
    connect(menu_.get(), &QMenu::aboutToShow, this, [this] {
        if (rebuildPending_) rebuildNow();
    });
    connect(&manager, &SyncManager::changed, this, &MenuBarController::scheduleRebuild);
    rebuildNow();
    // On X11 the icon is asked for whether or not a tray host runs now: Qt docks it when a
    // host appears later (and again after a host restarts), so "a tray exists" always means
    // "the icon is there". Elsewhere a tray host is only looked for now.
    if (QGuiApplication::platformName() == QLatin1String("xcb") || isTrayAvailable()) tray_->show();
}

bool MenuBarController::isTrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

MenuBarController::~MenuBarController() = default;

QString MenuBarController::actionText(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
    escaped.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return escaped;
}

void MenuBarController::scheduleRebuild() {
    if (rebuildPending_) return;
    rebuildPending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (rebuildPending_) rebuildNow();
    });
}

void MenuBarController::rebuildNow() {
    rebuildPending_ = false;
    if (!manager_) return;
    items_ = MenuBarModel::build(MenuBarModel::snapshot(*manager_));
    menu_->clear();
    for (const MenuItem& item : items_) {
        if (item.kind == MenuItem::Kind::separator) {
            menu_->addSeparator();
            continue;
        }
        QAction* action = menu_->addAction(actionText(item.text));
        action->setEnabled(item.enabled);
        if (item.kind == MenuItem::Kind::toggle) {
            action->setCheckable(true);
            action->setChecked(item.checked);
        }
        if (item.kind == MenuItem::Kind::text) continue;
        connect(action, &QAction::triggered, this, [this, item](bool checked) { perform(item, checked); });
    }
}

void MenuBarController::perform(const MenuItem& item, bool checked) {
    if (!manager_) return;
    SyncManager& manager = *manager_;
    auto runPair = [&manager](const QString& name) {
        manager.setPendingPrompt(std::nullopt);
        if (const auto& coordinator = manager.coordinator()) coordinator->runPreset(name.toStdString());
    };
    switch (item.command) {
        case MenuCommand::none: break;
        case MenuCommand::runPromptedPair:
            // Every inserted card of the pair, not only the first one listed.
            manager.setPendingPrompt(std::nullopt);
            manager.runPromptedPair(item.argument);
            break;
        case MenuCommand::runPreset: runPair(item.argument); break;
        case MenuCommand::dismissPrompt: manager.setPendingPrompt(std::nullopt); break;
        case MenuCommand::setWatchDrives: manager.setEnabled(checked); break;
        case MenuCommand::setAutoRunOnMount: manager.setAutoRunOnMount(checked); break;
        case MenuCommand::setScheduledSync: manager.setScheduledSyncEnabled(checked); break;
        case MenuCommand::syncAllNow: manager.runScheduledNow(false); break;
        case MenuCommand::enableLaunchAtLogin: manager.setLaunchAtLogin(true); break;
        case MenuCommand::openWindow:
            if (openWindow_) openWindow_();
            break;
        case MenuCommand::quit:
            if (quit_) quit_();
            break;
    }
}

}  // namespace brindlecove
