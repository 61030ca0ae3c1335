#include "BrindlecoveApp/Views/ScreenHeader.hpp"

#include "BrindlecoveApp/Views/Style.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

namespace brindlecove {

namespace {

// The title's inset from the screen's edges, and the body's: their left edges line up.
constexpr int sideMargin = 16;
constexpr int headerTop = 12;
constexpr int headerBottom = 4;
constexpr int bodyTop = 8;
constexpr int bodyBottom = 16;

void setBodyMargins(QVBoxLayout* body) { body->setContentsMargins(sideMargin, bodyTop, sideMargin, bodyBottom); }

}  // namespace

ScreenHeader::ScreenHeader(const QString& title, QWidget* parent, const QString& titleName) : QWidget(parent) {
    setObjectName(QStringLiteral("screen.header"));
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(sideMargin, headerTop, sideMargin, headerBottom);
    title_ = Style::screenTitle(title, this);
    title_->setObjectName(titleName);
    row_->addWidget(title_, 1, Qt::AlignLeft | Qt::AlignTop);
}

ScreenHeader* ScreenHeader::install(QWidget* screen, const QString& title, const QString& titleName) {
    auto* column = new QVBoxLayout(screen);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* header = new ScreenHeader(title, screen, titleName);
    column->addWidget(header);
    return header;
}

void ScreenHeader::setTrailing(QWidget* widget) {
    widget->setParent(this);
    row_->addWidget(widget, 0, Qt::AlignRight | Qt::AlignTop);
}

QVBoxLayout* ScreenHeader::screenColumn() const {
    return qobject_cast<QVBoxLayout*>(parentWidget()->layout());
}

QVBoxLayout* ScreenHeader::addBody() {
    auto* body = new QVBoxLayout;
    setBodyMargins(body);
    // The screen's column is gap-free; the body keeps the style's spacing, as its own widget would.
    body->setSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing, nullptr, this));
    screenColumn()->addLayout(body, 1);
    return body;
}

ScreenHeader::ScrollingBody ScreenHeader::scrollingBody(QWidget* parent) {
    auto* scroll = new QScrollArea(parent);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    setBodyMargins(column);
    scroll->setWidget(content);
    return {scroll, column};
}

QVBoxLayout* ScreenHeader::addScrollingBody() {
    ScrollingBody body = scrollingBody(parentWidget());
    screenColumn()->addWidget(body.area, 1);
    return body.column;
}

}  // namespace brindlecove
