#include "BrindlecoveApp/Views/PlaceholderScreen.hpp"

#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QLabel>
#include <QVBoxLayout>

namespace brindlecove {

PlaceholderScreen::PlaceholderScreen(AppSection section, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("screen.") + rawValue(section));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(8);

    auto* header = new QHBoxLayout;
    auto* symbol = new QLabel(this);
    int size = QFontMetrics(Style::font(Style::TextStyle::title, font())).height();
    symbol->setPixmap(Symbols::pixmap(symbolName(section), size, Style::accent(this)));
    Symbols::tag(symbol, symbolName(section));
    header->addWidget(symbol);
    auto* title = new QLabel(rawValue(section), this);
    title->setObjectName(QStringLiteral("screen.title"));
    title->setTextFormat(Qt::PlainText);
    QFont titleFont = Style::font(Style::TextStyle::title, font());
    titleFont.setBold(true);
    title->setFont(titleFont);
    header->addWidget(title, 1);
    layout->addLayout(header);

    auto* line = new QLabel(purpose(section), this);
    line->setObjectName(QStringLiteral("screen.purpose"));
    line->setTextFormat(Qt::PlainText);
    line->setWordWrap(true);
    Style::makeSecondary(line);
    layout->addWidget(line);
    layout->addStretch(1);
}

}  // namespace brindlecove
