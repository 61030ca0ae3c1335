#include "BrindlecoveApp/Views/CapsuleLabel.hpp"

#include "BrindlecoveApp/Views/Style.hpp"

#include <QPainter>

namespace brindlecove {

CapsuleLabel::CapsuleLabel(const QString& text, const QColor& fill, const QColor& textColor, QWidget* parent)
    : QLabel(parent), fill_(fill) {
    setTextFormat(Qt::PlainText);
    setText(text);
    QFont f = Style::font(Style::TextStyle::caption2, font());
    f.setWeight(QFont::DemiBold);
    setFont(f);
    setContentsMargins(6, 1, 6, 1);
    setAlignment(Qt::AlignCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    if (textColor.isValid()) {
        QPalette p = palette();
        p.setColor(QPalette::WindowText, textColor);
        p.setColor(QPalette::Text, textColor);  // the role used on a Base background (lists)
        setPalette(p);
    }
}

void CapsuleLabel::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill_);
        QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    }
    QLabel::paintEvent(event);
}

}  // namespace brindlecove
