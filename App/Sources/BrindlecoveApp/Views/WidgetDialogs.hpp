#pragma once
// The real folder panels and confirmations: QFileDialog and QMessageBox. Main thread.

#include "BrindlecoveApp/Platform/Dialogs.hpp"

class QWidget;

namespace brindlecove {

// Dialogs that open over `parent` (or the active window when null).
Dialogs widgetDialogs(QWidget* parent = nullptr);

}  // namespace brindlecove
