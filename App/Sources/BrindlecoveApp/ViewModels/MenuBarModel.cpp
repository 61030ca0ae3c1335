#include "BrindlecoveApp/ViewModels/MenuBarModel.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/ViewModels/SyncManager.hpp"

namespace brindlecove {

namespace {

MenuItem text(const QString& line) { return {MenuItem::Kind::text, line, false}; }
MenuItem separator() { return {MenuItem::Kind::separator, {}, true}; }
MenuItem button(const QString& label, MenuCommand command, const QString& argument = {}, bool enabled = true) {
    return {MenuItem::Kind::button, label, enabled, false, command, argument};
}
MenuItem toggle(const QString& label, bool checked, MenuCommand command) {
    return {MenuItem::Kind::toggle, label, true, checked, command, {}};
}
QString quoted(const QString& name) { return QStringLiteral("“") + name + QStringLiteral("”"); }

}  // namespace

MenuBarSnapshot MenuBarModel::snapshot(const SyncManager& manager) {
    MenuBarSnapshot s;
    if (const auto& report = manager.todayReport())
        s.today = MenuBarSnapshot::TodayTotals{static_cast<int>(report->runs.size()), report->newFiles(),
                                               report->existingFiles(), report->failedVerifications()};
    if (const auto& prompt = manager.pendingPrompt())
        s.pendingPrompt = MenuBarSnapshot::Prompt{prompt->cardLabel, prompt->pairNames};
    s.watchDrives = manager.enabled();
    s.autoRunOnMount = manager.autoRunOnMount();
    s.scheduledSyncEnabled = manager.scheduledSyncEnabled();
    for (const auto& pair : manager.pairs())
        s.pairs.push_back({QString::fromStdString(pair.name), pair.enabled});
    s.lastScheduledRun = manager.lastScheduledRun();
    s.launchAtLoginStatus = manager.launchAtLoginStatus();
    return s;
}

std::vector<MenuItem> MenuBarModel::build(const MenuBarSnapshot& s) {
    std::vector<MenuItem> items;
    if (s.today && s.today->runCount > 0)
        items.push_back(text(QStringLiteral("Today: %1 · %2 present · %3 failed")
                                 .arg(Formats::count(s.today->newFiles, "new file", "new files"))
                                 .arg(Formats::groupedInteger(s.today->existingFiles))
                                 .arg(Formats::groupedInteger(s.today->failedVerifications))));
    else
        items.push_back(text(QStringLiteral("No syncs yet today")));

    if (s.pendingPrompt) {
        items.push_back(separator());
        items.push_back(text(QStringLiteral("💡 ") + quoted(s.pendingPrompt->cardLabel) + QStringLiteral(" inserted")));
        for (const QString& name : s.pendingPrompt->pairNames)
            items.push_back(button(QStringLiteral("Run ") + quoted(name) + QStringLiteral(" now"),
                                   MenuCommand::runPromptedPair, name));
        items.push_back(button(QStringLiteral("Dismiss"), MenuCommand::dismissPrompt));
    }

    items.push_back(separator());
    items.push_back(toggle(QStringLiteral("Watch drives"), s.watchDrives, MenuCommand::setWatchDrives));
    items.push_back(toggle(QStringLiteral("Auto-sync on insert (off = prompt me)"), s.autoRunOnMount,
                           MenuCommand::setAutoRunOnMount));
    items.push_back(
        toggle(QStringLiteral("Scheduled daily sync"), s.scheduledSyncEnabled, MenuCommand::setScheduledSync));

    if (!s.pairs.empty()) {
        items.push_back(separator());
        items.push_back(text(QStringLiteral("Presets")));
        for (const auto& pair : s.pairs)
            if (pair.enabled)
                items.push_back(button(QStringLiteral("Run ") + quoted(pair.name), MenuCommand::runPreset, pair.name));
    }
    items.push_back(button(QStringLiteral("Sync All Now"), MenuCommand::syncAllNow, {}, !s.pairs.empty()));

    items.push_back(separator());
    if (s.lastScheduledRun)
        items.push_back(
            text(QStringLiteral("Last scheduled run: ") + Formats::abbreviatedDateShortTime(*s.lastScheduledRun)));
    items.push_back(text(QStringLiteral("Launch at login: ") + s.launchAtLoginStatus));
    items.push_back(button(QStringLiteral("Enable Launch at Login"), MenuCommand::enableLaunchAtLogin));

    items.push_back(separator());
    items.push_back(button(QStringLiteral("Open Brindlecove"), MenuCommand::openWindow));
    items.push_back(button(QStringLiteral("Quit Brindlecove"), MenuCommand::quit));
    return items;
}

}  // namespace brindlecove
