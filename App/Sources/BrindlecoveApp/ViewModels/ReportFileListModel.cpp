#include "BrindlecoveApp/ViewModels/ReportFileListModel.hpp"

#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"

#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/PathConversion.hpp"

#include "Tessaline/Scanner/MediaClassifier.hpp"

#include <QDateTime>
#include <QLocale>

namespace brindlecove {

using tessaline::MatchStatus;

namespace {

// A file name for one line on screen: control characters and line or paragraph separators
// (which Qt breaks lines at) shown as U+FFFD, as in the reports.
QString oneLine(QString name) {
    for (QChar& c : name) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || u == 0x85 || u == 0x2028 || u == 0x2029) c = QChar::ReplacementCharacter;
    }
    return name;
}

// A clip not proven although some of its files are: the files without a proven copy by name
// (the first few), then how many others are proven.
QString membersLine(const tessaline::MatchResult& result) {
    constexpr size_t named = 3;
    const auto unproven = result.unprovenMembers();
    const auto& files = result.group.primaryFiles;
    QStringList names;
    for (size_t i = 0; i < unproven.size() && i < named; ++i) names << oneLine(qtPath(files[unproven[i]].url.filename()));
    QString which = names.join(QStringLiteral(", "));
    if (unproven.size() > named)
        which += QStringLiteral(" and %1").arg(Formats::count(qint64(unproven.size() - named), "more", "more"));
    const qint64 proven = qint64(files.size() - unproven.size());
    return QStringLiteral("No proven copy of %1 — the other %2 proven")
        .arg(which, Formats::count(proven, "file is", "files are"));
}

}  // namespace

ReportFileListModel::ReportFileListModel(QObject* parent) : QAbstractListModel(parent) {}

std::vector<ReportRow> ReportFileListModel::buildRows(const tessaline::VerificationReport& report) {
    const QLocale locale;
    // The report's A–Z order, read in place: copying 100,000 results costs more than the rows.
    const auto& results = report.results;
    std::vector<ReportRow> rows;
    rows.reserve(results.size());
    for (size_t index : tessaline::alphabeticalOrder(results)) {
        const tessaline::MatchResult& result = results[index];
        ReportRow row;
        const auto& primaries = result.group.primaryFiles;
        if (primaries.empty()) {
            row.name = QStringLiteral("?");
        } else {
            row.firstFilePath = qtPath(primaries.front().url);
            row.firstFileBytes = primaries.front().byteSize;
            row.name = oneLine(qtPath(primaries.front().url.filename()));
            row.isVideo = tessaline::MediaClassifier::isVideo(primaries.front().url);
        }
        if (primaries.size() >= 2) {
            QStringList others;
            for (size_t i = 1; i < primaries.size(); ++i) others << oneLine(qtPath(primaries[i].url.filename()));
            row.extraNames = QStringLiteral("+ ") + others.join(QStringLiteral(", "));
        }
        switch (result.status.kind()) {
            case MatchStatus::Kind::confirmed:
                row.status = ReportRow::Status::confirmed;
                row.statusLine = QStringLiteral("Synced → ") + qtPath(result.status.path().parent_path());
                break;
            case MatchStatus::Kind::nameMatchMetadataMismatch:
                row.status = ReportRow::Status::nameMismatch;
                row.statusLine = QStringLiteral("Name matches %1 but contents differ — check it")
                                     .arg(oneLine(qtPath(result.status.path().filename())));
                break;
            case MatchStatus::Kind::possibleDuplicate:
                row.status = ReportRow::Status::duplicate;
                row.statusLine = QStringLiteral("Synced — %1 backup copies").arg(Formats::groupedInteger(qint64(result.status.locations().size())));
                break;
            case MatchStatus::Kind::missing:
                row.status = ReportRow::Status::missing;
                row.statusLine = result.membersProven.empty() ? QStringLiteral("STILL ONLY ON THE CARD") : membersLine(result);
                // Why the search for a file of the clip stopped short, when it did.
                for (const auto& file : primaries)
                    if (const auto* unread = report.unreadOf(file.url.path())) {
                        row.statusLine += QStringLiteral(" — ") + ReportTexts::unreadRowReason(*unread);
                        break;
                    }
                break;
        }
        if (auto date = result.group.captureDate()) {
            const auto when = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(*date * 1000.0), Qt::UTC);
            row.dateText = locale.toString(when.toLocalTime(), QLocale::ShortFormat);
        }
        row.sizeText = Formats::fileByteCount(result.group.totalByteSize());
        rows.push_back(std::move(row));
    }
    return rows;
}

void ReportFileListModel::setReport(std::shared_ptr<const tessaline::VerificationReport> report) {
    beginResetModel();
    report_ = std::move(report);
    rows_ = report_ ? buildRows(*report_) : std::vector<ReportRow>{};
    previewPaths_.clear();
    for (const auto& row : rows_)
        if (!row.firstFilePath.isEmpty()) previewPaths_ << row.firstFilePath;
    endResetModel();
}

QString ReportFileListModel::toolTip(const ReportRow& row) {
    // The row's texts in full, the first file by its whole path: the row cuts them to fit.
    QStringList lines{row.firstFilePath.isEmpty() ? row.name : row.firstFilePath};
    if (!row.extraNames.isEmpty()) lines << row.extraNames;
    lines << row.statusLine;
    return lines.join(u'\n');
}

int ReportFileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant ReportFileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const ReportRow& r = row(index.row());
    switch (role) {
        case Qt::DisplayRole: return r.name;
        case StatusRole: return static_cast<int>(r.status);
        case ExtraNamesRole: return r.extraNames;
        case StatusLineRole: return r.statusLine;
        case DateRole: return r.dateText;
        case SizeRole: return r.sizeText;
        case FirstFileRole: return r.firstFilePath;
        case IsVideoRole: return r.isVideo;
        case Qt::ToolTipRole: return toolTip(r);
        default: return {};
    }
}

int ReportFileListModel::rowOfPath(const QString& path) const {
    if (path.isEmpty()) return -1;
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].firstFilePath == path) return static_cast<int>(i);
    return -1;
}

}  // namespace brindlecove
