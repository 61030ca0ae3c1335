#pragma once
// Tooltips that stay on the screen. A plain-text tooltip is one line as wide as its text (a
// long path runs off a small screen); shown through these, the text is wrapped at about 80
// characters and may break inside long names (after path separators, or anywhere in a run
// of more than 30 characters without one). Main thread.

#include <QString>

class QHelpEvent;
class QWidget;

namespace brindlecove::ToolTipText {

// `plain` as rich text that wraps; empty stays empty.
QString wrapped(const QString& plain);

// Shows `plain` wrapped for a tooltip event on `widget`; hides any tooltip when it is empty.
// Returns whether a tooltip is shown.
bool show(const QHelpEvent& event, const QString& plain, QWidget* widget);

}  // namespace brindlecove::ToolTipText
