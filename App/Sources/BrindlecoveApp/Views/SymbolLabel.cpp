#include "BrindlecoveApp/Views/SymbolLabel.hpp"

#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QHBoxLayout>
#include <QLabel>

namespace brindlecove {

SymbolLabel::SymbolLabel(const QString& symbol, QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    icon_ = new QLabel(this);
    icon_->setObjectName(QStringLiteral("symbolLabel.icon"));
    text_ = new QLabel(this);
    text_->setObjectName(QStringLiteral("symbolLabel.text"));
    text_->setTextFormat(Qt::PlainText);
    text_->setWordWrap(true);
    QPalette palette = text_->palette();
    palette.setColor(QPalette::WindowText, Style::secondaryText(this));
    text_->setPalette(palette);
    row->addWidget(icon_, 0, Qt::AlignTop);
    row->addWidget(text_, 1);
    setSymbol(symbol);
}

void SymbolLabel::setText(const QString& text) {
    if (text_->text() != text) text_->setText(text);
}

QString SymbolLabel::text() const { return text_->text(); }

void SymbolLabel::setSymbol(const QString& symbol) {
    if (symbol == symbol_ && !symbol.isEmpty()) return;
    symbol_ = symbol;
    Symbols::tag(this, symbol);
    refreshIcon();
}

void SymbolLabel::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    QPalette palette = text_->palette();
    palette.setColor(QPalette::WindowText, color.isValid() ? color : Style::secondaryText(this));
    text_->setPalette(palette);
    refreshIcon();
}

void SymbolLabel::setTextFont(const QFont& font) {
    text_->setFont(font);
    refreshIcon();
}

void SymbolLabel::set(const QString& symbol, const QString& text, const QColor& color, bool emphasized) {
    setSymbol(symbol);
    setColor(color);
    if (isEmphasized() != emphasized) {
        QFont font = text_->font();
        font.setWeight(emphasized ? QFont::DemiBold : QFont::Normal);
        setTextFont(font);
    }
    setText(text);
}

bool SymbolLabel::isEmphasized() const { return text_->font().weight() >= QFont::DemiBold; }

void SymbolLabel::refreshIcon() {
    icon_->setVisible(!symbol_.isEmpty());
    if (symbol_.isEmpty()) return;
    const int size = QFontMetrics(text_->font()).height();
    icon_->setPixmap(Symbols::pixmap(symbol_, size, color_.isValid() ? color_ : Style::secondaryText(this)));
}

}  // namespace brindlecove
