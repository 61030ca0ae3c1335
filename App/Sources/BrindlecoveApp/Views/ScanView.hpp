#pragma once
// The Scan section: pick a card, choose the granted drives, start or stop a scan and follow it.
// Main thread.

class QWidget;

namespace brindlecove {

class MainWindow;

// Builds the section's screen for `window` (which owns the result).
QWidget* makeScanView(MainWindow& window);

}  // namespace brindlecove
