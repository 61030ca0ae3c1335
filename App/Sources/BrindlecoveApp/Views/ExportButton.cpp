#include "BrindlecoveApp/Views/ExportButton.hpp"

#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QMenu>
#include <QToolButton>

namespace brindlecove {

QToolButton* makeExportButton(const QString& name, QWidget* parent) {
    const QString symbol = QStringLiteral("square.and.arrow.up");
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(QStringLiteral("Export"));
    button->setIcon(Symbols::icon(symbol));
    Symbols::tag(button, symbol);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(button);
    menu->setObjectName(name + QStringLiteral("Menu"));
    button->setMenu(menu);
    return button;
}

}  // namespace brindlecove
