#pragma once
// Icons by symbol name ("externaldrive.badge.checkmark", "gearshape", ...). The bundled SVGs
// keep every platform and every screenshot alike; a tint recolours the drawing. Main thread.

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QWidget;

namespace brindlecove::Symbols {

// The bundled icon of `name`, tinted with `tint` (the widget text colour when invalid).
// An unknown name gives an empty icon.
// `selectedTint`, when valid, draws the icon of selected rows (on the highlight colour).
QIcon icon(const QString& name, const QColor& tint = QColor(), const QColor& selectedTint = QColor());
QPixmap pixmap(const QString& name, int size, const QColor& tint = QColor());
// Whether an icon of that name is bundled.
bool exists(const QString& name);
// Records the symbol name on a widget (property "symbol"), so tests can read it back.
void tag(QWidget* widget, const QString& name);

}  // namespace brindlecove::Symbols
