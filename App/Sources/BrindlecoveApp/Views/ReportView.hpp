#pragma once
// The Report section: the last scan's verdict, its file list with previews, exports and the
// rescue copy of missing files.
// Main thread.

class QWidget;

namespace brindlecove {

class MainWindow;

// Builds the section's screen for `window` (which owns the result).
QWidget* makeReportView(MainWindow& window);

}  // namespace brindlecove
