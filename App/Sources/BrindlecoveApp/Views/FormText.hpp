#pragma once
// Small pieces the erase and reformat forms share: secondary caption labels, the second
// caption font (optionally monospaced), the small spinning indicator and a destructive push
// button. Main thread.

#include <QFont>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

namespace brindlecove::FormText {

// A word-wrapping plain-text label in the caption font and the secondary colour.
QLabel* caption(const QString& objectName, QWidget* parent);
// The second caption font (about 0.77 of `base`), monospaced when `monospaced`.
QFont caption2(const QFont& base, bool monospaced = false);
// A small indeterminate progress indicator.
QProgressBar* spinner(const QString& objectName, QWidget* parent);
// A push button whose text is drawn in red, for actions that destroy data.
QPushButton* destructiveButton(const QString& text, const QString& objectName, QWidget* parent);
// Sets the text of `label` only when it differs (keeps selection and avoids relayout).
void setText(QLabel* label, const QString& text);

}  // namespace brindlecove::FormText
