#pragma once
// Asks a widget for its tooltip as the mouse resting at `pos` would (a QEvent::ToolTip) and
// reads back what the application shows: the tooltip's text as plain text (line-break hints
// removed) and the tooltip window's place on the screen. Offscreen. Main thread.

#include <QPoint>
#include <QRect>
#include <QString>

#include <optional>

class QWidget;

namespace brindlecove::testing {

struct ShownToolTip {
    QString text;
    QRect geometry;
    QRect screen;  // the available geometry of the screen it is shown on
};

std::optional<ShownToolTip> showToolTip(QWidget* widget, QPoint pos);

}  // namespace brindlecove::testing
