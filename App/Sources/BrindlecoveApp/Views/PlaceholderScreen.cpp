#include "BrindlecoveApp/Views/PlaceholderScreen.hpp"

#include "BrindlecoveApp/Views/ScreenHeader.hpp"
#include "BrindlecoveApp/Views/Style.hpp"

#include <QLabel>
#include <QVBoxLayout>

namespace brindlecove {

PlaceholderScreen::PlaceholderScreen(AppSection section, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("screen.") + rawValue(section));
    QVBoxLayout* layout = ScreenHeader::install(this, rawValue(section))->addBody();

    auto* line = new QLabel(purpose(section), this);
    line->setObjectName(QStringLiteral("screen.purpose"));
    line->setTextFormat(Qt::PlainText);
    line->setWordWrap(true);
    Style::makeSecondary(line);
    layout->addWidget(line);
    layout->addStretch(1);
}

}  // namespace brindlecove
