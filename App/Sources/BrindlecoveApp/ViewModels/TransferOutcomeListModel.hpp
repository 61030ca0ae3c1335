#pragma once
// The per-file list of a transfer log for the Production Log section: one row per outcome in
// the log's order, with every text of the row computed once when the log is set, so a list
// of thousands of files scrolls without work per paint. Main thread.

#include "Tessaline/Transfer/TransferLog.hpp"

#include <QAbstractListModel>
#include <QString>

#include <memory>
#include <vector>

namespace brindlecove {

class TransferOutcomeListModel : public QAbstractListModel {
    Q_OBJECT
public:
    // How a row is marked.
    enum class Mark { failed, unverified, verified };

    enum Role {
        pathRole = Qt::DisplayRole,        // the relative path
        checksumRole = Qt::UserRole + 1,   // "xxh64 <digest>" or "xxh64 —"
        failureRole,                       // the reason of a failed file, else empty
        sizeRole,                          // the size in the file-size style
        markRole,                          // Mark as int
        symbolRole,                        // the mark's symbol name
    };

    struct Row {
        QString path;
        QString checksum;
        QString failure;
        QString size;
        Mark mark = Mark::failed;
    };

    explicit TransferOutcomeListModel(QObject* parent = nullptr);

    // Shows `log`'s outcomes (none for null). Resets the model.
    void setLog(std::shared_ptr<const tessaline::TransferLog> log);
    const std::shared_ptr<const tessaline::TransferLog>& log() const { return log_; }

    static Row rowFor(const tessaline::CopyEngine::FileOutcome& outcome);
    static QString symbolFor(Mark mark);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::shared_ptr<const tessaline::TransferLog> log_;
    std::vector<Row> rows_;
};

}  // namespace brindlecove
