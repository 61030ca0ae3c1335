#pragma once
// Paints the rows of the Logs list from their item data, so a list of thousands of logs
// costs no widget per row: the kind's round icon, the "COPY"/"SCAN" tag and the log's
// subtitle, its summary (and its job when shown), the time of day and the check mark or the
// problem word, and a chevron. Items without LogRowDelegate::Role::logId are painted by the
// standard delegate. Main thread.

#include "Tessaline/Report/ArchivedLog.hpp"

#include <QColor>
#include <QHash>
#include <QPixmap>
#include "BrindlecoveApp/Views/WrappingToolTipDelegate.hpp"

class QTreeWidgetItem;

namespace brindlecove {

class LogRowDelegate : public WrappingToolTipDelegate {
    Q_OBJECT
public:
    // The item data a row is painted from.
    enum Role {
        logId = Qt::UserRole + 1,  // the log's id
        tag,                       // "COPY" or "SCAN"
        iconSymbol,                // "doc.on.doc.fill" or "magnifyingglass"
        color,                     // the kind's colour (iconColor)
        summary,
        job,                       // the job tag; empty when not shown
        time,                      // the time of day
        problem,                   // "missing", "failed", "stopped", or empty for the check mark
        problemColor,              // the problem word's colour
    };

    using WrappingToolTipDelegate::WrappingToolTipDelegate;

    // Fills `item` with the row of `log`; the subtitle is the display text.
    static void describe(QTreeWidgetItem* item, const tessaline::ArchivedLog& log, bool showJobTag);
    // Blue for a scan, green for a copy; orange and red when the log has a problem, orange
    // for a copy the user stopped (stopping is not failing).
    static QColor iconColor(const tessaline::ArchivedLog& log);
    // The word under the time: empty (the check mark) without a problem; "missing" for a
    // scan; "stopped" for a copy the user stopped with no file failed; else "failed".
    static QString problemWord(const tessaline::ArchivedLog& log);
    // Orange for "stopped", red for the other words.
    static QColor problemWordColor(const tessaline::ArchivedLog& log);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const QPixmap& symbol(const QString& name, int size, const QColor& tint, qreal ratio) const;

    mutable QHash<QString, QPixmap> symbols_;
};

}  // namespace brindlecove
