#include "Support/ToolTipProbe.hpp"

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QScreen>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QWidget>

namespace brindlecove::testing {

std::optional<ShownToolTip> showToolTip(QWidget* widget, QPoint pos) {
    QToolTip::hideText();
    QApplication::processEvents();
    QHelpEvent event(QEvent::ToolTip, pos, widget->mapToGlobal(pos));
    QApplication::sendEvent(widget, &event);
    QApplication::processEvents();
    if (!QToolTip::isVisible()) return std::nullopt;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->inherits("QTipLabel") || !top->isVisible()) continue;
        ShownToolTip shown;
        const QString text = QToolTip::text();
        shown.text = Qt::mightBeRichText(text) ? QTextDocumentFragment::fromHtml(text).toPlainText() : text;
        shown.text.remove(QChar(0x200B));
        shown.geometry = top->geometry();
        shown.screen = (top->screen() ? top->screen() : QApplication::primaryScreen())->availableGeometry();
        QToolTip::hideText();
        return shown;
    }
    return std::nullopt;
}

}  // namespace brindlecove::testing
