#pragma once
// An item delegate whose rows' tooltips (Qt::ToolTipRole) are shown wrapped within the
// screen (ToolTipText), however long the name in them. The base of the lists' delegates.
// Main thread.

#include <QStyledItemDelegate>

namespace brindlecove {

class WrappingToolTipDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

}  // namespace brindlecove
