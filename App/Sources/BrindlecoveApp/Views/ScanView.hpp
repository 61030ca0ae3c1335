#pragma once
// The Scan section: pick a card, choose the granted drives, start or stop a scan and follow
// it stage by stage, with counts, a per-stage chart, a time estimate and a short result.
// Every control is made once; one coalesced render() sets their texts, values and
// visibility from the window's scan view model, so nothing is rebuilt per event (only the
// drive toggles, when the list of drives changes). Main thread.

#include "BrindlecoveApp/ViewModels/ScanScreenState.hpp"
#include "BrindlecoveApp/Views/RenderCoalescer.hpp"

#include "Tessaline/Volumes/VolumeInfo.hpp"

#include <QHash>
#include <QWidget>

#include <functional>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace brindlecove {

class ElidedLabel;
class MainWindow;
class ScanViewModel;
class SymbolLabel;
class TrendChart;

class ScanView : public QWidget {
    Q_OBJECT
public:
    using VolumeLister = std::function<std::vector<tessaline::VolumeInfo>()>;

    // `listVolumes` fills "Currently Inserted" (default: the engine's candidate volumes).
    explicit ScanView(ScanViewModel& model, VolumeLister listVolumes = {}, QWidget* parent = nullptr);

    // Draws `state` now (the coalesced render draws the view model's state).
    void render(const ScanScreenState& state);
    // Re-reads the inserted volumes (the Refresh button).
    void refreshVolumes();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeScanGroup();
    QWidget* makeCardGroup();
    QWidget* makeDrivesGroup();
    QWidget* makeVolumesGroup();
    void renderStatus(const ScanScreenState& state);
    // "<text>  <completed> / <total> <noun> (<percent>%)", the noun counting the total.
    void renderProgressRow(const QString& text, const QString& symbol, int completed, int total,
                           const ScanScreenState& state, const char* singular = "file", const char* plural = "files");
    void renderBusy(const QString& text);
    void renderDrives(const ScanScreenState& state);

    ScanViewModel& model_;
    VolumeLister listVolumes_;
    ScanScreenState::SummaryCache summaryCache_;
    RenderCoalescer coalescer_;

    QToolButton* start_ = nullptr;
    QAction* startAction_ = nullptr;
    QAction* freshAction_ = nullptr;
    QPushButton* stop_ = nullptr;
    SymbolLabel* stoppingNote_ = nullptr;
    QLabel* safeNote_ = nullptr;
    SymbolLabel* resumeNote_ = nullptr;

    QWidget* busy_ = nullptr;
    QProgressBar* busyBar_ = nullptr;
    QLabel* busyText_ = nullptr;
    QWidget* progress_ = nullptr;
    QProgressBar* bar_ = nullptr;
    SymbolLabel* caption_ = nullptr;
    QLabel* estimate_ = nullptr;
    TrendChart* chart_ = nullptr;
    SymbolLabel* total_ = nullptr;
    QWidget* summary_ = nullptr;
    QLabel* summaryCounts_ = nullptr;
    SymbolLabel* otherFiles_ = nullptr;
    SymbolLabel* unreadable_ = nullptr;
    SymbolLabel* skipped_ = nullptr;
    SymbolLabel* skippedOnCard_ = nullptr;  // granted drives that lie on the card
    SymbolLabel* filingNotice_ = nullptr;  // where the log went when it could not be filed as shown
    SymbolLabel* reportTextNotice_ = nullptr;  // why the report's text copy is missing
    SymbolLabel* failed_ = nullptr;

    QLabel* noCard_ = nullptr;
    QWidget* cardRow_ = nullptr;
    ElidedLabel* cardPath_ = nullptr;
    QPushButton* choose_ = nullptr;
    QCheckBox* allTypes_ = nullptr;
    QLabel* allTypesExplanation_ = nullptr;

    QLabel* noDrives_ = nullptr;
    QVBoxLayout* driveToggles_ = nullptr;
    QStringList toggleLabels_;  // the labels the toggles were built for, granted first
    QLabel* allDrivesNote_ = nullptr;

    QLabel* noVolumes_ = nullptr;
    QVBoxLayout* volumeRows_ = nullptr;
};

// Builds the section's screen for `window` (which owns the result).
QWidget* makeScanView(MainWindow& window);

}  // namespace brindlecove
