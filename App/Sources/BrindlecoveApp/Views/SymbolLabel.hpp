#pragma once
// A label with a leading symbol: a small icon in the text's colour and word-wrapped plain
// text. A word too long for the width (a card folder's name without spaces) wraps inside
// itself instead of widening the form. In one-line mode the text is cut in the middle
// instead, with the whole text as the tooltip. text() is always the whole text. The symbol
// name is recorded on the widget (property "symbol") for tests. Main thread.

#include <QColor>
#include <QWidget>

class QLabel;

namespace brindlecove {

class ElidedLabel;

class SymbolLabel : public QWidget {
    Q_OBJECT
public:
    explicit SymbolLabel(const QString& symbol = QString(), QWidget* parent = nullptr);

    // Replaces the text only when it differs (no relayout for repeated values).
    void setText(const QString& text);
    QString text() const { return text_; }
    // One line, cut in the middle when too wide (names in lists). Call before setText.
    void setOneLine();
    void setSymbol(const QString& symbol);
    QString symbol() const { return symbol_; }
    // The text and icon colour; invalid: the secondary text colour.
    void setColor(const QColor& color);
    QColor color() const { return color_; }
    void setTextFont(const QFont& font);
    // Sets symbol, text and colour at once, the text semibold when `emphasized` (the banner
    // weight of the erase screens).
    void set(const QString& symbol, const QString& text, const QColor& color, bool emphasized = false);
    bool isEmphasized() const;

private:
    void refreshIcon();

    QLabel* icon_ = nullptr;
    QLabel* label_ = nullptr;       // the shown text: wrapped, or an ElidedLabel
    ElidedLabel* line_ = nullptr;   // set in one-line mode
    QString text_;
    QString symbol_;
    QColor color_;
};

}  // namespace brindlecove
