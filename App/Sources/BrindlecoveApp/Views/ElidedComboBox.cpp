#include "BrindlecoveApp/Views/ElidedComboBox.hpp"

#include "BrindlecoveApp/Views/ToolTipText.hpp"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QStyleOptionComboBox>
#include <QStyledItemDelegate>
#include <QStylePainter>

namespace brindlecove {

ElidedComboBox::ElidedComboBox(QWidget* parent) : QComboBox(parent) {
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(16);
    view()->setTextElideMode(elideMode_);
    connect(this, &QComboBox::currentIndexChanged, this, &ElidedComboBox::syncToolTip);
}

void ElidedComboBox::setElideMode(Qt::TextElideMode mode) {
    elideMode_ = mode;
    view()->setTextElideMode(mode);
    // The style's menu-like entries cut text their own way; list rows follow the view's mode.
    if (mode != Qt::ElideMiddle && !qobject_cast<QStyledItemDelegate*>(itemDelegate()))
        setItemDelegate(new QStyledItemDelegate(this));
    update();
}

void ElidedComboBox::syncToolTip() {
    const int index = currentIndex();
    const QString tip = index >= 0 ? itemData(index, Qt::ToolTipRole).toString() : QString();
    if (toolTip() != tip) setToolTip(tip);
}

bool ElidedComboBox::event(QEvent* event) {
    // A list refilled under a QSignalBlocker changes the index without currentIndexChanged:
    // the tooltip is read from the chosen entry when it is asked for.
    if (event->type() == QEvent::ToolTip) {
        syncToolTip();
        ToolTipText::show(*static_cast<QHelpEvent*>(event), toolTip(), this);
        return true;
    }
    return QComboBox::event(event);
}

// QComboBox's own painting, with the chosen entry's text cut to the edit field.
void ElidedComboBox::paintEvent(QPaintEvent*) {
    syncToolTip();
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    int room = field.width();
    if (!option.currentIcon.isNull()) room -= option.iconSize.width() + 4;
    option.currentText = fontMetrics().elidedText(option.currentText, elideMode_, std::max(room, 0));
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

}  // namespace brindlecove
