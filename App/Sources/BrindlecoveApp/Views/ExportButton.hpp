#pragma once
// The "Export" button of the sections that export what they show: a tool button with the share
// symbol that opens its menu at once. The caller fills the menu. Main thread.

#include <QString>

class QMenu;
class QToolButton;
class QWidget;

namespace brindlecove {

// A button named `name` whose (empty) menu is named `name` + "Menu"; `button->menu()` gives it.
QToolButton* makeExportButton(const QString& name, QWidget* parent);

}  // namespace brindlecove
