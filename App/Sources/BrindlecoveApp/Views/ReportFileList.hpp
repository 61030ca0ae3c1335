#pragma once
// The report's A–Z file list: a header with the legend, one painted row per clip (no widget
// per row, so a report of 100,000 clips scrolls as smoothly as one of ten), and the footer.
// A click asks for the clip's preview; the context menu offers "Preview" and "Show in File
// Manager". Main thread.

#include "BrindlecoveApp/Platform/FileRevealer.hpp"
#include "BrindlecoveApp/Views/FileRowDelegate.hpp"

#include "Tessaline/Report/VerificationReport.hpp"

#include <QWidget>

#include <memory>

class QListView;
class QMenu;
class QModelIndex;

namespace brindlecove {

class ReportFileListModel;
class ThumbnailService;

class ReportFileList : public QWidget {
    Q_OBJECT
public:
    ReportFileList(FileRevealer revealer, ThumbnailService& thumbnails, QWidget* parent = nullptr);

    void setReport(std::shared_ptr<const tessaline::VerificationReport> report);
    ReportFileListModel& model() const { return *model_; }
    QListView* view() const { return view_; }

    // The context menu of a row (the caller shows or triggers it; it deletes itself on close).
    QMenu* makeContextMenu(const QModelIndex& index);

    static QString footerText();
    // The rows the list shows at the least, however small the window.
    static constexpr int minimumRows = 4;

Q_SIGNALS:
    // The clip's first file should be previewed; an empty path closes the preview.
    void previewRequested(const QString& path);

private:
    void reveal(const QString& path) const;

    FileRevealer revealer_;
    ReportFileListModel* model_ = nullptr;
    QListView* view_ = nullptr;
    FileRowDelegate* delegate_ = nullptr;
};

}  // namespace brindlecove
