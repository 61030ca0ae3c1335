#include "BrindlecoveApp/Views/WrappingToolTipDelegate.hpp"

#include "BrindlecoveApp/Views/ToolTipText.hpp"

#include <QAbstractItemView>
#include <QHelpEvent>

namespace brindlecove {

bool WrappingToolTipDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) {
    if (!event || !view || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    return ToolTipText::show(*event, index.data(Qt::ToolTipRole).toString(), view);
}

}  // namespace brindlecove
