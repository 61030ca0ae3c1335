#pragma once
// The Report section: the last scan's verdict banner, counts and proportion bar, the rescue
// copy of missing files, the A–Z file list with thumbnails and previews, and the PDF/CSV
// export. It keeps no report of its own: it shows the window's ScanViewModel's last report
// and follows it when a new one arrives; once an erase was started on the shown report (the
// window's ErasedReports), its verdict says the card was erased after the scan. Actions that open a panel act on the report shown
// when they fired, never on one that arrives while the panel is open. Main thread.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/Platform/FileRevealer.hpp"
#include "BrindlecoveApp/ViewModels/ReportExport.hpp"

#include "Tessaline/Report/VerificationReport.hpp"

#include <QPointer>
#include <QWidget>

#include <memory>

class QMenu;
class QMessageBox;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace brindlecove {

class ErasedReports;
class MainWindow;
class MissingSyncViewModel;
class PreviewController;
class PreviewWindow;
class ReportFileList;
class RescueSection;
class ScanViewModel;
class ThumbnailService;

class ReportView : public QWidget {
    Q_OBJECT
public:
    ReportView(ScanViewModel& scan, MissingSyncViewModel& rescue, const ErasedReports& erased, Dialogs dialogs,
               FileRevealer revealer, ThumbnailService& thumbnails, QWidget* parent = nullptr);
    ~ReportView() override;

    const std::shared_ptr<const tessaline::VerificationReport>& shownReport() const { return shown_; }
    // Saves `report` through the save panel; a failure opens the "Export Failed" alert.
    void exportReport(std::shared_ptr<const tessaline::VerificationReport> report, ReportExport::Format format);
    // Opens, moves or (empty path) closes the preview.
    void preview(const QString& path);

    ReportFileList* fileList() const { return fileList_; }
    PreviewController& previewController() const { return *previewController_; }
    PreviewWindow* previewWindow() const;
    QMessageBox* exportAlert() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void render();
    void renderSummary();

    ScanViewModel& scan_;
    MissingSyncViewModel& rescue_;
    const ErasedReports& erased_;
    Dialogs dialogs_;
    ThumbnailService& thumbnails_;
    std::shared_ptr<const tessaline::VerificationReport> shown_;
    std::shared_ptr<const tessaline::VerificationReport> menuReport_;
    bool shownErased_ = false;  // whether the summary drawn says the card was erased
    QToolButton* export_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QWidget* reportPage_ = nullptr;
    QWidget* summary_ = nullptr;
    QVBoxLayout* summaryLayout_ = nullptr;
    QWidget* summaryContent_ = nullptr;
    RescueSection* rescueSection_ = nullptr;
    ReportFileList* fileList_ = nullptr;
    PreviewController* previewController_ = nullptr;
    QPointer<PreviewWindow> previewWindow_;
    QPointer<QMessageBox> exportAlert_;
};

// Builds the section's screen for `window` (which owns the result).
QWidget* makeReportView(MainWindow& window);

}  // namespace brindlecove
