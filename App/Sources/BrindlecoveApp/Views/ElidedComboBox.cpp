#include "BrindlecoveApp/Views/ElidedComboBox.hpp"

#include <QAbstractItemView>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace brindlecove {

ElidedComboBox::ElidedComboBox(QWidget* parent) : QComboBox(parent) {
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(16);
    view()->setTextElideMode(Qt::ElideMiddle);
    connect(this, &QComboBox::currentIndexChanged, this,
            [this](int index) { setToolTip(index >= 0 ? itemData(index, Qt::ToolTipRole).toString() : QString()); });
}

// QComboBox's own painting, with the chosen entry's text cut to the edit field.
void ElidedComboBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    int room = field.width();
    if (!option.currentIcon.isNull()) room -= option.iconSize.width() + 4;
    option.currentText = fontMetrics().elidedText(option.currentText, Qt::ElideMiddle, std::max(room, 0));
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

}  // namespace brindlecove
