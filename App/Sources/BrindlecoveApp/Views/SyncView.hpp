#pragma once
// The Sync section: the prompt for an inserted card (first, while there is one), the
// switches, the pairs syncing now with how far each is (while any runs), the sync pairs with their switches and removal, the daily schedule with "Sync
// Now" and the login item, today's totals, the recent activity and the configuration file's
// path. It holds no sync logic: it shows the sync manager's state and calls its operations.
// Every change of the manager is applied in a later turn of the event loop, so a pair's
// switch or trash button, or a prompt button, is never deleted while its own click is
// handled. Main thread.

#include "BrindlecoveApp/Views/AddSyncPairSheet.hpp"
#include "BrindlecoveApp/Views/RenderCoalescer.hpp"

#include "Tessaline/Sync/SyncReport.hpp"

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <optional>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace brindlecove {

class MainWindow;
class SyncManager;

class SyncView : public QWidget {
    Q_OBJECT
public:
    SyncView(SyncManager& manager, AddSyncPairSheet::Dependencies sheetDependencies, QWidget* parent = nullptr);

    // Opens the add-pair sheet (or raises the one already open); its pair goes to the manager.
    AddSyncPairSheet* openAddSheet();
    AddSyncPairSheet* addSheet() const { return sheet_; }
    // Applies the manager's state now instead of in the next turn of the event loop.
    void renderNow();

private:
    QGroupBox* box(const QString& title, const QString& name);
    QWidget* makePairRow(const tessaline::SyncPair& pair);
    void scheduleRender();
    void render();
    void renderPrompt();
    void renderPairs();
    void renderToday();
    void renderRunning();
    void runPreset(const QString& name);

    SyncManager& manager_;
    AddSyncPairSheet::Dependencies sheetDependencies_;
    QPointer<AddSyncPairSheet> sheet_;
    std::vector<tessaline::SyncPair> shownPairs_;
    std::optional<tessaline::SyncReport> shownToday_;
    QTimer renderTimer_;
    QVBoxLayout* content_ = nullptr;
    QGroupBox* promptBox_ = nullptr;
    QVBoxLayout* promptLayout_ = nullptr;
    QCheckBox* enabled_ = nullptr;
    QCheckBox* autoRun_ = nullptr;
    QGroupBox* runningBox_ = nullptr;
    QVBoxLayout* runningLayout_ = nullptr;
    QStringList shownRunning_;  // the pair names of the running rows, in order
    RenderCoalescer runningRender_{this, [this] { renderRunning(); }};
    QVBoxLayout* pairsLayout_ = nullptr;
    QLabel* noPairs_ = nullptr;
    QCheckBox* scheduled_ = nullptr;
    QPushButton* syncNow_ = nullptr;
    QWidget* lastRunRow_ = nullptr;
    QLabel* lastRun_ = nullptr;
    QLabel* loginStatus_ = nullptr;
    QVBoxLayout* todayLayout_ = nullptr;
    QLabel* activity_ = nullptr;
    QLabel* noActivity_ = nullptr;
    QLabel* configPath_ = nullptr;
};

// Builds the section's screen for `window` (which owns the result).
QWidget* makeSyncView(MainWindow& window);

}  // namespace brindlecove
