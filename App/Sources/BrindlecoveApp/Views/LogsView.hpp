#pragma once
// The Logs section: the log archive by date or by job. A header bar (the grouping picker and
// the menu of the job new logs are filed under), the list (or the empty state when there are
// neither logs nor jobs, or while the archive's first listing runs) and the saving bar (where logs are saved, "Reveal", "Change…").
// A click on a row opens the log's main file; its context menu opens, reveals, refiles or
// deletes it. The list is re-listed when the section is shown and follows the log and job
// stores; every rebuild runs in a later turn of the event loop, so a menu entry or button
// that changed the stores is never deleted while its own signal runs. Main thread.

#include "BrindlecoveApp/ViewModels/LogsModel.hpp"

#include <QTimer>
#include <QWidget>

#include <optional>

class QButtonGroup;
class QLabel;
class QMenu;
class QStackedWidget;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace brindlecove {

class ElidedLabel;
class EmptyStateView;
class MainWindow;
class NewJobDialog;

class LogsView : public QWidget {
    Q_OBJECT
public:
    LogsView(LogStore& store, ProjectStore& projects, LogsModel::Dependencies dependencies,
             QWidget* parent = nullptr);

    LogsModel& model() { return model_; }
    QTreeWidget* list() const { return list_; }

    // The context menu of a row (owned by the caller; the view shows it on a right click).
    QMenu* makeRowMenu(const tessaline::ArchivedLog& log);
    // Opens the "New Job" question for a log to file under the new job, or none.
    NewJobDialog* openNewJob(std::optional<tessaline::ArchivedLog> logToMove);
    // Applies the stores' state now instead of in the next turn of the event loop.
    void renderNow();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeHeaderBar();
    QWidget* makeSavingBar();
    QWidget* makeJobHeader(const LogsModel::Section& section);
    void scheduleRender();
    void render();
    void renderActiveJobMenu();
    void renderList();
    void showRowMenu(const QPoint& position);
    void openItem(QTreeWidgetItem* item);
    std::optional<tessaline::ArchivedLog> logOf(const QTreeWidgetItem* item) const;

    LogsModel model_;
    QTimer renderTimer_;
    QButtonGroup* modeGroup_ = nullptr;
    QToolButton* activeJob_ = nullptr;
    QMenu* activeJobMenu_ = nullptr;
    QStackedWidget* content_ = nullptr;
    EmptyStateView* empty_ = nullptr;
    QTreeWidget* list_ = nullptr;
    ElidedLabel* folderPath_ = nullptr;
    QLabel* filingNotice_ = nullptr;  // where the latest log went when it could not be saved here
    QLabel* message_ = nullptr;       // what the latest open, reveal or change could not do
};

// Builds the section's screen for `window` (which owns the result).
QWidget* makeLogsView(MainWindow& window);

}  // namespace brindlecove
