#include "BrindlecoveApp/Views/Style.hpp"

#include <QApplication>
#include <QLabel>
#include <QPalette>

namespace brindlecove::Style {

QFont font(TextStyle style, const QFont& base) {
    QFont f = base;
    qreal size = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    auto scaled = [&](qreal factor) { f.setPointSizeF(size * factor); };
    switch (style) {
        case TextStyle::title: scaled(1.6); break;
        case TextStyle::title2: scaled(1.3); break;
        case TextStyle::title3: scaled(1.15); break;
        case TextStyle::headline: f.setBold(true); break;
        case TextStyle::body: break;
        case TextStyle::callout: scaled(0.92); break;
        case TextStyle::subheadline: scaled(0.85); break;
        case TextStyle::caption: scaled(0.8); break;
        case TextStyle::caption2: scaled(0.77); break;
    }
    return f;
}

QLabel* screenTitle(const QString& text, QWidget* parent) {
    auto* title = new QLabel(text, parent);
    title->setObjectName(QStringLiteral("screen.title"));
    title->setTextFormat(Qt::PlainText);
    QFont f = font(TextStyle::title2, title->font());
    f.setBold(true);
    title->setFont(f);
    return title;
}

QColor good() { return QColor(0x2f, 0x9e, 0x44); }
QColor bad() { return QColor(0xd9, 0x30, 0x25); }
QColor warn() { return QColor(0xf0, 0x8c, 0x00); }

namespace {
QPalette paletteOf(const QWidget* widget) { return widget ? widget->palette() : QApplication::palette(); }
}  // namespace

QColor accent(const QWidget* widget) { return paletteOf(widget).color(QPalette::Highlight); }
QColor secondaryText(const QWidget* widget) { return withAlpha(paletteOf(widget).color(QPalette::WindowText), 0.55); }
QColor quaternaryFill(const QWidget* widget) { return withAlpha(paletteOf(widget).color(QPalette::WindowText), 0.08); }

QColor withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

void makeSecondary(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, secondaryText(widget));
    palette.setColor(QPalette::Text, secondaryText(widget));
    widget->setPalette(palette);
}

}  // namespace brindlecove::Style
