#include "BrindlecoveApp/ViewModels/TransferOutcomeListModel.hpp"

#include "BrindlecoveApp/Formats.hpp"

namespace brindlecove {

using Kind = tessaline::CopyEngine::FileStatus::Kind;

TransferOutcomeListModel::TransferOutcomeListModel(QObject* parent) : QAbstractListModel(parent) {}

TransferOutcomeListModel::Row TransferOutcomeListModel::rowFor(const tessaline::CopyEngine::FileOutcome& outcome) {
    Row row;
    row.path = QString::fromStdString(outcome.relativePath);
    row.checksum = QStringLiteral("xxh64 ") +
                   (outcome.destinationChecksum ? QString::fromStdString(*outcome.destinationChecksum) : QStringLiteral("—"));
    row.size = Formats::fileByteCount(outcome.byteSize);
    switch (outcome.status.kind) {
        case Kind::failed:
            row.mark = Mark::failed;
            row.failure = QString::fromStdString(outcome.status.reason.value_or(std::string()));
            break;
        case Kind::verificationFailed:
            row.mark = Mark::failed;
            row.failure = outcome.status.reason ? QString::fromStdString(*outcome.status.reason)
                                                : QStringLiteral("Checksum mismatch.");
            break;
        case Kind::copiedNotVerified: row.mark = Mark::unverified; break;
        case Kind::copiedVerified:
        case Kind::skippedAlreadyPresent: row.mark = Mark::verified; break;
    }
    return row;
}

QString TransferOutcomeListModel::symbolFor(Mark mark) {
    switch (mark) {
        case Mark::failed: return QStringLiteral("xmark.octagon.fill");
        case Mark::unverified: return QStringLiteral("circle");
        case Mark::verified: return QStringLiteral("checkmark.circle.fill");
    }
    return QString();
}

void TransferOutcomeListModel::setLog(std::shared_ptr<const tessaline::TransferLog> log) {
    beginResetModel();
    log_ = std::move(log);
    rows_.clear();
    if (log_) {
        rows_.reserve(log_->outcomes.size());
        for (const auto& outcome : log_->outcomes) rows_.push_back(rowFor(outcome));
    }
    endResetModel();
}

int TransferOutcomeListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant TransferOutcomeListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= static_cast<int>(rows_.size())) return {};
    const Row& row = rows_[static_cast<size_t>(index.row())];
    switch (role) {
        case pathRole: return row.path;
        case checksumRole: return row.checksum;
        case failureRole: return row.failure;
        case sizeRole: return row.size;
        case markRole: return static_cast<int>(row.mark);
        case symbolRole: return symbolFor(row.mark);
        // The path in full (the row cuts it to fit), and why the file failed.
        case Qt::ToolTipRole: return row.failure.isEmpty() ? row.path : row.path + u'\n' + row.failure;
        default: return {};
    }
}

}  // namespace brindlecove
