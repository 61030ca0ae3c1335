#include "BrindlecoveApp/Views/SymbolLabel.hpp"

#include "BrindlecoveApp/Views/ElidedLabel.hpp"
#include "BrindlecoveApp/Views/FormText.hpp"
#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>

namespace brindlecove {

SymbolLabel::SymbolLabel(const QString& symbol, QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    icon_ = new QLabel(this);
    icon_->setObjectName(QStringLiteral("symbolLabel.icon"));
    label_ = new QLabel(this);
    label_->setObjectName(QStringLiteral("symbolLabel.text"));
    label_->setTextFormat(Qt::PlainText);
    label_->setWordWrap(true);
    QPalette palette = label_->palette();
    palette.setColor(QPalette::WindowText, Style::secondaryText(this));
    label_->setPalette(palette);
    row->addWidget(icon_, 0, Qt::AlignTop);
    row->addWidget(label_, 1);
    setSymbol(symbol);
}

void SymbolLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    if (line_)
        line_->setFullText(text);
    else
        label_->setText(FormText::breakable(text));
}

void SymbolLabel::setOneLine() {
    if (line_) return;
    line_ = new ElidedLabel(this);
    line_->setObjectName(label_->objectName());
    line_->setPalette(label_->palette());
    line_->setFont(label_->font());
    layout()->replaceWidget(label_, line_);
    delete label_;
    label_ = line_;
    line_->setFullText(text_);
}

void SymbolLabel::setSymbol(const QString& symbol) {
    if (symbol == symbol_ && !symbol.isEmpty()) return;
    symbol_ = symbol;
    Symbols::tag(this, symbol);
    refreshIcon();
}

void SymbolLabel::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    QPalette palette = label_->palette();
    palette.setColor(QPalette::WindowText, color.isValid() ? color : Style::secondaryText(this));
    label_->setPalette(palette);
    refreshIcon();
}

void SymbolLabel::setTextFont(const QFont& font) {
    label_->setFont(font);
    refreshIcon();
}

void SymbolLabel::set(const QString& symbol, const QString& text, const QColor& color, bool emphasized) {
    setSymbol(symbol);
    setColor(color);
    if (isEmphasized() != emphasized) {
        QFont font = label_->font();
        font.setWeight(emphasized ? QFont::DemiBold : QFont::Normal);
        setTextFont(font);
    }
    setText(text);
}

bool SymbolLabel::isEmphasized() const { return label_->font().weight() >= QFont::DemiBold; }

void SymbolLabel::refreshIcon() {
    icon_->setVisible(!symbol_.isEmpty());
    if (symbol_.isEmpty()) return;
    const int size = QFontMetrics(label_->font()).height();
    icon_->setPixmap(Symbols::pixmap(symbol_, size, color_.isValid() ? color_ : Style::secondaryText(this)));
}

}  // namespace brindlecove
