#pragma once
// A combo box for names of any length: the chosen entry is drawn cut to the box ("A_CAM_xx…xx_END"
// by default, or cut at its end with an ellipsis), the list cuts its entries the same way,
// and neither the box's width nor its open list's follows its longest entry: the list is no
// wider than the box's window (nor the screen's usable part), and stays inside it. Callers set each entry's whole text
// as its tooltip (Qt::ToolTipRole); the box's own tooltip is always the chosen entry's,
// however the index was set (also under a QSignalBlocker), and is shown wrapped within the
// screen. Main thread.

#include <QComboBox>

namespace brindlecove {

class ElidedComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit ElidedComboBox(QWidget* parent = nullptr);

    // Where the chosen entry and the list's entries are cut (Qt::ElideMiddle at first).
    void setElideMode(Qt::TextElideMode mode);

    void showPopup() override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Makes the box's tooltip the chosen entry's.
    void syncToolTip();

    Qt::TextElideMode elideMode_ = Qt::ElideMiddle;
};

}  // namespace brindlecove
