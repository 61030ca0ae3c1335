#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPalette>
#include <QWidget>

namespace brindlecove::Symbols {

namespace {

QString resourcePath(const QString& name) { return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg"); }

}  // namespace

bool exists(const QString& name) { return QFile::exists(resourcePath(name)); }

QPixmap pixmap(const QString& name, int size, const QColor& tint) {
    if (!exists(name)) return {};
    qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QIcon source(resourcePath(name));
    QImage drawing = source.pixmap(QSize(size, size), ratio).toImage().convertToFormat(QImage::Format_ARGB32);
    QColor color = tint.isValid() ? tint : QApplication::palette().color(QPalette::WindowText);
    // The drawings are black on transparent with white cut-outs: darkness becomes the tint's
    // coverage, so cut-outs stay see-through whatever the tint.
    for (int y = 0; y < drawing.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(drawing.scanLine(y));
        for (int x = 0; x < drawing.width(); ++x) {
            QRgb px = line[x];
            int coverage = qAlpha(px) * (255 - qGray(px)) / 255;
            line[x] = qRgba(color.red(), color.green(), color.blue(), coverage * color.alpha() / 255);
        }
    }
    QPixmap result = QPixmap::fromImage(drawing);
    result.setDevicePixelRatio(ratio);
    return result;
}

QIcon icon(const QString& name, const QColor& tint, const QColor& selectedTint) {
    QIcon result;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap p = pixmap(name, size, tint);
        if (!p.isNull()) result.addPixmap(p);
        if (selectedTint.isValid()) {
            QPixmap selected = pixmap(name, size, selectedTint);
            if (!selected.isNull()) result.addPixmap(selected, QIcon::Selected);
        }
    }
    return result;
}

void tag(QWidget* widget, const QString& name) { widget->setProperty("symbol", name); }

}  // namespace brindlecove::Symbols
