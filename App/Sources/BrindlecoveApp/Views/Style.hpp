#pragma once
// The application's text styles and colours in one place. Text styles are multiples of the
// application font, so the user's font size carries through. Main thread.

#include <QColor>
#include <QFont>
#include <QWidget>

class QLabel;

namespace brindlecove::Style {

enum class TextStyle { title, title2, title3, headline, body, callout, subheadline, caption, caption2 };

QFont font(TextStyle style, const QFont& base = QFont());

// A section's title ("screen.title"): the title-2 size, bold. Sections show it through ScreenHeader.
QLabel* screenTitle(const QString& text, QWidget* parent);

QColor good();     // green
QColor bad();      // red
QColor warn();     // orange
QColor accent(const QWidget* widget = nullptr);
QColor secondaryText(const QWidget* widget = nullptr);  // text at about 55 % alpha
QColor quaternaryFill(const QWidget* widget = nullptr); // text at about 8 % alpha

// `color` with its alpha replaced.
QColor withAlpha(QColor color, qreal alpha);

// Applies the secondary text colour to a label or any widget.
void makeSecondary(QWidget* widget);

// Drawing flags for one line of text in a rect one line high, aligned `horizontal`: centred
// vertically and never clipped to the rect, so what a font draws below its descent (the
// underscore of "Day2_A001" in some fonts) still shows.
constexpr int oneLine(Qt::AlignmentFlag horizontal) { return horizontal | Qt::AlignVCenter | Qt::TextDontClip; }

}  // namespace brindlecove::Style
