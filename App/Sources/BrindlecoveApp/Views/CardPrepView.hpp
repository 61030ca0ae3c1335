#pragma once
// The Erase Card section: the camera erase behind the erase-safety gate, and the reformat form.
// Main thread.

class QWidget;

namespace brindlecove {

class MainWindow;

// Builds the section's screen for `window` (which owns the result).
QWidget* makeCardPrepView(MainWindow& window);

}  // namespace brindlecove
