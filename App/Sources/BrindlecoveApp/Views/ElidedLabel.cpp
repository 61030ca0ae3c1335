#include "BrindlecoveApp/Views/ElidedLabel.hpp"

#include "BrindlecoveApp/Views/ToolTipText.hpp"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QResizeEvent>

namespace brindlecove {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString& text) {
    if (text == full_ && !QLabel::text().isEmpty()) return;
    full_ = text;
    setToolTip(text);
    elide();
}

QSize ElidedLabel::minimumSizeHint() const {
    QSize hint = QLabel::minimumSizeHint();
    return {fontMetrics().averageCharWidth() * 8, hint.height()};
}

bool ElidedLabel::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        ToolTipText::show(*static_cast<QHelpEvent*>(event), toolTip(), this);
        return true;
    }
    return QLabel::event(event);
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide() {
    int width = contentsRect().width();
    QString shown = width > 0 ? fontMetrics().elidedText(full_, Qt::ElideMiddle, width) : full_;
    if (shown != QLabel::text()) QLabel::setText(shown);
}

}  // namespace brindlecove
