#pragma once
// The Logs section: the log archive by date or by job.
// Main thread.

class QWidget;

namespace brindlecove {

class MainWindow;

// Builds the section's screen for `window` (which owns the result).
QWidget* makeLogsView(MainWindow& window);

}  // namespace brindlecove
