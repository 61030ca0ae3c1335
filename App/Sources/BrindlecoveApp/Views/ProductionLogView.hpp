#pragma once
// The Production Log section: the last copy's transfer log and its exports.
// Main thread.

class QWidget;

namespace brindlecove {

class MainWindow;

// Builds the section's screen for `window` (which owns the result).
QWidget* makeProductionLogView(MainWindow& window);

}  // namespace brindlecove
