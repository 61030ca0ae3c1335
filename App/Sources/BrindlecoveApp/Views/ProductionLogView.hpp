#pragma once
// The Production Log section: the window's latest transfer (a verified copy or a rescue copy,
// whichever finished last) as a verdict a crew can act on (safe to reuse the card, or not
// yet), a per-file list with checksums, and exports of the log (ASC MHL, PDF, CSV, JSON one
// at a time, or all four into a folder). Reads only LatestTransfer's lastLog; the log being exported is captured when the menu entry fires,
// before any panel opens, so a copy finishing meanwhile never changes what is written.
// Exports run on the main thread and write each file atomically. Main thread.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/TransferLogFiles.hpp"
#include "BrindlecoveApp/Views/RenderCoalescer.hpp"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class QHBoxLayout;
class QLabel;
class QListView;
class QMessageBox;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace tessaline {
struct TransferLog;
}

namespace brindlecove {

class LatestTransfer;
class MainWindow;
class ProportionBar;
class TransferOutcomeDelegate;
class TransferOutcomeListModel;

class ProductionLogView : public QWidget {
    Q_OBJECT
public:
    ProductionLogView(LatestTransfer& model, Dialogs dialogs, TransferLogFiles files = TransferLogFiles(),
                      QWidget* parent = nullptr);

    // Shows the view model's last log now (changes are otherwise rendered once per turn).
    void render();

    // Exports `log` through a save panel, or all four files into a chosen folder. A cancelled
    // panel does nothing; a failure is shown in the "Export Failed" alert.
    void exportOne(std::shared_ptr<const tessaline::TransferLog> log, TransferLogFiles::Artifact artifact);
    void exportAll(std::shared_ptr<const tessaline::TransferLog> log);

    // The failure the alert shows, until its "OK".
    const std::optional<QString>& exportError() const { return exportError_; }

private:
    void showLog(const std::shared_ptr<const tessaline::TransferLog>& log);
    void showExportError(const QString& message);

    LatestTransfer& model_;
    Dialogs dialogs_;
    TransferLogFiles files_;
    RenderCoalescer coalescer_;
    std::shared_ptr<const tessaline::TransferLog> shown_;
    std::optional<QString> exportError_;
    QPointer<QMessageBox> alert_;

    QToolButton* export_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QWidget* empty_ = nullptr;
    QWidget* logPage_ = nullptr;
    QVBoxLayout* summary_ = nullptr;
    QWidget* banner_ = nullptr;
    ProportionBar* bar_ = nullptr;
    QWidget* tiles_ = nullptr;
    QLabel* filesHeader_ = nullptr;
    QListView* list_ = nullptr;
    TransferOutcomeListModel* rows_ = nullptr;
    TransferOutcomeDelegate* delegate_ = nullptr;
};

// Builds the section's screen for `window` (which owns the result).
QWidget* makeProductionLogView(MainWindow& window);

}  // namespace brindlecove
