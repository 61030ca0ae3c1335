#pragma once
// The menu-bar extra's items as plain data, built from a snapshot of the sync manager, so the
// tray menu is a pure function of state: tests read it without a tray, and the controller
// renders it into a QMenu. Main thread.

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace brindlecove {

// What the menu shows of the sync manager at one moment.
struct MenuBarSnapshot {
    struct TodayTotals {
        int runCount = 0;
        int newFiles = 0;
        int existingFiles = 0;
        int failedVerifications = 0;
    };
    struct Prompt {
        QString cardLabel;
        QStringList pairNames;
    };
    struct Pair {
        QString name;
        bool enabled = true;
    };

    std::optional<TodayTotals> today;
    std::optional<Prompt> pendingPrompt;
    bool watchDrives = true;
    bool autoRunOnMount = true;
    bool scheduledSyncEnabled = false;
    std::vector<Pair> pairs;
    std::optional<QDateTime> lastScheduledRun;
    QString launchAtLoginStatus = QStringLiteral("—");
};

enum class MenuCommand {
    none,
    runPromptedPair,  // argument: pair name; clears the prompt first
    dismissPrompt,
    setWatchDrives,   // toggles carry the new state in `checked`
    setAutoRunOnMount,
    setScheduledSync,
    runPreset,        // argument: pair name; clears the prompt first
    syncAllNow,
    enableLaunchAtLogin,
    openWindow,
    quit,
};

struct MenuItem {
    enum class Kind { text, toggle, button, separator };
    Kind kind = Kind::text;
    QString text;  // as people read it; the controller escapes "&" for QAction
    bool enabled = true;
    bool checked = false;
    MenuCommand command = MenuCommand::none;
    QString argument;

    friend bool operator==(const MenuItem&, const MenuItem&) = default;
};

class SyncManager;

struct MenuBarModel {
    // The sync manager's fields as the menu shows them.
    static MenuBarSnapshot snapshot(const SyncManager& manager);

    // The items from top to bottom: today's line, the prompt, the three switches, the presets,
    // Sync All Now, the schedule and login lines, Open and Quit.
    static std::vector<MenuItem> build(const MenuBarSnapshot& snapshot);
};

}  // namespace brindlecove
