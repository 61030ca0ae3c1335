#include "BrindlecoveApp/Views/ElidedComboBox.hpp"

#include "BrindlecoveApp/Views/ToolTipText.hpp"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QScreen>
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

void ElidedComboBox::showPopup() {
    QComboBox::showPopup();
    QWidget* popup = view()->window();
    if (!popup || popup == window()) return;
    // The usable part: the box's window, within its screen's available area.
    QRect usable(window()->mapToGlobal(QPoint(0, 0)), window()->size());
    if (QScreen* where = screen()) usable = usable.intersected(where->availableGeometry());
    if (usable.isEmpty()) return;
    QRect placed = popup->geometry();
    placed.setWidth(std::min(placed.width(), usable.width()));
    if (placed.right() > usable.right()) placed.moveRight(usable.right());
    if (placed.left() < usable.left()) placed.moveLeft(usable.left());
    if (placed != popup->geometry()) popup->setGeometry(placed);
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
