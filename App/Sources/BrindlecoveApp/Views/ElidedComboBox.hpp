#pragma once
// A combo box for names of any length: the chosen entry is drawn cut in the middle when it
// is wider than the box ("A_CAM_xx…xx_END"), the list cuts its entries the same way, and
// the box's width does not follow its longest entry. Callers set each entry's whole text as
// its tooltip (Qt::ToolTipRole); the box shows the chosen one's as its own. Main thread.

#include <QComboBox>

namespace brindlecove {

class ElidedComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit ElidedComboBox(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace brindlecove
