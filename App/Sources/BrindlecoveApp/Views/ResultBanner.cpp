#include "BrindlecoveApp/Views/ResultBanner.hpp"

#include "BrindlecoveApp/Views/Style.hpp"
#include "BrindlecoveApp/Views/Symbols.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QVBoxLayout>

namespace brindlecove {

QString ResultBanner::symbolFor(Tone tone) {
    switch (tone) {
        case Tone::good: return QStringLiteral("checkmark.seal.fill");
        case Tone::bad: return QStringLiteral("exclamationmark.triangle.fill");
        case Tone::warn: return QStringLiteral("exclamationmark.circle.fill");
        case Tone::neutral: break;
    }
    return QStringLiteral("info.circle.fill");
}

QColor ResultBanner::colorFor(Tone tone, const QWidget* widget) {
    switch (tone) {
        case Tone::good: return Style::good();
        case Tone::bad: return Style::bad();
        case Tone::warn: return Style::warn();
        case Tone::neutral: break;
    }
    return Style::secondaryText(widget);
}

ResultBanner::ResultBanner(Tone tone, QString title, std::optional<QString> subtitle, QWidget* parent)
    : QWidget(parent), tone_(tone) {
    auto* row = new QHBoxLayout(this);
    row->setSpacing(12);
    int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    row->setContentsMargins(margin, margin, margin, margin);

    auto* symbol = new QLabel(this);
    symbol->setObjectName(QStringLiteral("banner.symbol"));
    int size = QFontMetrics(Style::font(Style::TextStyle::title, font())).height();
    symbol->setPixmap(Symbols::pixmap(symbolFor(tone), size, colorFor(tone, this)));
    Symbols::tag(symbol, symbolFor(tone));
    row->addWidget(symbol, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* titleLabel = new QLabel(this);
    titleLabel->setObjectName(QStringLiteral("banner.title"));
    titleLabel->setTextFormat(Qt::PlainText);
    titleLabel->setText(title);
    titleLabel->setWordWrap(true);  // a long verdict wraps rather than widening the screen
    titleLabel->setFont(Style::font(Style::TextStyle::headline, font()));
    texts->addWidget(titleLabel);
    if (subtitle) {
        auto* subtitleLabel = new QLabel(this);
        subtitleLabel->setObjectName(QStringLiteral("banner.subtitle"));
        subtitleLabel->setTextFormat(Qt::PlainText);
        subtitleLabel->setText(*subtitle);
        subtitleLabel->setWordWrap(true);
        subtitleLabel->setFont(Style::font(Style::TextStyle::subheadline, font()));
        Style::makeSecondary(subtitleLabel);
        texts->addWidget(subtitleLabel);
    }
    row->addLayout(texts, 1);
}

void ResultBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 12, 12);
    painter.fillPath(shape, Style::withAlpha(colorFor(tone_, this), 0.1));
}

}  // namespace brindlecove
