#pragma once
// One main window: a sidebar of the eight sections and a detail area showing the selected
// section's screen, built afresh on every selection change from the window's own view
// models and the application's shared stores. The window is deleted when closed, and its
// view models with it. While a run is in progress the close asks first, so a run's report
// or transfer log is never dropped by a stray click; while a run that cannot be stopped is in
// progress (a reformat), the window says so and stays open until it has finished. Ctrl+Q quits
// the application as the tray's Quit does. Main thread.

#include "BrindlecoveApp/AppSection.hpp"
#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/Platform/FileRevealer.hpp"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QListWidget;
class QStackedWidget;

namespace brindlecove {

class LogStore;
class ProjectStore;
class SyncManager;
class MainWindow;
class WindowModels;

// A run that may be in progress in a window (a scan, a copy, an erase, a rescue copy).
struct RunWatch {
    std::function<std::optional<QString>()> runningNoun;  // "scan", "copy", ... while running
    std::function<void()> stop;                             // sets the run's cancellation flag
    // "reformat", ... while a run that cannot be stopped is in progress: the window then
    // stays open until it has finished.
    std::function<std::optional<QString>()> unstoppableNoun = {};
};

// Builds the screen of a section for a window; the window owns the result.
using ScreenFactory = std::function<QWidget*(AppSection section, MainWindow& window)>;

// What every window shares: the application's stores and services.
struct WindowServices {
    SyncManager* syncManager = nullptr;
    LogStore* logStore = nullptr;
    ProjectStore* projectStore = nullptr;
    Dialogs dialogs;
    FileRevealer revealer;
    ScreenFactory screens;  // none: a placeholder for every section
    std::function<void()> quit;  // ends the application (Ctrl+Q); none: the key does nothing
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(WindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    const WindowServices& services() const { return services_; }
    // The window's own view models (scan, rescue copy, copy, erase, reformat).
    WindowModels& models() { return *models_; }
    std::optional<AppSection> selection() const { return selection_; }
    void select(std::optional<AppSection> section);
    // The screen shown in the detail area (the empty state when nothing is selected).
    QWidget* currentScreen() const { return screen_; }

    // Registers a run of this window's view models for the close check; stopped runs of
    // every watch are cancelled when the window goes.
    void addRunWatch(RunWatch watch);
    // Stops every run of this window (used by quit and by a confirmed close).
    void stopAllRuns();

Q_SIGNALS:
    void selectionChanged();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showScreen();
    QWidget* makeEmptyState();

    WindowServices services_;
    std::unique_ptr<WindowModels> models_;
    std::optional<AppSection> selection_;
    QListWidget* sidebar_ = nullptr;
    QWidget* detail_ = nullptr;
    QWidget* screen_ = nullptr;
    std::vector<RunWatch> runs_;
};

}  // namespace brindlecove
