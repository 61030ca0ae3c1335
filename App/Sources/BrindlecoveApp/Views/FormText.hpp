#pragma once
// Small pieces the sections' forms share: secondary caption labels, the second caption font
// (optionally monospaced), progress bars, the small spinning indicator, the margin-free column
// of a status page and a destructive push button. Main thread.

#include <QFont>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace brindlecove::FormText {

// A word-wrapping plain-text label in the caption font and the secondary colour.
QLabel* caption(const QString& objectName, QWidget* parent);
// The second caption font (about 0.77 of `base`), monospaced when `monospaced`.
QFont caption2(const QFont& base, bool monospaced = false);
// A progress bar without its percentage text.
QProgressBar* progressBar(const QString& objectName, QWidget* parent);
// A small indeterminate progress indicator.
QProgressBar* spinner(const QString& objectName, QWidget* parent);
// A push button whose text is drawn in red, for actions that destroy data.
QPushButton* destructiveButton(const QString& text, const QString& objectName, QWidget* parent);
// Gives `page` a column layout without margins and with `spacing` between its rows.
QVBoxLayout* column(QWidget* page, int spacing);
// Sets the text of `label` only when it differs (keeps selection and avoids relayout).
void setText(QLabel* label, const QString& text);
// `text` with a zero-width space every few characters inside runs too long to wrap (a
// card folder's name without spaces), so a word-wrapping label breaks them instead of
// growing as wide as the run. Text without such runs comes back unchanged.
QString breakable(const QString& text);

}  // namespace brindlecove::FormText
