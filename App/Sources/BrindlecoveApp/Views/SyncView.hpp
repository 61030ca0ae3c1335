#pragma once
// The Sync section: the sync switches, pairs, activity and the inserted-card prompt.
// Main thread.

class QWidget;

namespace brindlecove {

class MainWindow;

// Builds the section's screen for `window` (which owns the result).
QWidget* makeSyncView(MainWindow& window);

}  // namespace brindlecove
