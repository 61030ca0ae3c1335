#pragma once
// The Copy section: pick card and destination, run a verified copy and follow it.
// Main thread.

class QWidget;

namespace brindlecove {

class MainWindow;

// Builds the section's screen for `window` (which owns the result).
QWidget* makeCopyView(MainWindow& window);

}  // namespace brindlecove
