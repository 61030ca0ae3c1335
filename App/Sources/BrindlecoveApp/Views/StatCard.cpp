#include "BrindlecoveApp/Views/StatCard.hpp"

#include "BrindlecoveApp/Formats.hpp"

#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace brindlecove {

StatCard::StatCard(long long count, QString label, QString systemImage, QColor color, bool emphasized,
                   QWidget* parent)
    : QWidget(parent),
      count_(count),
      label_(std::move(label)),
      systemImage_(std::move(systemImage)),
      color_(std::move(color)),
      emphasized_(emphasized) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(4);
    layout->setContentsMargins(0, 12, 0, 12);

    auto* symbol = new QLabel(this);
    symbol->setObjectName(QStringLiteral("statCard.symbol"));
    int symbolSize = QFontMetrics(Style::font(Style::TextStyle::title3, font())).height();
    symbol->setPixmap(Symbols::pixmap(systemImage_, symbolSize, color_));
    Symbols::tag(symbol, systemImage_);

    auto* number = new QLabel(countText(), this);
    number->setObjectName(QStringLiteral("statCard.count"));
    QFont numberFont = Style::font(Style::TextStyle::title2, font());
    numberFont.setWeight(QFont::DemiBold);
    number->setFont(numberFont);
    if (countIsSecondary(count_)) Style::makeSecondary(number);

    auto* caption = new QLabel(this);
    caption->setObjectName(QStringLiteral("statCard.label"));
    caption->setTextFormat(Qt::PlainText);
    caption->setText(label_);
    caption->setFont(Style::font(Style::TextStyle::caption, font()));
    Style::makeSecondary(caption);

    for (QLabel* l : {symbol, number, caption}) {
        l->setAlignment(Qt::AlignHCenter);
        layout->addWidget(l);
    }
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QString StatCard::countText() const { return Formats::groupedInteger(count_); }

qreal StatCard::fillAlpha(long long count, bool emphasized) { return emphasized && count > 0 ? 0.14 : 0.06; }
qreal StatCard::borderAlpha(long long count, bool emphasized) { return emphasized && count > 0 ? 0.4 : 0.0; }

void StatCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, 12, 12);
    painter.fillPath(shape, Style::withAlpha(color_, fillAlpha(count_, emphasized_)));
    qreal border = borderAlpha(count_, emphasized_);
    if (border > 0) {
        painter.setPen(QPen(Style::withAlpha(color_, border), 1));
        painter.drawPath(shape);
    }
}

}  // namespace brindlecove
