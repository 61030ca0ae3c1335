#pragma once
// The report's file list: one row per clip in A–Z order, its texts computed once when the
// report is set, so a view of 100,000 clips only paints strings. Also the preview list (the
// clips' first files in the same order, skipping clips without one). Main thread.

#include "Tessaline/Report/VerificationReport.hpp"

#include <QAbstractListModel>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace brindlecove {

struct ReportRow {
    enum class Status { confirmed, nameMismatch, duplicate, missing };
    Status status = Status::missing;
    QString name;           // the first file's name; "?" for a clip without one
    QString extraNames;     // "+ B.JPG, C.JPG" for clips of two or more files, else empty
    QString statusLine;     // "Synced → /drive/Day1", "STILL ONLY ON THE CARD", ...
    QString dateText;       // the capture date in the locale's short style; empty without one
    QString sizeText;       // the clip's size in file byte counts
    QString firstFilePath;  // empty for a clip without a first file
    qint64 firstFileBytes = -1;  // its size as the scan recorded it
    bool isVideo = false;   // by the first file's extension
};

class ReportFileListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        StatusRole = Qt::UserRole + 1,
        ExtraNamesRole,
        StatusLineRole,
        DateRole,
        SizeRole,
        FirstFileRole,
        IsVideoRole,
    };

    explicit ReportFileListModel(QObject* parent = nullptr);

    // Replaces every row (a model reset); null clears the list.
    void setReport(std::shared_ptr<const tessaline::VerificationReport> report);
    const std::shared_ptr<const tessaline::VerificationReport>& report() const { return report_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    const ReportRow& row(int index) const { return rows_[static_cast<size_t>(index)]; }

    // The files the preview steps through, in row order.
    const QStringList& previewPaths() const { return previewPaths_; }
    // The first row whose first file is `path`; -1 when none.
    int rowOfPath(const QString& path) const;

    // The rows of a report, in A–Z order. Any thread.
    static std::vector<ReportRow> buildRows(const tessaline::VerificationReport& report);
    // A row's tooltip (Qt::ToolTipRole): its first file's whole path (its name without one),
    // the other files' names and the whole status line, one to a line.
    static QString toolTip(const ReportRow& row);

private:
    std::shared_ptr<const tessaline::VerificationReport> report_;
    std::vector<ReportRow> rows_;
    QStringList previewPaths_;
};

}  // namespace brindlecove
